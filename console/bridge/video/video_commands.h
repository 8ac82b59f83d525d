#pragma once

#include <QString>
#include <QStringList>

// What the page's video and window commands carry as JSON.
namespace video_commands
{

// A pull-URL list: a JSON array of objects whose "url" strings are appended
// to list in array order (an element without a string "url" gives an empty
// URL; a JSON object counts as an empty array). False, with nothing
// appended, for text that is not JSON.
bool appendPullUrls(const QString &json, QStringList &list);

// The labels of the video windows the page may rename; a key counts only
// with a string value, else its label is empty.
struct TableLabels {
    QString back;       // "video_back"
    QString history;    // "video_history"
    QString mute;       // "video_mute"
    QString close;      // "video_close"
    QString single;     // "video_single"
    QString multi;      // "video_MultiScreen"
    QString high;       // "video_highDefinition"
    QString standard;   // "video_standardDefinition"
    QString fluency;    // "video_fluency"
    QStringList logged; // one line per label found, in key order
};

// False for text that is not JSON; an array gives nine empty labels.
bool parseTableLabels(const QString &json, TableLabels *labels);

} // namespace video_commands
