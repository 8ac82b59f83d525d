#include "qtlog.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QTextStream>

namespace
{

// g_log_file and g_record_count are guarded by log_lock(); the file lives
// from main to the main window's destructor.
QFile g_log_file;
uint32_t g_record_count = 0;
// False from an unclaimed open to qtlog_claim: records wait in g_pending.
bool g_claimed = true;
QStringList g_pending;
constexpr int k_pending_max = 10000;

void write_record(const QString &record)
{
    if (g_record_count > QTLOG_WRAP_RECORDS) {
        // Start again from an empty file; the record that wraps is kept.
        g_log_file.resize(0);
        g_log_file.seek(0);
        g_record_count = 0;
    }
    QTextStream out(&g_log_file);
    out.setCodec("UTF-8");
    out << record;
    out.flush();
    g_log_file.flush();
    g_record_count++;
}

QMutex &log_lock()
{
    static QMutex lock; // thread-safe one-time initialisation
    return lock;
}

const char *prefix_of(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "[Debug] ";
    case QtWarningMsg:
        return "[Warning] ";
    case QtCriticalMsg:
        return "[Critical] ";
    case QtFatalMsg:
        return "[Fatal] ";
    default:
        return "";
    }
}

} // namespace

bool qtlog_open(const QString &path, bool claim)
{
    QMutexLocker hold(&log_lock());
    if (g_log_file.isOpen())
        g_log_file.close();
    g_log_file.setFileName(path);
    g_record_count = 0;
    g_pending.clear();
    g_claimed = false;
    const bool opened = g_log_file.open(QIODevice::ReadWrite);
    hold.unlock();
    if (claim)
        qtlog_claim();
    return opened;
}

void qtlog_claim()
{
    QMutexLocker hold(&log_lock());
    if (g_claimed)
        return;
    g_claimed = true;
    // Emptied: an older, longer run must not leave its tail behind ours.
    if (g_log_file.isOpen()) {
        g_log_file.resize(0);
        g_log_file.seek(0);
        for (const QString &record : g_pending)
            write_record(record);
    }
    g_pending.clear();
}

void qtlog_close()
{
    QMutexLocker hold(&log_lock());
    g_log_file.close();
    g_pending.clear();
}

void qtlog_install()
{
    qInstallMessageHandler(messageHandler);
}

uint32_t qtlog_record_count()
{
    QMutexLocker hold(&log_lock());
    return g_record_count;
}

void qtlog_set_record_count(uint32_t count)
{
    QMutexLocker hold(&log_lock());
    g_record_count = count;
}

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    (void)context;
    QMutexLocker hold(&log_lock());
    QString text = message;
    // Qt's own and the page's messages carry no line break: without one the
    // whole log would run into a single line.
    if (!text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    const QString record =
        QStringLiteral("%1 %2\t %3\t")
            .arg(QLatin1String(prefix_of(type)),
                 QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                 text);
    if (!g_log_file.isOpen())
        return;
    if (!g_claimed) {
        if (g_pending.size() < k_pending_max)
            g_pending.append(record);
        return;
    }
    write_record(record);
}

QString qtlog_where(const char *function, int line)
{
    // Q_FUNC_INFO holds the return type and the parameter list; the log
    // names the qualified function alone.
    QString name = QString::fromLatin1(function);
    const int paren = name.indexOf(QLatin1Char('('));
    if (paren >= 0)
        name.truncate(paren);
    const int space = name.lastIndexOf(QLatin1Char(' '));
    if (space >= 0)
        name = name.mid(space + 1);
    while (name.startsWith(QLatin1Char('*')) || name.startsWith(QLatin1Char('&')))
        name.remove(0, 1);
    return QStringLiteral("%1:%2\t").arg(name).arg(line);
}
