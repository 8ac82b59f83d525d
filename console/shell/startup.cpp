#include "startup.h"

#include "crash_handler.h"
#include "qtlog.h"
#include "shell_config.h"

#include <QtGlobal>

bool startup_flag_on(const QString &value)
{
    return value == QLatin1String("1");
}

void startup_store_arguments(int argc, char **argv)
{
    if (argc < 3)
        return;
    shell_config_set(QStringLiteral("/account/user"), QString::fromUtf8(argv[1]));
    shell_config_set(QStringLiteral("/account/password"), QString::fromUtf8(argv[2]));
    // With two arguments the role is a null string, which is not written:
    // an earlier role stays.
    shell_config_set(QStringLiteral("/account/role"),
                     argc > 3 ? QString::fromUtf8(argv[3]) : QString());
}

StartupFlags startup_prepare(int argc, char **argv)
{
    (void)qtlog_open(QStringLiteral("qtlog.txt"), false);
    (void)CrashHandler::instance()->init(QStringLiteral("."));
    StartupFlags flags;
    flags.qtlog = startup_flag_on(shell_config_value(QStringLiteral("/Qt/qtlog/")));
    flags.singleApp = startup_flag_on(shell_config_value(QStringLiteral("/Qt/singleapp/")));
    // Installed first, so storing the password says in the log when it
    // narrows the settings file's mode.
    if (flags.qtlog)
        qtlog_install();
    startup_store_arguments(argc, argv);
    qputenv("ComSpec", "./qt_cmd.exe");
    return flags;
}
