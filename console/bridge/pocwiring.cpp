#include "pocwiring.h"

#include "jscontext.h"
#include "poc.h"

#include <QDebug>
#include <memory>
#include <utility>

void ConnectPocToPage(POc *poc, JsContext *js, QObject *window,
                      std::function<QWebEnginePage *()> page, PocWiringHooks hooks)
{
    auto pg = std::make_shared<std::function<QWebEnginePage *()>>(std::move(page));
    auto hk = std::make_shared<PocWiringHooks>(std::move(hooks));
    auto P = [pg]() { return (*pg)(); };
    auto started = [hk]() {
        if (hk->speakerStarted)
            hk->speakerStarted();
    };
    auto stopped = [hk]() {
        if (hk->speakerStopped)
            hk->speakerStopped();
    };

    QObject::connect(poc, &POc::SendPocStaSignal, window, [js, P](LIRKO_ONLINE_STATUS status) {
        js->sendPocStatus(P(), static_cast<int>(status));
    });
    QObject::connect(poc, &POc::SendPocErrorSignal, window,
                     [js, P](QString msg, int error) { js->sendPocError(P(), msg, error); });
    QObject::connect(poc, &POc::SendUserStartSpeakInfoSignal, window,
                     [js, P](uid_t uid, QString name, gid_t gid, QString group_name) {
                         js->sendUserSpeakInfo(P(), uid, name, gid, group_name);
                     });
    QObject::connect(poc, &POc::SendUserStopSpeakInfoSignal, window,
                     [js, P](uid_t uid, QString name, gid_t gid, QString group_name) {
                         js->sendUserStopInfo(P(), uid, name, gid, group_name);
                     });
    QObject::connect(poc, &POc::SendStartPlayingInfoSignal, window,
                     [js, P, started](uid_t uid, QString name, gid_t gid, QString group_name) {
                         js->sendStartPlayingInfo(P(), uid, name, gid, group_name);
                         started();
                     });
    QObject::connect(poc, &POc::SendStopPlayingInfoSignal, window,
                     [js, P, stopped](uid_t uid, QString name, gid_t gid, QString group_name) {
                         js->sendStopPlayingInfo(P(), uid, name, gid, group_name);
                         stopped();
                     });
    QObject::connect(poc, &POc::SendStartSpeakInfoSignal, window,
                     [js, P, started](gid_t gid, QString group_name) {
                         js->sendSpeakInfo(P(), gid, group_name);
                         started();
                     });
    QObject::connect(poc, &POc::SendStopSpeakInfoSignal, window,
                     [js, P, stopped](gid_t gid, QString group_name) {
                         js->sendStopInfo(P(), gid, group_name);
                         stopped();
                     });
    QObject::connect(poc, &POc::SendChangeNameSignal, window,
                     [js, P](boolean success) { js->sendChangeName(P(), success != 0); });
    QObject::connect(poc, &POc::SendChangePasswordSignal, window,
                     [js, P](boolean success) { js->sendChangePassword(P(), success != 0); });
    QObject::connect(poc, &POc::SendAudioEnableSignal, window,
                     [js, P](boolean success) { js->sendAudioEnableChanged(P(), success != 0); });
    QObject::connect(poc, &POc::SendUserChangedSignal, window,
                     [js, P](size_t count, QString users) {
                         js->sendUserChanged(P(), static_cast<int>(count), users);
                     });
    QObject::connect(poc, &POc::SendCurrentGroupChangedSignal, window,
                     [js, P](gid_t gid, QString group_name) {
                         js->sendCurrentGroupChanged(P(), static_cast<int>(gid), group_name);
                     });
    QObject::connect(poc, &POc::SendMemberChangedSignal, window,
                     [js, P](QString change) { js->sendMemberChanged(P(), change); });
    QObject::connect(poc, &POc::SendMemberListSignal, window,
                     [js, P](gid_t gid) { js->sendMemberList(P(), gid); });
    QObject::connect(poc, &POc::SendGroupListSignal, window, [js, P]() { js->sendGroupList(P()); });
    QObject::connect(poc, &POc::SendStartRecordFileSignal, window,
                     [js, P](gid_t gid, uid_t uid, QString starttime, QString filename) {
                         js->sendStartRecordFile(P(), gid, uid, starttime, filename);
                     });
    QObject::connect(
        poc, &POc::SendEndRecordSignal, window,
        [js, P](boolean success, gid_t gid, uid_t uid, QString finishtime, QString filename) {
            js->sendEndRecordFile(P(), success != 0, gid, uid, finishtime, filename);
        });
    QObject::connect(poc, &POc::SendPlayRecordFileEndSignal, window,
                     [js, P]() { js->sendPlayRecordFileEnd(P()); });
    QObject::connect(poc, &POc::SendDispatcherSignal, window,
                     [js, P](QString dispatcher) { js->sendDispatched(P(), dispatcher); });
    QObject::connect(poc, &POc::SendTakeMicSignal, window,
                     [js, P](bool success) { js->sendTakeMic(P(), success); });
    QObject::connect(poc, &POc::SendAudioEnabledSignal, window,
                     [js, P](QString state) { js->sendAudioEnabled(P(), state); });
    QObject::connect(poc, &POc::SendSwitchLocationSignal, window,
                     [js, P](QString location) { js->sendSwitchLocation(P(), location); });
    QObject::connect(poc, &POc::SendGetWatchGroupSignal, window,
                     [js, P](QString groups) { js->sendGetWatchGroup(P(), groups); });
    QObject::connect(poc, &POc::SendRmWatchGroupSignal, window,
                     [js, P](QString result) { js->sendRmWatchGroup(P(), result); });
    QObject::connect(poc, &POc::SendAddWatchGroupSignal, window,
                     [js, P](QString result) { js->sendAddWatchGroup(P(), result); });
    QObject::connect(poc, &POc::SendStartWatchGroupSignal, window,
                     [js, P](gid_t gid) { js->sendStartWatchGroup(P(), gid); });
    QObject::connect(poc, &POc::SendSendCallbackSignal, window,
                     [js, P](bool success) { js->sendSendCallback(P(), success); });
    QObject::connect(poc, &POc::SendBroadcastPlayAsyncStopSignal, window,
                     [js, P]() { js->sendBroadcastPlayAsyncStop(P()); });
    QObject::connect(poc, &POc::SendStarSendInviteTimeOut, window,
                     [js, P]() { js->StarSendInviteTimeOut(P()); });
    QObject::connect(poc, &POc::SendStarSendResponseInviteTimeOut, window,
                     [js, P]() { js->StarSendResponseInviteTimeOut(P()); });
    QObject::connect(poc, &POc::SendStarSendInviteAck, window,
                     [js, P](QString message) { js->StarSendInviteAck(P(), message); });
    QObject::connect(poc, &POc::SendStarSendResponseInviteAck, window,
                     [js, P](uint32_t result) { js->StarSendResponseInviteAck(P(), result); });
    QObject::connect(poc, &POc::SendStarSendPushInvite, window,
                     [js, P](uint64_t invite_id, uint32_t inviter, uint32_t with_audio,
                             uint32_t with_video, QString msg, uint32_t is_full_duplex) {
                         js->StarSendPushInvite(P(), invite_id, inviter, with_audio, with_video,
                                                msg, is_full_duplex);
                     });
    QObject::connect(
        poc, &POc::SendStarSendPushResponseInvite, window,
        [js, P](uint64_t invite_id, uint32_t invitee, uint32_t accept, uint32_t reason) {
            js->StarSendPushResponseInvite(P(), invite_id, invitee, accept, reason);
        });
    QObject::connect(poc, &POc::sendQueryDepartmentack, window,
                     [js, P]() { js->sendQueryDepartmentack(P()); });
    QObject::connect(poc, &POc::sendQueryEncrypTimeout, window,
                     [js, P]() { js->sendQueryEncrypTimeout(P()); });
    QObject::connect(poc, &POc::sendQueryEncrypAck, window,
                     [js, P](int result) { js->sendQueryEncrypAck(P(), result); });
    QObject::connect(poc, &POc::sendSOSALARM, window,
                     [js, P](QString message) { js->sendsosAlarm(P(), message); });
    QObject::connect(poc, &POc::sendProcessSOs, window,
                     [js, P](int result) { js->sendprocessSOs(P(), result); });
    QObject::connect(poc, &POc::sendCloseSOs, window,
                     [js, P](int result) { js->sendcloseSOs(P(), result); });
    QObject::connect(poc, &POc::SendExternalMessageSignal, window,
                     [js, P](QString message) { js->sendExternalMessagep(P(), message); });
}
