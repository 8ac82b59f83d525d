#pragma once

// What the page hands the transfer slots, read into plain values before a
// transfer starts: the bulk list, the upload's form fields and the kind of a
// coded file name. Nothing here touches the network or a file.

#include <QByteArray>
#include <QString>
#include <QVector>

// One item of a bulk request: where to fetch it, the coded file's name and
// the WAV file's name, both plain names inside the Documents folder.
struct DownloadBulkItem {
    QString url;
    QString fileName;
    QString outfileName;
};

namespace transfer
{

// A name usable inside the working folder: no folder part, not "." or "..".
bool isPlainName(const QString &name);

// A bulk list: a non-empty JSON array of {"url", "fileName", "outfileName"}
// whose names are plain and distinct per item. False, with out untouched,
// for anything else.
bool parseBulkItems(const QString &json, QVector<DownloadBulkItem> *out);

// One part of the upload form besides the recording.
struct FormField {
    QString name;
    QByteArray body;
};

// The upload's form fields: every member of a JSON object, its value as
// text; none for text that is not a JSON object.
QVector<FormField> uploadFields(const QString &json);

// ".evrc", ".sevrc", ".amr" or ".samr" (case-sensitive) when the name ends so.
QString codedSuffix(const QString &name);

} // namespace transfer
