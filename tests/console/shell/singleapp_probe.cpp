// A program on the single-instance guard with a window that starts hidden:
// prints "listening" once it guards, "shown" when another instance brings its
// window up, and ends after a minute at the latest.
#include "sanitizer_options.h"
#include "single_application.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace
{

class ShowProbe : public QWidget
{
  protected:
    void showEvent(QShowEvent *event) override
    {
        printf("shown\n");
        fflush(stdout);
        QWidget::showEvent(event);
    }
};

} // namespace

int main(int argc, char **argv)
{
    SingleApplication app(argc, argv);
    if (app.isRunning())
        return 0;
    ShowProbe window;
    app.setWindow(&window);
    if (app.isGuarding()) {
        printf("listening\n");
        fflush(stdout);
    }
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    return app.exec();
}
