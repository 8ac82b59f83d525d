#include "path_chooser.h"

#include <QFileDialog>

QString DialogPathChooser::saveFileName(const QString &caption, const QString &proposed,
                                        const QString &filter)
{
    return QFileDialog::getSaveFileName(nullptr, caption, proposed, filter);
}

QString DialogPathChooser::openFileName(const QString &caption, const QString &dir,
                                        const QString &filter)
{
    return QFileDialog::getOpenFileName(nullptr, caption, dir, filter);
}
