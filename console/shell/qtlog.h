// The Qt message log "qtlog.txt": one file for the whole process, written by
// messageHandler from any thread that logs. Owner: the process; main opens
// it, MainWindow's destructor closes it.
#pragma once

#include <QDebug>
#include <QString>
#include <QtGlobal>
#include <cstdint>

// Records written before the file starts again from its beginning.
constexpr uint32_t QTLOG_WRAP_RECORDS = 500000;

// Opens (creates) the log file; a file that cannot be opened only loses its
// records: false then. claim: empty it at once. Otherwise records wait in
// memory until qtlog_claim, so a second start that ends at once (another
// instance runs) leaves the running one's log alone.
bool qtlog_open(const QString &path = QStringLiteral("qtlog.txt"), bool claim = true);
// The log is this process's: empties the file and writes the waiting records.
void qtlog_claim();
// Closes the file under the handler's lock, so no record is cut in half.
void qtlog_close();
// Installs messageHandler as the process-wide Qt message handler.
void qtlog_install();

// Test hook: the records written since the file was last started from 0.
uint32_t qtlog_record_count();
void qtlog_set_record_count(uint32_t count);

// "%1 %2\t %3\t": severity prefix, local time, message.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

// One log line's head: "Class::function:line\t", as every console log call
// starts. SHELL_LOG() << ... then adds the words.
QString qtlog_where(const char *function, int line);
#define SHELL_LOG() qDebug().noquote() << qtlog_where(Q_FUNC_INFO, __LINE__)
