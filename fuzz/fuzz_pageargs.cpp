// Fuzzes the readers of what the dispatcher page passes to the page
// object's slots: invitations, encryption, accounts, id lists, the bulk
// download list, the upload's form fields, coded file names, the video
// commands, and the record service's request and reply. Only the readers
// run: no slot, so no transfer starts, no dialog opens, no file is written.
//
// Input: a selector byte, then the text (UTF-8) the page would pass.
#include "pageargs.h"
#include "record_service.h"
#include "transfer_args.h"
#include "video_commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QString>
#include <QUrl>
#include <QtGlobal>
#include <stdint.h>

namespace
{

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

} // namespace

// Qt 5.15 keeps the value a repeated JSON object key replaces: its own leak,
// inside QJsonDocument::fromJson whatever the caller does. Naming that frame
// needs full stacks for every allocation.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:QJsonDocument::fromJson\n";
}

extern "C" const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), static_cast<int>(size - 1));
    const QString text = QString::fromUtf8(bytes);
    switch (data[0] % 10) {
    case 0: {
        InviteArgs a;
        if (ParseInviteArgs(text, &a, "SendInvite", __LINE__))
            (void)a.msg.toUtf8();
        break;
    }
    case 1: {
        EncryptionArgs a;
        if (ParseEncryptionArgs(text, &a, "AudioEncryp", __LINE__))
            (void)a.key.toUtf8();
        break;
    }
    case 2: {
        const AccountArgs a = ParseAccountArgs(text);
        check(a.hasName || a.name.isEmpty());
        check(a.hasRole || a.role == 0);
        break;
    }
    case 3: {
        // The lists of ids the slots take as arrays.
        const QJsonArray array = QJsonDocument::fromJson(bytes).array();
        check(PageIds(array).size() == array.size());
        break;
    }
    case 4: {
        QVector<DownloadBulkItem> items;
        if (transfer::parseBulkItems(text, &items)) {
            check(!items.isEmpty());
            for (const DownloadBulkItem &i : items) {
                check(transfer::isPlainName(i.fileName) && transfer::isPlainName(i.outfileName));
                check(i.fileName != i.outfileName);
                check(!i.fileName.contains(QLatin1Char('/')));
            }
        }
        break;
    }
    case 5:
        (void)transfer::uploadFields(text);
        break;
    case 6: {
        const QString suffix = transfer::codedSuffix(text);
        check(suffix.isEmpty() || text.endsWith(suffix));
        break;
    }
    case 7: {
        QStringList urls;
        (void)video_commands::appendPullUrls(text, urls);
        video_commands::TableLabels labels;
        (void)video_commands::parseTableLabels(text, &labels);
        break;
    }
    case 8: {
        // The page's file name and account, and what the service answers.
        const QStringList parts = text.split(QChar(0));
        const RecordService s = RecordService::fromSettings(
            parts.value(3), QString(), QUrl(QStringLiteral("http://127.0.0.1/")));
        (void)s.requestBody(parts.value(0), parts.value(1), parts.value(2));
        (void)recordServiceDownloadPath(bytes);
        break;
    }
    default: {
        QJsonObject o;
        (void)ParsePageJson(text, &o, "slot", __LINE__);
        break;
    }
    }
    return 0;
}
