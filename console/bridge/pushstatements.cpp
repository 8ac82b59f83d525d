#include "pushstatements.h"

#include <QtGlobal>

namespace
{

// In PushId order.
const PushTemplate kTemplates[] = {
    {"CloseVideoSingel", "CloseVideoSingelX();", ""},
    {"GetUrllist", "OnGetUrllistX(\"%1\");", "I"},
    {"SendPlayLocalFileStatus", "SendPlayLocalFileStatusX(\"%1\");", "I"},
    {"StarSendInviteAck", "OnSendInviteAckX('%1');", "T"},
    {"StarSendInviteTimeOut", "OnSendInviteTimeOutX();", ""},
    {"StarSendPushInvite", "OnSendPushInviteX(\"%1\", \"%2\", \"%3\", \"%4\", \"%5\", \"%6\");",
     "LUUUTU"},
    {"StarSendPushResponseInvite", "OnSendPushResponseInviteX(\"%1\", \"%2\", \"%3\", \"%4\");",
     "LUUU"},
    {"StarSendResponseInviteAck", "OnSendResponseInviteAckX('%1');", "U"},
    {"StarSendResponseInviteTimeOut", "OnSendResponseInviteTimeOutX();", ""},
    {"closeMainwindow", "closeMainwindowX();", ""},
    {"closeStrongPull", "closeStrongPullX(\"%1\", \"%2\");", "TI"},
    {"closevideocontainercb", "closevideocontainerX();", ""},
    {"getrecordhistory", "getrecordhistoryX();", ""},
    {"sendAddWatchGroup", "onAddWatchGropX('%1');", "T"},
    {"sendAudioEnableChanged", "onAudioEnableChangedX(\"%1\");", "B"},
    {"sendAudioEnabled", "onAudioEnabledX('%1');", "T"},
    {"sendBroadcastPlayAsyncStop", "OnPlayStopX();", ""},
    {"sendChangeName", "onChangeNameResultX(\"%1\");", "B"},
    {"sendChangePassword", "onChangePasswordResultX(\"%1\");", "B"},
    {"sendCurrentGroupChanged", "onCurrentGroupX(\"%1\", \"%2\");", "IT"},
    {"sendDispatched", "onDispatchedX('%1');", "T"},
    {"sendDownBulkMessage", "OnDownBulkMessageX('%1');", "T"},
    {"sendEndRecordFile", "onStopRecordX(\"%1\", \"%2\", \"%3\", \"%4\", \"%5\");", "BUUTT"},
    {"sendExternalMessagep", "OnExternalMessagepX('%1');", "T"},
    {"sendGetWatchGroup", "onGetWatchGroupX('%1');", "T"},
    {"sendGroupList", "onGroupListX();", ""},
    {"sendHttpDownload", "OnHttpDownLoadX(\"%1\", \"%2\");", "TI"},
    {"sendHttpDownloadStatus", "OnHttpDownLoadStatusX(\"%1\", \"%2\");", "TI"},
    {"sendHttpUpload", "OnHttpUpLoadX(\"%1\", \"%2\");", "TI"},
    {"sendMemberChanged", "onMemberChangedX('%1');", "T"},
    {"sendMemberList", "onMemberListX(\"%1\");", "U"},
    {"sendPlayRecordFileEnd", "onStopPalyRecordX();", ""},
    {"sendPocError", "onErrorX(\"%1\" , \"%2\");", "TI"},
    {"sendPocStatus", "onOnlineStatusChangedX('%1');", "I"},
    {"sendQueryDepartmentack", "OngetallgrouopsackX();", ""},
    {"sendQueryEncrypAck", "sendQueryEncrypAckX(\"%1\");", "I"},
    {"sendQueryEncrypTimeout", "sendQueryEncrypTimeout();", ""},
    {"sendRmWatchGroup", "onRmWatchGropX('%1');", "T"},
    {"sendSendCallback", "onSendedX(\"%1\");", "B"},
    {"sendSpeakInfo", "onStartSpeakX(\"%1\" , \"%2\");", "UT"},
    {"sendStartPlayingInfo", "onStartPlayingX(\"%1\" , \"%2\" , \"%3\" , \"%4\");", "UTUT"},
    {"sendStartRecordFile", "onStartRecordX(\"%1\", \"%2\", \"%3\", \"%4\");", "UUTT"},
    {"sendStartWatchGroup", "onStartWatchGroupX('%1');", "U"},
    {"sendStopInfo", "onStopSpeakX(\"%1\" , \"%2\");", "UT"},
    {"sendStopPlayingInfo", "onStopPlayingX(\"%1\" , \"%2\" , \"%3\" , \"%4\");", "UTUT"},
    {"sendSwitchLocation", "onSwitchLocationX('%1');", "T"},
    {"sendTakeMic", "onTakeMicX(\"%1\");", "B"},
    {"sendUserChanged", "onUserChangedX(\"%1\" , '%2');", "IT"},
    {"sendUserSpeakInfo", "onUserStartSpeakX(\"%1\" , \"%2\" , \"%3\" , \"%4\");", "UTUT"},
    {"sendUserStopInfo", "onUserStopSpeakX(\"%1\" , \"%2\" , \"%3\" , \"%4\");", "UTUT"},
    {"sendcloseSOs", "sendcloseSOsX(\"%1\");", "I"},
    {"sendprocessSOs", "sendprocessSosX(\"%1\");", "I"},
    {"sendsosAlarm", "sendsosAlarmX('%1');", "T"},
    {"videoinformationstop", "videoinformationstopX(\"%1\");", "T"},
    {"videosizechange", "videosizechangeX(\"%1\", \"%2\");", "TT"},
};
static_assert(sizeof(kTemplates) / sizeof(kTemplates[0]) == static_cast<size_t>(PushId::Count),
              "one template per push method");

QString FormatArg(char kind, const QVariant &v)
{
    switch (kind) {
    case 'T':
        return JsStringEscape(v.toString());
    case 'I':
        return QString::number(v.value<qint32>());
    case 'U':
        return QString::number(v.value<quint32>());
    case 'L':
        return QString::number(v.value<quint64>());
    case 'B':
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    }
    return {};
}

} // namespace

const PushTemplate &PushTemplateOf(PushId id)
{
    return kTemplates[static_cast<int>(id)];
}

QString JsStringEscape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        ushort u = c.unicode();
        switch (u) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\'':
            out += QLatin1String("\\'");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case 0x2028:
        case 0x2029:
            // Line terminators inside a literal in older scripts.
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
            break;
        default:
            if (u < 0x20 || u == 0x7F)
                out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out;
}

QString BuildStatement(PushId id, const QVariantList &args)
{
    const PushTemplate &t = PushTemplateOf(id);
    const int nkinds = static_cast<int>(qstrlen(t.kinds));
    Q_ASSERT(args.size() == nkinds);
    const QString tmpl = QString::fromLatin1(t.text);
    QString out;
    out.reserve(tmpl.size() + 64);
    for (int i = 0; i < tmpl.size(); i++) {
        QChar c = tmpl[i];
        if (c == QLatin1Char('%') && i + 1 < tmpl.size() && tmpl[i + 1] >= QLatin1Char('1') &&
            tmpl[i + 1] <= QLatin1Char('9')) {
            int n = tmpl[i + 1].digitValue() - 1;
            if (n < nkinds && n < args.size())
                out += FormatArg(t.kinds[n], args[n]);
            i++;
            continue;
        }
        out += c;
    }
    return out;
}
