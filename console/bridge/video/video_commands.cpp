#include "video_commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace video_commands
{

namespace
{

bool parse(const QString &json, QJsonDocument *doc)
{
    QJsonParseError err;
    *doc = QJsonDocument::fromJson(json.toUtf8(), &err);
    return !doc->isNull() && err.error == QJsonParseError::NoError;
}

} // namespace

bool appendPullUrls(const QString &json, QStringList &list)
{
    QJsonDocument doc;
    if (!parse(json, &doc))
        return false;
    for (const QJsonValue &v : doc.array()) {
        const QJsonValue url = v.toObject().value(QStringLiteral("url"));
        list << (url.isString() ? url.toString() : QString(""));
    }
    return true;
}

bool parseTableLabels(const QString &json, TableLabels *labels)
{
    QJsonDocument doc;
    if (!parse(json, &doc))
        return false;
    *labels = TableLabels();
    if (!doc.isObject())
        return true;
    const QJsonObject o = doc.object();
    const struct {
        const char *key;
        const char *log;
        QString TableLabels::*field;
    } keys[] = {
        {"video_back", "videoback : ", &TableLabels::back},
        {"video_history", "videohistory : ", &TableLabels::history},
        {"video_mute", "videomute : ", &TableLabels::mute},
        {"video_close", "videoclose : ", &TableLabels::close},
        {"video_single", "videosingle : ", &TableLabels::single},
        {"video_MultiScreen", "videomuitscreen : ", &TableLabels::multi},
        {"video_highDefinition", "videohigh : ", &TableLabels::high},
        {"video_standardDefinition", "videostand : ", &TableLabels::standard},
        {"video_fluency", "videofluency : ", &TableLabels::fluency},
    };
    for (const auto &k : keys) {
        const QJsonValue v = o.value(QLatin1String(k.key));
        if (!v.isString())
            continue;
        labels->*(k.field) = v.toString();
        labels->logged << QString::fromLatin1(k.log) + v.toString();
    }
    return true;
}

} // namespace video_commands
