#include "tarvex_main.h"

#include "mainwindow.h"
#include "qtlog.h"
#include "single_application.h"
#include "startup.h"

#include <QApplication>
#include <memory>

int tarvex_main(int argc, char **argv)
{
    const StartupFlags flags = startup_prepare(argc, argv);
    // The web engine shares its GL contexts with the widgets.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    std::unique_ptr<QApplication> app;
    if (flags.singleApp) {
        auto single = std::make_unique<SingleApplication>(argc, argv);
        if (single->isRunning())
            return 0;
        app = std::move(single);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
    }
    qtlog_claim();
    auto window = std::make_unique<MainWindow>();
    if (auto *single = qobject_cast<SingleApplication *>(app.get()))
        single->setWindow(window.get());
    window->show();
    const int rc = app->exec();
    window.reset();
    app.reset();
    return rc;
}
