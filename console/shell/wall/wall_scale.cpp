#include "wall_scale.h"

#include <QGuiApplication>
#include <QScreen>

float wallScale()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1.0f;
    return float(screen->availableGeometry().width() / 1920.0);
}
