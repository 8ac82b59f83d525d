// The statements the console runs in the dispatcher page: one fixed template
// per push method, filled from its arguments by the kinds the table gives.
#pragma once

#include <QString>
#include <QVariantList>

enum class PushId {
    CloseVideoSingel,
    GetUrllist,
    SendPlayLocalFileStatus,
    StarSendInviteAck,
    StarSendInviteTimeOut,
    StarSendPushInvite,
    StarSendPushResponseInvite,
    StarSendResponseInviteAck,
    StarSendResponseInviteTimeOut,
    closeMainwindow,
    closeStrongPull,
    closevideocontainercb,
    getrecordhistory,
    sendAddWatchGroup,
    sendAudioEnableChanged,
    sendAudioEnabled,
    sendBroadcastPlayAsyncStop,
    sendChangeName,
    sendChangePassword,
    sendCurrentGroupChanged,
    sendDispatched,
    sendDownBulkMessage,
    sendEndRecordFile,
    sendExternalMessagep,
    sendGetWatchGroup,
    sendGroupList,
    sendHttpDownload,
    sendHttpDownloadStatus,
    sendHttpUpload,
    sendMemberChanged,
    sendMemberList,
    sendPlayRecordFileEnd,
    sendPocError,
    sendPocStatus,
    sendQueryDepartmentack,
    sendQueryEncrypAck,
    sendQueryEncrypTimeout,
    sendRmWatchGroup,
    sendSendCallback,
    sendSpeakInfo,
    sendStartPlayingInfo,
    sendStartRecordFile,
    sendStartWatchGroup,
    sendStopInfo,
    sendStopPlayingInfo,
    sendSwitchLocation,
    sendTakeMic,
    sendUserChanged,
    sendUserSpeakInfo,
    sendUserStopInfo,
    sendcloseSOs,
    sendprocessSOs,
    sendsosAlarm,
    videoinformationstop,
    videosizechange,
    Count
};

struct PushTemplate {
    const char *name;  // the JsContext method
    const char *text;  // the statement, markers %1 to %6
    const char *kinds; // one letter per argument: T text, I i32, U u32, L u64, B bool
};

const PushTemplate &PushTemplateOf(PushId id);

// Text as the content of a JavaScript string literal in either quote: the
// page function receives exactly the text, and nothing in it can end the
// literal. Plain text comes back unchanged.
QString JsStringEscape(const QString &text);

// The statement of id with its markers filled in one pass, so that a marker
// inside an argument is never filled again. Arguments must match the kinds.
QString BuildStatement(PushId id, const QVariantList &args);
