// Recorded-voice transfers against the test's own HTTP server on loopback.
#include "bulk_download.h"
#include "record_service.h"
#include "single_download.h"
#include "test_http_server.h"
#include "transfer_flag.h"
#include "voice_upload.h"
#include "wav_file.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QtTest>
#include <quazip/JlCompress.h>

namespace
{

// Answers every dialog with a fixed path (null: cancelled) and remembers the questions.
class FixedChooser : public PathChooser
{
  public:
    QString answer;
    QStringList asked; // proposed names / start folders
    QStringList filters;
    QString saveFileName(const QString &, const QString &proposed, const QString &filter) override
    {
        asked << proposed;
        filters << filter;
        return answer;
    }
    QString openFileName(const QString &, const QString &dir, const QString &filter) override
    {
        asked << dir;
        filters << filter;
        return answer;
    }
};

// Every signal of a transfer object, as "name(args)" lines in emission order.
class Trace : public QObject
{
  public:
    QStringList lines;
    void watch(SingleDownload *d)
    {
        connect(d, &SingleDownload::SendHttpDownStautsSignal, this, [this](QString m, int s) {
            lines << QStringLiteral("status(%1,%2)").arg(m).arg(s);
        });
        connect(d, &SingleDownload::SendHttpDownloadSignal, this, [this](QString m, int e) {
            lines << QStringLiteral("download(%1,%2)").arg(m).arg(e);
        });
        connect(d, &SingleDownload::PlayLocalFileStatus, this,
                [this](int s) { lines << QStringLiteral("play(%1)").arg(s); });
    }
    void watch(BulkDownload *b)
    {
        connect(b, &BulkDownload::DownloadBulkEnd, this,
                [this](QString p) { lines << QStringLiteral("bulkend(%1)").arg(p); });
        connect(b, &BulkDownload::SendHttpDownloadSignal, this, [this](QString m, int e) {
            lines << QStringLiteral("download(%1,%2)").arg(m).arg(e);
        });
    }
    void watch(VoiceUpload *u)
    {
        connect(u, &VoiceUpload::SendHttpUploadSignal, this, [this](QString m, int e) {
            lines << QStringLiteral("upload(%1,%2)").arg(m).arg(e);
        });
    }
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), qint64(data.size()));
}

// The fake decoder: "decodes" by copying, or fails for names containing "bad".
TransferEngine fakeEngine(QStringList *played = nullptr, QList<QByteArray> *playedData = nullptr)
{
    TransferEngine e;
    e.codedToPcm = [](const QString &in, const QString &out) {
        if (in.contains(QLatin1String("bad")) || !QFile::exists(in))
            return -1;
        QFile::remove(out);
        return QFile::copy(in, out) ? 0 : -1;
    };
    e.playAudio = [played, playedData](const QString &path) {
        if (played)
            *played << path;
        if (playedData)
            *playedData << (QFile::exists(path) ? readAll(path) : QByteArray("<missing>"));
        return 0;
    };
    return e;
}

} // namespace

class TransferTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_home;
    QString docs() const
    {
        return m_home.path() + QStringLiteral("/Documents/");
    }

  private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toLocal8Bit());
        QCOMPARE(SingleDownload::documentsFolder(), docs());
    }
    void init()
    {
        transfer::setFlag(transfer::FlagIdle);
        QDir(docs()).removeRecursively();
    }

    void chunkedGetGivesStatusSequence()
    {
        TestHttpServer server;
        TestHttpServer::Response r;
        r.chunked = true;
        r.chunks = {"first-", "second-", "third"};
        server.route("/f.bin", r);
        QNetworkAccessManager nam;
        FixedChooser chooser;
        chooser.answer = m_home.filePath(QStringLiteral("saved.bin"));
        writeFile(chooser.answer, "stale content that must go");
        SingleDownload d(&nam, &chooser, fakeEngine());
        Trace t;
        t.watch(&d);

        QCOMPARE(d.DownLoad(server.url(QStringLiteral("/f.bin")), QStringLiteral("bin")), 0);
        QCOMPARE(chooser.filters, QStringList{QStringLiteral("*.bin")});
        // A transfer in progress refuses a second one without a word.
        QCOMPARE(d.DownLoad(server.url(QStringLiteral("/f.bin")), QStringLiteral("bin")), -1);
        QTRY_COMPARE_WITH_TIMEOUT(t.lines.size(), 4, 30000);
        QCOMPARE(t.lines,
                 (QStringList{"status(start download,1)", "status(Down Loading,2)",
                              "status(Down Load complete,3)", "download(Down load success,1)"}));
        QCOMPARE(readAll(chooser.answer), QByteArray("first-second-third"));
        QCOMPARE(transfer::flag(), 3);
    }

    void cancelledSaveDialog()
    {
        QNetworkAccessManager nam;
        FixedChooser chooser; // null answer
        SingleDownload d(&nam, &chooser, fakeEngine());
        Trace t;
        t.watch(&d);
        QCOMPARE(d.DownLoad(QStringLiteral("http://127.0.0.1:1/x"), QStringLiteral("amr")), 0);
        QCOMPARE(t.lines, (QStringList{"status(start download,1)", "status(download complete,0)",
                                       "download(invalid Download,2)"}));
        QCOMPARE(transfer::flag(), 0);
    }

    void failedGetReportsErrorOnce_data()
    {
        QTest::addColumn<bool>("reset");
        QTest::newRow("404") << false;
        QTest::newRow("reset") << true;
    }
    void failedGetReportsErrorOnce()
    {
        QFETCH(bool, reset);
        TestHttpServer server;
        if (reset) {
            TestHttpServer::Response r;
            r.reset = true;
            r.chunks = {QByteArray(4000, 'x'), "never sent"};
            server.route("/f.bin", r);
        }
        QNetworkAccessManager nam;
        FixedChooser chooser;
        chooser.answer = m_home.filePath(QStringLiteral("failed.bin"));
        SingleDownload d(&nam, &chooser, fakeEngine());
        Trace t;
        t.watch(&d);
        QCOMPARE(d.DownLoad(server.url(QStringLiteral("/f.bin")), QStringLiteral("bin")), 0);
        QTRY_VERIFY_WITH_TIMEOUT(t.lines.contains("download(Down Load error,-1)"), 30000);
        QTest::qWait(300);
        QCOMPARE(t.lines.count("download(Down Load error,-1)"), 1);
        QCOMPARE(t.lines.count("status(Down Load complete,3)"), 1);
        QCOMPARE(t.lines.first(), QStringLiteral("status(start download,1)"));
        QCOMPARE(t.lines.last(), QStringLiteral("download(Down Load error,-1)"));
        QVERIFY(!t.lines.contains("download(Down load success,1)"));
        // No half file is left where the dispatcher expects the real one.
        QVERIFY(!QFile::exists(chooser.answer));
        QCOMPARE(transfer::flag(), 3);
    }

    // A chunk that cannot be written, or an archive that cannot be made, is
    // reported as an error, never as success.
    void unwritableTargetsReportErrors()
    {
        TestHttpServer server;
        server.route("/f.evrc", TestHttpServer::ok("data"));
        QNetworkAccessManager nam;
        FixedChooser chooser;
        chooser.answer = m_home.filePath(QStringLiteral("no/such/folder/f.bin"));
        SingleDownload d(&nam, &chooser, fakeEngine());
        BulkDownload b(&nam, &chooser, fakeEngine());
        Trace t;
        t.watch(&d);
        t.watch(&b);
        QCOMPARE(d.DownLoad(server.url("/f.evrc"), "bin"), 0);
        QTRY_COMPARE_WITH_TIMEOUT(t.lines.size(), 4, 30000);
        QCOMPARE(t.lines.mid(2),
                 (QStringList{"status(Down Load complete,3)", "download(Down Load error,-1)"}));
        t.lines.clear();
        chooser.answer = m_home.path(); // a folder: no archive can be written there
        QCOMPARE(b.DownLoadBulk(QStringLiteral("[{\"url\":\"%1\",\"fileName\":\"f.evrc\","
                                               "\"outfileName\":\"f.wav\"}]")
                                    .arg(server.url("/f.evrc"))),
                 0);
        QTRY_COMPARE_WITH_TIMEOUT(t.lines, QStringList{"download(Down Load error,-1)"}, 30000);
        QCOMPARE(transfer::flag(), 0);
    }

    void bulkZipsTheConvertedRecordings_data()
    {
        QTest::addColumn<int>("bad");
        QTest::newRow("middle item fails") << 1;
        QTest::newRow("last item fails") << 2;
    }
    void bulkZipsTheConvertedRecordings()
    {
        QFETCH(int, bad);
        TestHttpServer server;
        const QByteArray pcm[3] = {QByteArray(320, 'a'), QByteArray(480, 'b'),
                                   QByteArray(160, 'c')};
        QStringList names = {"r0.evrc", "r1.evrc", "r2.amr"};
        names[bad] = QStringLiteral("bad.evrc");
        QString json = QStringLiteral("[");
        for (int i = 0; i < 3; ++i) {
            server.route("/rec/" + names[i].toLatin1(), TestHttpServer::ok(pcm[i]));
            json +=
                QStringLiteral("%1{\"url\":\"%2\",\"fileName\":\"%3\",\"outfileName\":\"w%4.wav\"}")
                    .arg(i ? "," : "")
                    .arg(server.url("/rec/" + names[i]))
                    .arg(names[i])
                    .arg(i);
        }
        json += QLatin1Char(']');
        // A stale file of the first item's name must not end up in front of its data.
        QDir().mkpath(docs());
        writeFile(docs() + names[0], "stale");

        QNetworkAccessManager nam;
        FixedChooser chooser;
        chooser.answer = m_home.filePath(QStringLiteral("bulk.zip"));
        BulkDownload b(&nam, &chooser, fakeEngine());
        Trace t;
        t.watch(&b);
        QCOMPARE(b.DownLoadBulk(json), 0);
        QCOMPARE(transfer::flag(), 2);
        QVERIFY(b.running());
        // A second bulk is refused until this one ends.
        QCOMPARE(b.DownLoadBulk(json), -1);
        QTRY_COMPARE_WITH_TIMEOUT(t.lines.size(), 1, 30000);
        QCOMPARE(t.lines.first(), QStringLiteral("bulkend(%1)").arg(chooser.answer));
        QCOMPARE(transfer::flag(), 0);
        QVERIFY(!b.running());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(server.count("/rec/" + names[i].toLatin1()), 1);

        QTemporaryDir out;
        const QStringList files = JlCompress::extractDir(chooser.answer, out.path());
        QCOMPARE(files.size(), 2);
        for (int i = 0; i < 3; ++i) {
            const QString wav = out.filePath(QStringLiteral("w%1.wav").arg(i));
            QCOMPARE(QFile::exists(wav), i != bad);
            if (i == bad)
                continue;
            const QByteArray data = readAll(wav);
            QCOMPARE(data.size(), 44 + pcm[i].size());
            QCOMPARE(data.left(44), wavHeader(quint32(pcm[i].size())));
            QCOMPARE(data.mid(44), pcm[i]);
        }
        // The coded and PCM files are gone from the working folder.
        const QStringList left = QDir(docs()).entryList(QDir::Files);
        QCOMPARE(left.filter(QRegularExpression("\\.(evrc|amr|pcm)$")), QStringList());
    }

    void erroredBulkThenNewRunFetchesEachOnce()
    {
        TestHttpServer server;
        server.route("/x.evrc", TestHttpServer::ok("xx"));
        server.route("/p.evrc", TestHttpServer::ok("pp"));
        server.route("/q.evrc", TestHttpServer::ok("qq"));
        auto item = [&](const char *name, const char *path) {
            return QStringLiteral(
                       "{\"url\":\"%1\",\"fileName\":\"%2.evrc\",\"outfileName\":\"%2.wav\"}")
                .arg(server.url(QString::fromLatin1(path)))
                .arg(QString::fromLatin1(name));
        };
        QNetworkAccessManager nam;
        FixedChooser chooser;
        chooser.answer = m_home.filePath(QStringLiteral("second.zip"));
        BulkDownload b(&nam, &chooser, fakeEngine());
        Trace t;
        t.watch(&b);
        // The second item's transfer fails (404): the run ends and says so.
        QCOMPARE(b.DownLoadBulk("[" + item("x", "/x.evrc") + "," + item("y", "/missing") + "," +
                                item("z", "/x.evrc") + "]"),
                 0);
        QTRY_COMPARE_WITH_TIMEOUT(t.lines, QStringList{"download(Down Load error,-1)"}, 30000);
        QVERIFY(!b.running());
        QCOMPARE(transfer::flag(), 3);
        QCOMPARE(server.count("/x.evrc"), 1);
        t.lines.clear();

        QCOMPARE(b.DownLoadBulk("[" + item("p", "/p.evrc") + "," + item("q", "/q.evrc") + "]"), 0);
        QTRY_COMPARE_WITH_TIMEOUT(t.lines.size(), 1, 30000);
        QTest::qWait(200);
        QCOMPARE(t.lines, QStringList{QStringLiteral("bulkend(%1)").arg(chooser.answer)});
        QCOMPARE(server.count("/p.evrc"), 1);
        QCOMPARE(server.count("/q.evrc"), 1);
        QCOMPARE(server.count("/x.evrc"), 1);
        QCOMPARE(JlCompress::getFileList(chooser.answer), (QStringList{"p.wav", "q.wav"}));
    }

    void bulkRefusesBadRequests_data()
    {
        QTest::addColumn<QString>("json");
        QTest::newRow("empty text") << QString();
        QTest::newRow("not json") << QStringLiteral("[{");
        QTest::newRow("empty array") << QStringLiteral("[]");
        QTest::newRow("object") << QStringLiteral("{\"url\":\"u\"}");
        QTest::newRow("parent folder")
            << QStringLiteral("[{\"url\":\"u\",\"fileName\":\"../x\",\"outfileName\":\"x.wav\"}]");
        QTest::newRow("folder part") << QStringLiteral(
            "[{\"url\":\"u\",\"fileName\":\"a/b.evrc\",\"outfileName\":\"x.wav\"}]");
        QTest::newRow("wav outside")
            << QStringLiteral("[{\"url\":\"u\",\"fileName\":\"b.evrc\",\"outfileName\":\"..\"}]");
        QTest::newRow("missing name")
            << QStringLiteral("[{\"url\":\"u\",\"outfileName\":\"x.wav\"}]");
        QTest::newRow("backslash") << QStringLiteral(
            "[{\"url\":\"u\",\"fileName\":\"..\\\\x.evrc\",\"outfileName\":\"x.wav\"}]");
    }
    void bulkRefusesBadRequests()
    {
        QFETCH(QString, json);
        QNetworkAccessManager nam;
        FixedChooser chooser;
        chooser.answer = m_home.filePath(QStringLiteral("never.zip"));
        BulkDownload b(&nam, &chooser, fakeEngine());
        QCOMPARE(b.DownLoadBulk(json), -1);
        QCOMPARE(transfer::flag(), 0);
        QVERIFY(chooser.asked.isEmpty());
        QVERIFY(b.items().isEmpty());
        QVERIFY(!b.running());
    }

    void soapBody_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray head =
            "<soap:Envelope xmlns:soap='http://www.w3.org/2003/05/soap-envelope' "
            "xmlns:tem='http://tempuri.org/'><soap:Header><tem:MyHeader>";
        QTest::newRow("plain") << "d:/rec/1.evrc"
                               << "disp"
                               << "pw"
                               << head + "<tem:Account>disp</tem:Account><tem:Password>pw"
                                         "</tem:Password></tem:MyHeader></soap:Header><soap:Body>"
                                         "<tem:GetRecordFilePath><tem:Rc_SavePath><tem:string>"
                                         "d:/rec/1.evrc</tem:string></tem:Rc_SavePath>"
                                         "</tem:GetRecordFilePath></soap:Body></soap:Envelope>";
        QTest::newRow("escaped") << "<a&b>.evrc"
                                 << "d'1"
                                 << "p\"w"
                                 << head + "<tem:Account>d'1</tem:Account><tem:Password>p&quot;w"
                                           "</tem:Password></tem:MyHeader></soap:Header>"
                                           "<soap:Body><tem:GetRecordFilePath><tem:Rc_SavePath>"
                                           "<tem:string>&lt;a&amp;b&gt;.evrc</tem:string>"
                                           "</tem:Rc_SavePath></tem:GetRecordFilePath>"
                                           "</soap:Body></soap:Envelope>";
    }
    void soapBody()
    {
        QFETCH(QString, file);
        QFETCH(QString, account);
        QFETCH(QString, password);
        QFETCH(QByteArray, expected);
        TestHttpServer server;
        const QByteArray coded(1200, 'e');
        server.route("/files/x.evrc", TestHttpServer::ok(coded));
        TestHttpServer::Response soap = TestHttpServer::ok(
            "<?xml version=\"1.0\"?><soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/"
            "soap-envelope\"><soap:Body><GetRecordFilePathResponse><Rc_DownloadFilePath>" +
            server.url(QStringLiteral("/files/x.evrc")).toUtf8() +
            "</Rc_DownloadFilePath></GetRecordFilePathResponse></soap:Body></soap:Envelope>");
        server.route("/RecordWebService.asmx", soap);

        QNetworkAccessManager nam;
        FixedChooser chooser;
        QStringList played;
        QList<QByteArray> playedData;
        SingleDownload d(&nam, &chooser, fakeEngine(&played, &playedData));
        RecordService service =
            RecordService::fromSettings(QString(), QString(), QUrl("http://127.0.0.1:6262/page"));
        QCOMPARE(service.host, QStringLiteral("127.0.0.1"));
        QCOMPARE(service.url().toString(),
                 QStringLiteral("http://127.0.0.1:9014/RecordWebService.asmx"));
        service.port = server.port();
        d.setRecordService(service);
        Trace t;
        t.watch(&d);

        QCOMPARE(d.PlayAudioOnLine(QString(), account, password), -1);
        QCOMPARE(d.PlayAudioOnLine(file + ".evrc", account, password), 0);
        QTRY_COMPARE_WITH_TIMEOUT(played.size(), 1, 30000);
        const TestHttpServer::Request &post = server.requests().first();
        QCOMPARE(post.method, QByteArray("POST"));
        QCOMPARE(post.path, QByteArray("/RecordWebService.asmx"));
        QCOMPARE(post.headers.value("content-type"), QByteArray("text/xml;charst=utf-8"));
        QVERIFY(!post.headers.contains("soapaction"));
        QByteArray want = expected;
        want.replace(".evrc</tem:string>", ".evrc.evrc</tem:string>");
        QCOMPARE(post.body, want);
        // The engine played the fetched file while it existed; it is gone afterwards.
        QCOMPARE(played.first(), docs() + QStringLiteral("audio.evrc"));
        QCOMPARE(playedData.first(), coded);
        QVERIFY(!QFile::exists(played.first()));
        QCOMPARE(t.lines, QStringList{"status(Down Loading,2)"});
        QCOMPARE(transfer::flag(), 3);
    }

    void playRecordOnLineRefusesOtherSuffixes()
    {
        QNetworkAccessManager nam;
        FixedChooser chooser;
        SingleDownload d(&nam, &chooser, fakeEngine());
        for (const char *name : {"a.EVRC", "a.wav", "a.amr.txt", ""})
            QCOMPARE(d.PlayRecordOnLine(QStringLiteral("http://127.0.0.1:1/a"),
                                        QString::fromLatin1(name), QString()),
                     -1);
        QCOMPARE(d.RecordTranscode(QStringLiteral("http://127.0.0.1:1/a"), QStringLiteral("a.mp3"),
                                   QString()),
                 -1);
        QCOMPARE(d.PlayRecordOnLineEx(), 0);
    }

    void recordTranscodeMakesTheChosenWav_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("wav");
        QTest::newRow("with suffix") << "out.wav"
                                     << "out.wav";
        QTest::newRow("without suffix") << "out"
                                        << "out.wav";
        QTest::newRow("suffix twice") << "a.wav.wav"
                                      << "a.wav.wav";
    }
    void recordTranscodeMakesTheChosenWav()
    {
        QFETCH(QString, answer);
        QFETCH(QString, wav);
        TestHttpServer server;
        const QByteArray coded(640, 's');
        TestHttpServer::Response r = TestHttpServer::ok(coded);
        r.headers = {{"filename", "x.samr"}};
        server.route("/dl/1234", r);
        QNetworkAccessManager nam;
        FixedChooser chooser;
        QTemporaryDir dir;
        chooser.answer = dir.filePath(answer);
        SingleDownload d(&nam, &chooser, fakeEngine());
        Trace t;
        t.watch(&d);
        QCOMPARE(d.RecordTranscode(server.url("/dl/1234"), QStringLiteral("in.evrc"), QString()),
                 0);
        QTRY_VERIFY_WITH_TIMEOUT(t.lines.contains("download(Down load success,1)"), 30000);
        QCOMPARE(chooser.asked, QStringList{"x.wav"});
        QCOMPARE(readAll(dir.filePath(wav)), wavHeader(640) + coded);
        // The coded and PCM files beside it are gone.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{wav});
        QCOMPARE(server.requests().first().method, QByteArray("HEAD"));
    }

    void pcmToWavChecksItsInput()
    {
        QTemporaryDir dir;
        const QString empty = dir.filePath("empty.pcm");
        writeFile(empty, QByteArray());
        QCOMPARE(pcmToWav(empty, dir.filePath("e.wav")), qint64(0));
        const QByteArray w = readAll(dir.filePath("e.wav"));
        QCOMPARE(w.size(), 44);
        QCOMPARE(w, wavHeader(0));
        QCOMPARE(qFromLittleEndian<quint32>(w.constData() + 4), 36u);
        QCOMPARE(qFromLittleEndian<quint32>(w.constData() + 40), 0u);
        QCOMPARE(w.mid(0, 4) + w.mid(8, 8) + w.mid(36, 4), QByteArray("RIFFWAVEfmt data"));
        // A missing PCM file is a failure and is not created.
        QCOMPARE(pcmToWav(dir.filePath("missing.pcm"), dir.filePath("m.wav")), qint64(-1));
        QVERIFY(!QFile::exists(dir.filePath("missing.pcm")));
        QVERIFY(!QFile::exists(dir.filePath("m.wav")));
    }

    void uploadSendsThePartsInOrder()
    {
        TestHttpServer server;
        server.route("/up", TestHttpServer::ok("ok"));
        QNetworkAccessManager nam;
        FixedChooser chooser;
        VoiceUpload u(&nam, &chooser);
        Trace t;
        t.watch(&u);
        QTemporaryDir dir;
        const QString rec = dir.filePath("20260101.sevrc");
        const QByteArray voice(777, 'v');
        writeFile(rec, voice);

        QCOMPARE(u.SendpRecordAudio(server.url("/up"), "{}", QString(), 1500), -1);
        QCOMPARE(u.SendpRecordAudio(server.url("/up"), "{}", dir.filePath("gone.sevrc"), 1500), -1);
        QCOMPARE(u.SendpRecordAudio(server.url("/up"), "{\"b\":\"2\",\"a\":\"\\u4e00\",\"n\":5}",
                                    rec, 1500),
                 0);
        QCOMPARE(u.SendpRecordAudio(server.url("/up"), "{}", rec, 1500), -1); // one at a time
        QTRY_COMPARE_WITH_TIMEOUT(t.lines, QStringList{"upload(Down load success,1)"}, 30000);
        QCOMPARE(server.requests().size(), 1);

        const TestHttpServer::Request &req = server.requests().first();
        const QByteArray type = req.headers.value("content-type");
        QVERIFY(type.startsWith("multipart/form-data; boundary="));
        QByteArray boundary = type.mid(type.indexOf("boundary=") + 9);
        if (boundary.startsWith('"'))
            boundary = boundary.mid(1, boundary.size() - 2);
        QStringList names;
        QList<QByteArray> bodies;
        QList<QByteArray> heads;
        const QByteArray sep = "--" + boundary;
        int pos = req.body.indexOf(sep);
        while (pos >= 0) {
            int start = pos + sep.size();
            if (req.body.mid(start, 2) == "--")
                break;
            start += 2;
            const int next = req.body.indexOf(sep, start);
            QVERIFY(next > 0);
            const QByteArray part = req.body.mid(start, next - start - 2);
            const int split = part.indexOf("\r\n\r\n");
            heads << part.left(split);
            bodies << part.mid(split + 4);
            const QRegularExpression nameRe("name=\"([^\"]*)\"");
            names << nameRe.match(QString::fromUtf8(part.left(split))).captured(1);
            pos = next;
        }
        QCOMPARE(names, (QStringList{"msg", "a", "b", "n", "file"}));
        QCOMPARE(bodies[0], QByteArray("1500"));
        QCOMPARE(bodies[1], QString::fromUtf8("\u4e00").toUtf8());
        QCOMPARE(bodies[2], QByteArray("2"));
        QCOMPARE(bodies[3], QByteArray());
        QVERIFY(heads[4].contains("form-data; name=\"file\";filename=\"record_audio.sevrc\""));
        QVERIFY(heads[4].contains("image/jpeg"));
        QCOMPARE(bodies[4], voice);
    }

    void uploadFileNames()
    {
        QCOMPARE(VoiceUpload::uploadFileName("a.sevrc"), QStringLiteral("record_audio.sevrc"));
        QCOMPARE(VoiceUpload::uploadFileName("a.evrc"), QStringLiteral("record_audio.evrc"));
        QCOMPARE(VoiceUpload::uploadFileName("a.samr"), QStringLiteral("record_audio.samr"));
        QCOMPARE(VoiceUpload::uploadFileName("a.amr"), QStringLiteral("record_audio.amr"));
        QCOMPARE(VoiceUpload::uploadFileName("a.wav"), QString());
    }

    void uploadErrorReportsTheText()
    {
        TestHttpServer server; // no route: 404
        QNetworkAccessManager nam;
        FixedChooser chooser;
        VoiceUpload u(&nam, &chooser);
        Trace t;
        t.watch(&u);
        QTemporaryDir dir;
        writeFile(dir.filePath("r.evrc"), "voice");
        QCOMPARE(u.SendpRecordAudio(server.url("/nope"), "not json", dir.filePath("r.evrc"), 10),
                 0);
        QTRY_COMPARE_WITH_TIMEOUT(t.lines.size(), 1, 30000);
        QTest::qWait(200);
        QCOMPARE(t.lines.size(), 1);
        QVERIFY(t.lines.first().startsWith("upload("));
        QVERIFY(t.lines.first().endsWith(",-1)"));
    }

    void selectFile()
    {
        QNetworkAccessManager nam;
        FixedChooser chooser;
        RoutedPathChooser routed; // what the page object hands its transfers
        routed.route(&chooser);
        VoiceUpload u(&nam, &routed);
        QCOMPARE(u.SelectFile(QString()), QStringLiteral("NULL"));
        QVERIFY(chooser.asked.isEmpty());
        QCOMPARE(u.SelectFile(QStringLiteral("")), QStringLiteral("NULL"));
        QCOMPARE(chooser.asked, QStringList{QDir::currentPath()});
        QCOMPARE(chooser.filters.first(), QStringLiteral("*.mp4;*.jpg;*.jpeg;*.png;*.amr;;*"));
        chooser.answer = QStringLiteral("/tmp/a.png");
        QCOMPARE(u.SelectFile(QStringLiteral("x")), QStringLiteral("/tmp/a.png"));
    }

    // The page can call every handler slot; without the reply's own signal
    // they must neither report nor disturb the transfer that is running.
    void handlerSlotsCalledByThePageDoNothing()
    {
        TestHttpServer server;
        TestHttpServer::Response slow;
        slow.chunks = {"one", "two"};
        slow.delayMs = 300;
        server.route("/slow.evrc", slow);
        QNetworkAccessManager nam;
        FixedChooser chooser;
        chooser.answer = m_home.filePath(QStringLiteral("slow.bin"));
        SingleDownload d(&nam, &chooser, fakeEngine());
        BulkDownload b(&nam, &chooser, fakeEngine());
        VoiceUpload u(&nam, &chooser);
        Trace t;
        t.watch(&d);
        t.watch(&b);
        t.watch(&u);
        auto pokeAll = [&]() {
            for (const char *slot : {"onReadyRead", "onDownFinished", "onHeadFinished",
                                     "onPlayOnLineFinished", "onRTCHeadFinished", "onFinished"})
                QVERIFY(QMetaObject::invokeMethod(&d, slot));
            QVERIFY(QMetaObject::invokeMethod(
                &d, "onError",
                Q_ARG(QNetworkReply::NetworkError, QNetworkReply::UnknownNetworkError)));
            for (const char *slot : {"onDownExReadyRead", "onDownExFinished"})
                QVERIFY(QMetaObject::invokeMethod(&b, slot));
            QVERIFY(QMetaObject::invokeMethod(
                &b, "onDownExError",
                Q_ARG(QNetworkReply::NetworkError, QNetworkReply::UnknownNetworkError)));
            QVERIFY(QMetaObject::invokeMethod(&b, "onDownloadNext", Q_ARG(QString, "u")));
            QVERIFY(QMetaObject::invokeMethod(&u, "onUploadFinished"));
            QVERIFY(QMetaObject::invokeMethod(
                &u, "OnUploadError",
                Q_ARG(QNetworkReply::NetworkError, QNetworkReply::UnknownNetworkError)));
        };
        pokeAll(); // nothing held
        QVERIFY(t.lines.isEmpty());
        QCOMPARE(transfer::flag(), 0);
        QCOMPARE(b.DownloadEx("u", "a.evrc", "a.wav"), -1);

        QCOMPARE(d.DownLoad(server.url("/slow.evrc"), "evrc"), 0);
        QCOMPARE(b.DownLoadBulk(QStringLiteral("[{\"url\":\"%1\",\"fileName\":\"s.evrc\","
                                               "\"outfileName\":\"s.wav\"}]")
                                    .arg(server.url("/slow.evrc"))),
                 -1); // the single download runs (flag 1)
        t.lines.clear();
        QTRY_COMPARE_WITH_TIMEOUT(t.lines.size(), 1, 30000); // "Down Loading"
        pokeAll();                                           // a reply is held
        QCOMPARE(t.lines, QStringList{"status(Down Loading,2)"});
        QCOMPARE(transfer::flag(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(t.lines.contains("download(Down load success,1)"), 30000);
        QCOMPARE(readAll(chooser.answer), QByteArray("onetwo"));
        QCOMPARE(server.count("/slow.evrc"), 1);
    }
};

QTEST_GUILESS_MAIN(TransferTest)
#include "transfer_test.moc"
