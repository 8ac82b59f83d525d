#pragma once

// What the dispatcher page passes to the page object's slots as JSON or
// text, read into plain values before a slot acts on them. Nothing here
// calls the engine, starts a transfer or touches a file, so the readers can
// be tested and fuzzed on their own.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QVector>
#include <cstdint>

// A page's id as the engine takes it: a number truncated toward zero, cut to
// its low 32 bits; anything else (text, NaN, infinities, values beyond 64
// bits) is 0.
uint32_t PageId(const QJsonValue &v);
QVector<uint32_t> PageIds(const QJsonArray &array);

// Parses the page's JSON text into an object (a JSON array gives an empty
// one); false for empty text or text that does not parse. An empty text is
// logged under the slot's name and line.
bool ParsePageJson(const QString &json, QJsonObject *out, const char *slot, int line);

// SendInvite: {"invites": [ids], "with_audio", "with_video",
// "is_full_duplex": booleans, "msg": text}.
struct InviteArgs {
    QVector<uint32_t> ids;
    bool withAudio = false;
    bool withVideo = false;
    bool fullDuplex = false;
    QString msg;
};
bool ParseInviteArgs(const QString &json, InviteArgs *out, const char *slot, int line);

// AudioEncryp and CloseAudioEncryp: {"encryp_targets": [ids],
// "encryp_scope": number, "encryp_type": text, "encryp_key": text}.
struct EncryptionArgs {
    QVector<uint32_t> targets;
    int scope = 0;
    QString type;
    QString key;
};
bool ParseEncryptionArgs(const QString &json, EncryptionArgs *out, const char *slot, int line);

// SaveAccount: {"Name": text, "Password": text, "Role": number}; a member of
// another type counts as missing. Text that is not JSON gives empty values.
struct AccountArgs {
    QString name;
    QString password;
    int role = 0;
    bool hasName = false;
    bool hasPassword = false;
    bool hasRole = false;
};
AccountArgs ParseAccountArgs(const QString &json);
