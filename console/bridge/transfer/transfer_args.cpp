#include "transfer_args.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace transfer
{

bool isPlainName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

bool parseBulkItems(const QString &json, QVector<DownloadBulkItem> *out)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8(), &err);
    if (doc.isNull() || err.error != QJsonParseError::NoError || doc.array().isEmpty()) {
        qDebug() << "BulkDownload::parsejsonUrl: jsonurl content is null";
        return false;
    }
    QVector<DownloadBulkItem> parsed;
    for (const QJsonValue &v : doc.array()) {
        const QJsonObject o = v.toObject();
        DownloadBulkItem item{o.value(QStringLiteral("url")).toString(),
                              o.value(QStringLiteral("fileName")).toString(),
                              o.value(QStringLiteral("outfileName")).toString()};
        // The names are joined to the Documents folder, and the coded file is
        // deleted after decoding: only plain, distinct names stay inside it.
        if (!isPlainName(item.fileName) || !isPlainName(item.outfileName) ||
            item.fileName == item.outfileName) {
            qDebug() << "BulkDownload::parsejsonUrl: refused file names" << item.fileName
                     << item.outfileName;
            return false;
        }
        parsed.append(item);
    }
    *out = parsed;
    return true;
}

QVector<FormField> uploadFields(const QString &json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8());
    if (doc.isNull())
        qDebug() << "JsContext::getJsonObjectFromString: ===> please check the string " << json;
    const QJsonObject fields = doc.object();
    QVector<FormField> out;
    for (auto it = fields.begin(); it != fields.end(); ++it)
        out.append(FormField{it.key(), it.value().toString().toUtf8()});
    return out;
}

QString codedSuffix(const QString &name)
{
    static const char *const kinds[] = {".sevrc", ".evrc", ".amr", ".samr"};
    for (const char *k : kinds) {
        if (name.endsWith(QLatin1String(k)))
            return QString::fromLatin1(k);
    }
    return QString();
}

} // namespace transfer
