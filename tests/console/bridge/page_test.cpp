// A real page on a web channel: it finds every slot, its arguments reach the
// engine converted, and every statement reaches its page function with each
// text exactly as sent and no script of its own.
#include "jscontext.h"
#include "lirko_standin.h"

#include <QApplication>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QtTest>

using standin::S;

class PageTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    JsContext *m_js = nullptr;
    QWebEnginePage *m_page = nullptr;
    QWebChannel *m_channel = nullptr;
    int m_next = 0;

    QVariant Eval(const QString &script)
    {
        bool done = false;
        QVariant out;
        m_page->runJavaScript(script, [&](const QVariant &v) {
            out = v;
            done = true;
        });
        if (!QTest::qWaitFor([&]() { return done; }, 20000))
            qWarning() << "no answer to" << script;
        return out;
    }

    // Calls a slot from the page and waits for its answer.
    QVariant CallSlot(const QString &name, const QString &args_json)
    {
        const QString id = QString::number(++m_next);
        Eval(QStringLiteral("callSlot('%1', '%2', %3); true").arg(id, name, args_json));
        const QString probe = QStringLiteral("window.results.hasOwnProperty('%1')").arg(id);
        if (!QTest::qWaitFor([&]() { return Eval(probe).toBool(); }, 20000))
            return QStringLiteral("<no answer>");
        return Eval(QStringLiteral("window.results['%1']").arg(id));
    }

    QJsonArray Calls()
    {
        const QString json = Eval(QStringLiteral("JSON.stringify(window.calls)")).toString();
        Eval(QStringLiteral("window.calls = []; true"));
        return QJsonDocument::fromJson(json.toUtf8()).array();
    }

  private slots:
    void initTestCase()
    {
        QDir::setCurrent(m_dir.path());
        RegisterBridgeMetaTypes();
        m_js = new JsContext;
        m_page = new QWebEnginePage;
        m_channel = new QWebChannel;
        m_channel->registerObject(QStringLiteral("context"), m_js);
        m_page->setWebChannel(m_channel);
        QSignalSpy loaded(m_page, &QWebEnginePage::loadFinished);
        m_page->load(QUrl::fromLocalFile(
            QStringLiteral(PTT_SOURCE_DIR "/tests/fixtures/bridge_page/page.html")));
        QVERIFY(loaded.wait(60000));
        QVERIFY(loaded.first().first().toBool());
        QVERIFY(QTest::qWaitFor([&]() { return Eval("window.channelReady === true").toBool(); },
                                30000));
    }

    void cleanupTestCase()
    {
        delete m_page;
        delete m_channel;
        delete m_js;
    }

    void init()
    {
        standin::Reset();
    }

    // The page's whole API: every slot by name and number of parameters, no
    // other public slot, and each name a function the page can call (the
    // transfer, video and reply slots included). The page calls by name: the
    // order of declaration is free, and so are the parameter types of the
    // reply handlers, which the page never calls.
    void pageFindsEverySlot()
    {
        const QStringList wanted{"DownLoad(QString,QString)",
                                 "DownLoadBulk(QString)",
                                 "parsejsonUrl(QString)",
                                 "DownloadEx(QString,QString,QString)",
                                 "onDownloadNext(QString)",
                                 "SelectFile(QString)",
                                 "Init_Config(QString,QString,QString)",
                                 "login(QString,QString,int)",
                                 "Logout()",
                                 "GetCurrentUser()",
                                 "GetOnlineStatus()",
                                 "GetUid()",
                                 "GetName()",
                                 "HasAudioEnabled()",
                                 "ChangeName(QString)",
                                 "ChangePassword(QString,QString)",
                                 "SaveAccount(QString)",
                                 "ClearAccount()",
                                 "HasAccount()",
                                 "GetSavedAccount()",
                                 "LoginWithSaved()",
                                 "JoinGroup(int)",
                                 "LeaveGroup()",
                                 "GetGroupByGid(int)",
                                 "GetMemberList(gid_t)",
                                 "GetMemberListRefresh(gid_t)",
                                 "GetGroupList()",
                                 "GetGroupListExtern(bool)",
                                 "GetGroupListExtern()",
                                 "SortGroupList(QList<GroupSort*>&)",
                                 "SortMemberList(QList<MemberSort*>&)",
                                 "SortGroupListbysortid(QList<GroupSort*>&)",
                                 "SortMemberListbysortid(QList<MemberSort*>&)",
                                 "GetCurrentGroup()",
                                 "Call(QJsonArray)",
                                 "CallByFullDuplex(uid_t)",
                                 "StartWatchGroup(gid_t)",
                                 "StopWatchGroup(gid_t)",
                                 "GetWatchGroupCount()",
                                 "GetWatchGroups()",
                                 "GetwatchGroup()",
                                 "AddWatchGroup(QJsonArray,int)",
                                 "RmWatchGroup(QJsonArray,int)",
                                 "StartSpeak()",
                                 "StopSpeak()",
                                 "GetPlayingSoundUserMsg()",
                                 "GetSpeakingUsers()",
                                 "IsSpeaking()",
                                 "IsListening()",
                                 "AudioEncryp(QString)",
                                 "CloseAudioEncryp(QString)",
                                 "RecordTranscode(QString,QString,QString)",
                                 "PcmtoWav(QString,QString)",
                                 "EnableLocalRecord(bool,QString)",
                                 "PlayLocalRecord(QString)",
                                 "PlayRecordOnLine(QString,QString,QString)",
                                 "StopPlayRecordOnLine()",
                                 "PlayRecordOnLineEx()",
                                 "PlayAudioOnLine(QString,QString,QString)",
                                 "closevideocontainer()",
                                 "TempJoinGroup(int,QJsonArray)",
                                 "TempLeaveGroup(int,QJsonArray)",
                                 "Audioenable(QJsonArray,bool)",
                                 "ForceDispatch(QJsonArray)",
                                 "Takemic(QJsonArray)",
                                 "GetUser(uid_t)",
                                 "GetUsers(QJsonArray)",
                                 "SwitchLocation(QJsonArray,bool,int)",
                                 "SendTextBroadcast(QString,QJsonArray)",
                                 "StartRecordBroadcastAudio()",
                                 "StartRecordAudio()",
                                 "GetRecordAudioFilePath()",
                                 "StopRecordAudio()",
                                 "SendpRecordAudio(QString,QString)",
                                 "StopRecordBroadcastAudio()",
                                 "SendAudioBroadcast(QJsonArray)",
                                 "PlayRecordBroadcastAudio()",
                                 "CleanCache()",
                                 "GetVersion()",
                                 "SetShowScreen(int)",
                                 "SendMms(QString,int,QString)",
                                 "GetMos()",
                                 "QtReadIni(QString)",
                                 "QtWriteIni(QString,QString)",
                                 "NotifyQtUpdate(QString)",
                                 "SendInvite(QString)",
                                 "SendResponseInvite(QString,int,int)",
                                 "startpullstream(int,QString,int,int,int,int)",
                                 "stoppullstream(QString)",
                                 "parseStartPulljsonUrl(QString)",
                                 "startvideosignel(QString,QString,QString,int,int,int,int)",
                                 "stopvideosignel(QString,QString)",
                                 "startpullstreamindex(QString,bool,QString,QString)",
                                 "stoppullstreamindex(QString)",
                                 "stoppullstreamindexNocb(QString)",
                                 "startUpvideo(int,int,int,int)",
                                 "makevideoWindowTop()",
                                 "makewebWindowTop()",
                                 "Settabeldata(QString)",
                                 "startvideoinformation(QString,QString,int,int,int,int)",
                                 "stopvideoinformation()",
                                 "setlanguage(QString)",
                                 "showTips(QString)",
                                 "getallgroups()",
                                 "getallgroupsdata()",
                                 "IsMyParTakeGroup(gid_t,department_t*)",
                                 "GetRepetitiveData(QList<GroupSort*>&,int,QList<RepeatGid*>&)",
                                 "ProcessSos(int,QString)",
                                 "CloseSos(int,QString)",
                                 "CheckRecordDevice()",
                                 "SetCodectype(int)",
                                 "GetcurrentCodecType()",
                                 "onReadyRead()",
                                 "onRTCHeadFinished()",
                                 "onFinished()",
                                 "onPlayOnLineFinished()",
                                 "onHeadFinished()",
                                 "onDownFinished()",
                                 "onError(QNetworkReply::NetworkError)",
                                 "onUploadFinished()",
                                 "OnUploadError(QNetworkReply::NetworkError)",
                                 "onDownExReadyRead()",
                                 "onDownExFinished()",
                                 "onDownExError(QNetworkReply::NetworkError)"};
        QCOMPARE(wanted.size(), 124);
        const QMetaObject *mo = m_js->metaObject();
        QStringList have;
        for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
            const QMetaMethod m = mo->method(i);
            if (m.methodType() == QMetaMethod::Slot && m.access() == QMetaMethod::Public)
                have << QStringLiteral("%1/%2")
                            .arg(QString::fromLatin1(m.name()))
                            .arg(m.parameterCount());
        }
        QStringList named;
        for (const QString &sig : wanted) {
            const QString args = sig.mid(sig.indexOf('(') + 1).chopped(1);
            named << QStringLiteral("%1/%2")
                         .arg(sig.left(sig.indexOf('(')))
                         .arg(args.isEmpty() ? 0 : args.count(',') + 1);
        }
        named.sort();
        have.sort();
        QCOMPARE(have, named);
        QStringList missing;
        for (const QString &sig : wanted) {
            const QString name = sig.left(sig.indexOf('('));
            if (!Eval(QStringLiteral("typeof window.context['%1'] === 'function'").arg(name))
                     .toBool())
                missing << name;
        }
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(' ')));
    }

    void engineIdsFromThePage()
    {
        QCOMPARE(CallSlot("GetMemberList", "[4294967295]").toString(), QStringLiteral("[]"));
        QCOMPARE(QString::fromStdString(S().calls.front()),
                 QStringLiteral("lirko_win_getMemberSize(4294967295)"));
        standin::Reset();
        QCOMPARE(CallSlot("Call", "[[1, 2.9, -1, 'x', 1e30]]").toInt(), 0);
        QCOMPARE(CallSlot("CallByFullDuplex", "[4294967295]").toInt(), 0);
        QCOMPARE(CallSlot("StartWatchGroup", "[4294967295]").toInt(), 0);
        QCOMPARE(CallSlot("GetGroupListExtern", "[]").toString(), QStringLiteral("[]"));
        QCOMPARE(CallSlot("HasAudioEnabled", "[]").toBool(), true);
        QStringList calls;
        for (const std::string &c : S().calls)
            calls << QString::fromStdString(c);
        QCOMPARE(calls, (QStringList{"lirko_win_Call([1,2,4294967295,0,0],5)",
                                     "lirko_win_single_call_full_duplex(4294967295)",
                                     "lirko_win_startWatchGroup(4294967295)",
                                     "lirko_win_getGroupSize()", "lirko_win_hasAudioEnabled()"}));
    }

    void everyStatementReachesItsFunction()
    {
        QWebEnginePage *p = m_page;
        const QString t = QStringLiteral("t");
        m_js->CloseVideoSingel(p);
        m_js->GetUrllist(p, 4);
        m_js->SendPlayLocalFileStatus(p, 1);
        m_js->StarSendInviteAck(p, QStringLiteral("{\"a\":1}"));
        m_js->StarSendInviteTimeOut(p);
        m_js->StarSendPushInvite(p, 18446744073709551615ull, 1, 1, 0, t, 1);
        m_js->StarSendPushResponseInvite(p, 5, 1, 1, 0);
        m_js->StarSendResponseInviteAck(p, 0);
        m_js->StarSendResponseInviteTimeOut(p);
        m_js->closeMainwindow(p);
        m_js->closeStrongPull(p, t, 1);
        m_js->closevideocontainercb(p);
        m_js->getrecordhistory(p);
        m_js->sendAddWatchGroup(p, t);
        m_js->sendAudioEnableChanged(p, true);
        m_js->sendAudioEnabled(p, t);
        m_js->sendBroadcastPlayAsyncStop(p);
        m_js->sendChangeName(p, true);
        m_js->sendChangePassword(p, false);
        m_js->sendCurrentGroupChanged(p, 7, QStringLiteral("North"));
        m_js->sendDispatched(p, t);
        m_js->sendDownBulkMessage(p, t);
        m_js->sendEndRecordFile(p, true, 1, 2, t, t);
        m_js->sendExternalMessagep(p, t);
        m_js->sendGetWatchGroup(p, t);
        m_js->sendGroupList(p);
        m_js->sendHttpDownload(p, t, 1);
        m_js->sendHttpDownloadStatus(p, t, 1);
        m_js->sendHttpUpload(p, t, 1);
        m_js->sendMemberChanged(p, t);
        m_js->sendMemberList(p, 1);
        m_js->sendPlayRecordFileEnd(p);
        m_js->sendPocError(p, t, 1);
        m_js->sendPocStatus(p, 3);
        m_js->sendQueryDepartmentack(p);
        m_js->sendQueryEncrypAck(p, 1);
        m_js->sendQueryEncrypTimeout(p);
        m_js->sendRmWatchGroup(p, t);
        m_js->sendSendCallback(p, true);
        m_js->sendSpeakInfo(p, 1, t);
        m_js->sendStartPlayingInfo(p, 1, t, 2, t);
        m_js->sendStartRecordFile(p, 1, 2, t, t);
        m_js->sendStartWatchGroup(p, 1);
        m_js->sendStopInfo(p, 1, t);
        m_js->sendStopPlayingInfo(p, 1, t, 2, t);
        m_js->sendSwitchLocation(p, t);
        m_js->sendTakeMic(p, true);
        m_js->sendUserChanged(p, 1, t);
        m_js->sendUserSpeakInfo(p, 1, t, 2, t);
        m_js->sendUserStopInfo(p, 1, t, 2, t);
        m_js->sendcloseSOs(p, 1);
        m_js->sendprocessSOs(p, 1);
        m_js->sendsosAlarm(p, t);
        m_js->videoinformationstop(p, t);
        m_js->videosizechange(p, t, t);
        QTRY_COMPARE_WITH_TIMEOUT(Eval("window.calls.length").toInt(), 55, 20000);
        QJsonArray calls = Calls();
        const QStringList expected{"CloseVideoSingelX",
                                   "OnGetUrllistX",
                                   "SendPlayLocalFileStatusX",
                                   "OnSendInviteAckX",
                                   "OnSendInviteTimeOutX",
                                   "OnSendPushInviteX",
                                   "OnSendPushResponseInviteX",
                                   "OnSendResponseInviteAckX",
                                   "OnSendResponseInviteTimeOutX",
                                   "closeMainwindowX",
                                   "closeStrongPullX",
                                   "closevideocontainerX",
                                   "getrecordhistoryX",
                                   "onAddWatchGropX",
                                   "onAudioEnableChangedX",
                                   "onAudioEnabledX",
                                   "OnPlayStopX",
                                   "onChangeNameResultX",
                                   "onChangePasswordResultX",
                                   "onCurrentGroupX",
                                   "onDispatchedX",
                                   "OnDownBulkMessageX",
                                   "onStopRecordX",
                                   "OnExternalMessagepX",
                                   "onGetWatchGroupX",
                                   "onGroupListX",
                                   "OnHttpDownLoadX",
                                   "OnHttpDownLoadStatusX",
                                   "OnHttpUpLoadX",
                                   "onMemberChangedX",
                                   "onMemberListX",
                                   "onStopPalyRecordX",
                                   "onErrorX",
                                   "onOnlineStatusChangedX",
                                   "OngetallgrouopsackX",
                                   "sendQueryEncrypAckX",
                                   "sendQueryEncrypTimeout",
                                   "onRmWatchGropX",
                                   "onSendedX",
                                   "onStartSpeakX",
                                   "onStartPlayingX",
                                   "onStartRecordX",
                                   "onStartWatchGroupX",
                                   "onStopSpeakX",
                                   "onStopPlayingX",
                                   "onSwitchLocationX",
                                   "onTakeMicX",
                                   "onUserChangedX",
                                   "onUserStartSpeakX",
                                   "onUserStopSpeakX",
                                   "sendcloseSOsX",
                                   "sendprocessSosX",
                                   "sendsosAlarmX",
                                   "videoinformationstopX",
                                   "videosizechangeX"};
        QStringList names;
        for (const QJsonValue &c : calls)
            names << c.toArray().at(0).toString();
        QCOMPARE(names, expected);
        // Every value arrives as a string literal.
        QCOMPARE(
            QJsonDocument(calls.at(5).toArray().at(1).toArray()).toJson(QJsonDocument::Compact),
            QByteArray("[\"18446744073709551615\",\"1\",\"1\",\"0\",\"t\",\"1\"]"));
        QCOMPARE(
            QJsonDocument(calls.at(19).toArray().at(1).toArray()).toJson(QJsonDocument::Compact),
            QByteArray("[\"7\",\"North\"]"));
        QCOMPARE(Eval("window.errors.length").toInt(), 0);
    }

    void hostileTextsArriveUnchanged()
    {
        const QString evil = QStringLiteral("a\"b'c\\d\ne\r") + QChar(0x2028) + QChar(0x2029) +
                             QStringLiteral("%2\");window.pwned=1;('</script>") + QChar(1);
        QJsonObject o;
        o.insert(QStringLiteral("name"), evil);
        const QString json = QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
        m_js->sendUserSpeakInfo(m_page, 1, evil, 2, evil);
        m_js->sendsosAlarm(m_page, json);
        m_js->sendExternalMessagep(m_page, evil);
        m_js->sendUserChanged(m_page, 1, json);
        QTRY_COMPARE_WITH_TIMEOUT(Eval("window.calls.length").toInt(), 4, 20000);
        QJsonArray calls = Calls();
        QCOMPARE(calls.at(0).toArray().at(1).toArray().at(1).toString(), evil);
        QCOMPARE(calls.at(0).toArray().at(1).toArray().at(3).toString(), evil);
        QCOMPARE(calls.at(1).toArray().at(1).toArray().at(0).toString(), json);
        QCOMPARE(
            QJsonDocument::fromJson(calls.at(1).toArray().at(1).toArray().at(0).toString().toUtf8())
                .object()
                .value("name")
                .toString(),
            evil);
        QCOMPARE(calls.at(2).toArray().at(1).toArray().at(0).toString(), evil);
        QCOMPARE(calls.at(3).toArray().at(1).toArray().at(1).toString(), json);
        QCOMPARE(Eval("typeof window.pwned").toString(), QStringLiteral("undefined"));
        QCOMPARE(Eval("window.errors.length").toInt(), 0);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    PageTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "page_test.moc"
