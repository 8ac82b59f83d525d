#include "pageargs.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonParseError>
#include <cmath>

uint32_t PageId(const QJsonValue &v)
{
    if (!v.isDouble())
        return 0;
    double d = std::trunc(v.toDouble());
    // Only values a 64-bit integer holds are cut to 32 bits; the rest
    // (infinities, NaN, 1e30) would be undefined to convert.
    if (!std::isfinite(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
        return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(d)));
}

QVector<uint32_t> PageIds(const QJsonArray &array)
{
    QVector<uint32_t> ids;
    ids.reserve(array.size());
    for (const QJsonValue &v : array)
        ids.append(PageId(v));
    return ids;
}

bool ParsePageJson(const QString &json, QJsonObject *out, const char *slot, int line)
{
    if (json.isEmpty()) {
        qDebug().noquote()
            << QStringLiteral("JsContext::%1:%2\t").arg(QLatin1String(slot)).arg(line)
            << "json is null";
        return false;
    }
    QJsonParseError err;
    QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8(), &err);
    if (doc.isNull() || err.error != QJsonParseError::NoError)
        return false;
    *out = doc.object();
    return true;
}

bool ParseInviteArgs(const QString &json, InviteArgs *out, const char *slot, int line)
{
    QJsonObject o;
    if (!ParsePageJson(json, &o, slot, line))
        return false;
    out->ids = PageIds(o.value(QStringLiteral("invites")).toArray());
    out->withAudio = o.value(QStringLiteral("with_audio")).toBool();
    out->withVideo = o.value(QStringLiteral("with_video")).toBool();
    out->fullDuplex = o.value(QStringLiteral("is_full_duplex")).toBool();
    out->msg = o.value(QStringLiteral("msg")).toString();
    return true;
}

bool ParseEncryptionArgs(const QString &json, EncryptionArgs *out, const char *slot, int line)
{
    QJsonObject o;
    if (!ParsePageJson(json, &o, slot, line))
        return false;
    out->targets = PageIds(o.value(QStringLiteral("encryp_targets")).toArray());
    out->scope = o.value(QStringLiteral("encryp_scope")).toInt(0);
    out->type = o.value(QStringLiteral("encryp_type")).toString();
    out->key = o.value(QStringLiteral("encryp_key")).toString();
    return true;
}

AccountArgs ParseAccountArgs(const QString &json)
{
    AccountArgs a;
    const QJsonObject o = QJsonDocument::fromJson(json.toUtf8()).object();
    const QJsonValue name = o.value(QStringLiteral("Name"));
    if (name.isString()) {
        a.name = name.toString();
        a.hasName = true;
    }
    const QJsonValue password = o.value(QStringLiteral("Password"));
    if (password.isString()) {
        a.password = password.toString();
        a.hasPassword = true;
    }
    const QJsonValue role = o.value(QStringLiteral("Role"));
    if (role.isDouble()) {
        a.role = role.toInt();
        a.hasRole = true;
    }
    return a;
}
