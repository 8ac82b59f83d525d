#include "tarvex_main.h"

#include "mainwindow.h"
#include "qtlog.h"
#include "quit_signals.h"
#include "single_application.h"
#include "startup.h"

#include <QApplication>
#include <QPointer>
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
    // Ctrl-C and a plain kill close the window as its close button does, so
    // the page logs out before the program ends.
    QPointer<MainWindow> target(window.get());
    if (quit_signals_install([target] {
            if (target)
                target->close();
        }) != 0)
        SHELL_LOG() << "SIGINT and SIGTERM keep their default action";
    const int rc = app->exec();
    quit_signals_remove();
    window.reset();
    app.reset();
    return rc;
}
