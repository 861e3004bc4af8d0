#include "common/inet.h"
#include "common/inet_p.h"
#include "fixtureserver.h"

#include <QElapsedTimer>
#include <QCryptographicHash>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <thread>

using common::Inet;
using common::TransferError;

namespace {

const QByteArray kChinese = QStringLiteral("版本 13.04.20，更新说明").toUtf8();

// Runs one download to its end and returns the outcomes it reported, waiting
// a little after the first to catch any second one.
QList<Inet::Outcome> downloadAndWait(Inet &inet, const QString &address, int waitMs = 10000)
{
    QSignalSpy spy(&inet, &Inet::finished);
    inet.startDownload(address);
    if (!spy.wait(waitMs))
        return {};
    QTest::qWait(300);
    QList<Inet::Outcome> outcomes;
    for (const QList<QVariant> &args : spy)
        outcomes << args.at(0).value<Inet::Outcome>();
    return outcomes;
}

// The completed body as the updater takes it: the released file, read and
// removed.
QByteArray releasedBody(Inet &inet)
{
    QFile file(inet.releaseBodyFile());
    if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly))
        return "(no body file)";
    const QByteArray body = file.readAll();
    file.remove();
    return body;
}

QString closedPortAddress()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/x").arg(port);
}

} // namespace

class TstInet : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void fetchBodies_data();
    void fetchBodies();
    void fetchTextDecodesUtf8();
    void failures_data();
    void failures();
    void timeOutIsOverallForBlockingButIdleForDownloads();
    void pagesAreCappedDownloadsAreNot_data();
    void pagesAreCappedDownloadsAreNot();
    void fetchLetsNoOtherHandlerRun();
    void fetchWorksWithoutEventLoop();
    void downloadLimits_data();
    void downloadLimits();

    void redirectsStayOnTheWeb_data();
    void redirectsStayOnTheWeb();
    void downloadGivesWholeBody_data();
    void downloadGivesWholeBody();
    void laterDownloadCancelsEarlierWithoutEvent();
    void progressCountsTheBody();
    void releasedBodyFileOutlivesTheControl();
    void temporaryFilesDoNotOutliveTheirUse();

private:
    FixtureServer m_server;
};

void TstInet::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    QVERIFY(!m_server.writeFile(QStringLiteral("page.html"), "<p>hello</p>\n").isEmpty());
    QVERIFY(!m_server.writeFile(QStringLiteral("sub/zh.txt"), kChinese).isEmpty());
    QVERIFY(!m_server.writeFile(QStringLiteral("empty.bin"), QByteArray()).isEmpty());
}

void TstInet::fetchBodies_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    const QByteArray page = "<p>hello</p>\n";
    QTest::newRow("file") << "/page.html" << page;
    QTest::newRow("file in folder") << "/sub/zh.txt" << kChinese;
    QTest::newRow("empty") << "/empty.bin" << QByteArray();
    QTest::newRow("no length") << "/nolength/page.html" << page;
    // A clean end cannot be told from the end of a close-delimited body.
    QTest::newRow("no length, closed early") << "/nolength/short/bytes/1000" << FixtureServer::patternBytes(500);
    QTest::newRow("chunked") << "/chunked/bytes/100000" << FixtureServer::patternBytes(100000);
    QTest::newRow("three redirects") << "/redirect/3/page.html" << page;
    QTest::newRow("301 redirect") << "/status/301/redirect/1/page.html" << page;
    QTest::newRow("redirect to address")
        << "/redirect?to="
               + QString::fromLatin1(QUrl::toPercentEncoding(m_server.address("/sub/zh.txt")))
        << kChinese;
    QTest::newRow("2 MB") << "/bytes/2000000" << FixtureServer::patternBytes(2000000);
    QTest::newRow("slow but in time") << "/delay/200/page.html" << page;
}

void TstInet::fetchBodies()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    Inet inet;
    inet.setRequestTimeoutMsecs(5000);
    QByteArray got;
    try {
        got = inet.fetchBytes(m_server.address(path));
    } catch (const TransferError &e) {
        QFAIL(e.what());
    }
    QCOMPARE(got.size(), body.size());
    QCOMPARE(got, body);
    QVERIFY(inet.lastError().isEmpty());
}

void TstInet::fetchTextDecodesUtf8()
{
    Inet inet;
    QCOMPARE(inet.fetchText(m_server.address("/sub/zh.txt")),
             QStringLiteral("版本 13.04.20，更新说明"));
}

// Every fault, through both doors: the blocking call throws the message, the
// download reports exactly one Failed with the same reason.
void TstInet::failures_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("message");
    auto at = [this](const char *path) { return m_server.address(QString::fromLatin1(path)); };
    QTest::newRow("404") << at("/status/404") << "服务器返回错误 404";
    QTest::newRow("500") << at("/status/500") << "服务器返回错误 500";
    QTest::newRow("missing file") << at("/nothing-here.bin") << "服务器返回错误 404";
    QTest::newRow("404 after redirects") << at("/redirect/2/missing") << "服务器返回错误 404";
    QTest::newRow("3xx without Location") << at("/status/302") << "服务器返回错误 302";
    QTest::newRow("too many redirects") << at("/redirect/11/page.html") << "重定向次数过多";
    // Cut short or reset, with a length, without one, or chunked.
    for (const char *path : {"/short/bytes/100000", "/short/bytes/3", "/drop/bytes/300000", "/nolength/drop/bytes/300000",
                             "/nolength/drop/bytes/300", "/chunked/short/bytes/300", "/chunked/drop/bytes/300"})
        QTest::newRow(path) << at(path) << "数据不完整";
    QTest::newRow("longer than announced") << at("/overlong/chunked/bytes/3000") << "服务器发送的数据多于它声明的长度";
    QTest::newRow("headers too late") << at("/delay/3000/page.html") << "请求超时";
    QTest::newRow("refused") << closedPortAddress() << "无法连接服务器";
    QTest::newRow("not http") << "ftp://127.0.0.1/x" << "网址无效：ftp://127.0.0.1/x";
    QTest::newRow("tls to plain server")
        << QStringLiteral("https://127.0.0.1:%1/page.html").arg(m_server.port())
        << "无法建立安全连接";
}

void TstInet::failures()
{
    QFETCH(QString, address);
    QFETCH(QString, message);
    Inet inet;
    inet.setRequestTimeoutMsecs(1000);

    QElapsedTimer clock;
    clock.start();
    try {
        const QByteArray body = inet.fetchBytes(address);
        QFAIL(qPrintable(QStringLiteral("no error; got %1 bytes").arg(body.size())));
    } catch (const TransferError &e) {
        QCOMPARE(e.message(), message);
    }
    QCOMPARE(inet.lastError(), message);
    QCOMPARE(inet.timedOut(), message == QStringLiteral("请求超时"));
    QVERIFY2(clock.elapsed() < 2500, "the blocking call outlived its time-out");

    QCOMPARE(downloadAndWait(inet, address), QList<Inet::Outcome>{Inet::Outcome::Failed});
    QCOMPARE(inet.lastError(), message);
    QVERIFY(!inet.downloading());
    QVERIFY(inet.releaseBodyFile().isEmpty());
}

// A page is read into memory, so a body past the cap is refused however it is
// sent (announced, chunked, or with no length and no end in sight), while a
// download streams to its file whatever its size.
void TstInet::pagesAreCappedDownloadsAreNot_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("accepted");
    const qint64 cap = Inet::kMaxPageBytes;
    QTest::newRow("at the cap") << QStringLiteral("/bytes/%1").arg(cap) << true;
    QTest::newRow("at the cap, no length") << QStringLiteral("/nolength/bytes/%1").arg(cap) << true;
    QTest::newRow("one byte over") << QStringLiteral("/bytes/%1").arg(cap + 1) << false;
    QTest::newRow("one byte over, chunked") << QStringLiteral("/chunked/bytes/%1").arg(cap + 1) << false;
    QTest::newRow("a gigabyte, no length") << QStringLiteral("/nolength/bytes/1000000000") << false;
}

void TstInet::pagesAreCappedDownloadsAreNot()
{
    QFETCH(QString, path);
    QFETCH(bool, accepted);
    Inet inet;
    inet.setRequestTimeoutMsecs(20000);
    try {
        const QByteArray body = inet.fetchBytes(m_server.address(path));
        QVERIFY2(accepted, qPrintable(QStringLiteral("a page of %1 bytes was accepted").arg(body.size())));
        QCOMPARE(body, FixtureServer::patternBytes(Inet::kMaxPageBytes));
    } catch (const TransferError &e) {
        QVERIFY2(!accepted, e.what());
        QCOMPARE(e.message(), QStringLiteral("服务器返回的内容过大（超过 4 MB）"));
    }
    if (accepted)
        return;
    // The same body as a download is taken whole, except the endless one.
    if (path.contains(QStringLiteral("1000000000")))
        return;
    QCOMPARE(downloadAndWait(inet, m_server.address(path)), QList<Inet::Outcome>{Inet::Outcome::Completed});
    QCOMPARE(releasedBody(inet).size(), Inet::kMaxPageBytes + 1);
}

// A trickle that never stalls for a whole time-out but lasts longer than one.
void TstInet::timeOutIsOverallForBlockingButIdleForDownloads()
{
    const QString trickle = m_server.address("/trickle/100/100/bytes/2000"); // about 2 s
    Inet inet;
    inet.setRequestTimeoutMsecs(700);
    QVERIFY_THROWS_EXCEPTION(TransferError, inet.fetchBytes(trickle));
    QCOMPARE(inet.lastError(), QStringLiteral("请求超时"));

    QCOMPARE(downloadAndWait(inet, trickle), QList<Inet::Outcome>{Inet::Outcome::Completed});
    QCOMPARE(releasedBody(inet), FixtureServer::patternBytes(2000));
}

void TstInet::fetchLetsNoOtherHandlerRun()
{
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
    timer.start();
    bool queuedRan = false;
    QMetaObject::invokeMethod(this, [&queuedRan] { queuedRan = true; }, Qt::QueuedConnection);
    // A download of another control that ends while the fetch blocks must
    // not report until the fetch is over either.
    Inet other;
    QSignalSpy otherDone(&other, &Inet::finished);
    other.startDownload(m_server.address("/page.html"));

    Inet inet;
    QCOMPARE(inet.fetchBytes(m_server.address("/delay/400/page.html")),
             QByteArray("<p>hello</p>\n"));
    QCOMPARE(ticks, 0);
    QVERIFY(otherDone.isEmpty());
    // Posted events are handled while it waits: the windows' repaints are.
    QVERIFY(queuedRan);

    // The held handlers run once the caller goes back to its event loop.
    QTRY_VERIFY(ticks > 0);
    QTRY_COMPARE(otherDone.size(), 1);
}

void TstInet::fetchWorksWithoutEventLoop()
{
    QByteArray got;
    QString error;
    const QString address = m_server.address("/redirect/1/bytes/50000");
    std::thread plain([&] {
        Inet inet;
        try {
            got = inet.fetchBytes(address);
        } catch (const TransferError &e) {
            error = e.message();
        }
    });
    plain.join();
    QCOMPARE(error, QString());
    QCOMPARE(got, FixtureServer::patternBytes(50000));
}

// A download that crawls below the floor, or that has no length and would
// fill the disk, fails instead of running on.
void TstInet::downloadLimits_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint64>("leaveFree"); // -1: the default reserve
    QTest::addColumn<QString>("message");
    const qint64 defaultReserve = -1, leave20MiB = 20 << 20;
    QTest::newRow("trickle under the floor") << "/trickle/100/10/bytes/100000" << defaultReserve << "下载速度过慢（0.5 秒内不足 1024 字节）";
    QTest::newRow("no length past the free space") << "/nolength/bytes/5000000000" << leave20MiB << "下载的内容超出磁盘的可用空间";
    QTest::newRow("steady above the floor") << "/trickle/20/5000/bytes/100000" << defaultReserve << "";
    QTest::newRow("length past the free space") << "/bytes/22020096" << leave20MiB << "文件有 21 MB，磁盘的可用空间不够";
    QTest::newRow("a terabyte announced") << "/bytes/1000000000000" << defaultReserve << "文件有 953675 MB，磁盘的可用空间不够";
}

void TstInet::downloadLimits()
{
    QFETCH(QString, path);
    QFETCH(qint64, leaveFree);
    QFETCH(QString, message);
    QTemporaryDir folder;
    Inet inet;
    inet.setDownloadFolder(folder.path());
    inet.setSpeedFloor(1024, 500);
    if (leaveFree >= 0)
        inet.setDiskReserve(QStorageInfo(folder.path()).bytesAvailable() - leaveFree);
    QCOMPARE(downloadAndWait(inet, m_server.address(path)),
             QList<Inet::Outcome>{message.isEmpty() ? Inet::Outcome::Completed : Inet::Outcome::Failed});
    QCOMPARE(inet.lastError(), message);
    if (!message.isEmpty())
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList());
}

// Where a redirect may lead, by the address the connection reached.
void TstInet::redirectsStayOnTheWeb_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("followed");
    QTest::newRow("web to web") << "93.184.216.34" << "151.101.1.69" << true;
    QTest::newRow("web to loopback") << "93.184.216.34" << "127.0.0.1" << false;
    QTest::newRow("web to another loopback") << "93.184.216.34" << "127.77.13.1" << false;
    QTest::newRow("web to ::1") << "2606:2800:220:1::" << "::1" << false;
    QTest::newRow("web to mapped loopback") << "93.184.216.34" << "::ffff:127.0.0.1" << false;
    QTest::newRow("web to 0.0.0.0") << "93.184.216.34" << "0.0.0.0" << false;
    QTest::newRow("web to link-local") << "93.184.216.34" << "169.254.169.254" << false;
    for (const char *lan : {"10.1.2.3", "172.16.0.1", "192.168.1.1", "100.64.0.1", "fd00::1", "fe80::1"})
        QTest::newRow(lan) << "93.184.216.34" << lan << false;
    QTest::newRow("loopback to loopback") << "127.0.0.1" << "127.0.0.2" << true;
    QTest::newRow("intranet to intranet") << "10.0.0.5" << "192.168.3.4" << true;
    QTest::newRow("intranet to loopback") << "10.0.0.5" << "127.0.0.1" << false;
    QTest::newRow("loopback to web") << "127.0.0.1" << "93.184.216.34" << true;
}

void TstInet::redirectsStayOnTheWeb()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(bool, followed);
    QCOMPARE(common::mayRedirect(common::addressKind(from), common::addressKind(to)), followed);
}

void TstInet::downloadGivesWholeBody_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    const QByteArray big = FixtureServer::patternBytes(300000);
    QTest::newRow("big") << "/bytes/300000" << big;
    QTest::newRow("page") << "/page.html" << QByteArray("<p>hello</p>\n");
    QTest::newRow("utf-8 text") << "/sub/zh.txt" << kChinese;
    QTest::newRow("no length") << "/nolength/bytes/300000" << big;
    QTest::newRow("chunked") << "/chunked/bytes/300000" << big;
    QTest::newRow("redirected") << "/redirect/2/bytes/300000" << big;
    QTest::newRow("empty") << "/empty.bin" << QByteArray();
    QTest::newRow("trickle") << "/trickle/20/5000/bytes/300000" << big;
}

void TstInet::downloadGivesWholeBody()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    Inet inet;
    QVERIFY(!inet.downloading());
    QSignalSpy spy(&inet, &Inet::finished);
    inet.setHashBodies(true);
    inet.startDownload(m_server.address(path));
    QVERIFY(inet.downloading());
    QVERIFY(spy.isEmpty()); // returns at once, reports later
    QVERIFY(spy.wait(10000));
    QTest::qWait(300);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).value<Inet::Outcome>(), Inet::Outcome::Completed);
    QVERIFY(!inet.downloading());

    const QByteArray got = releasedBody(inet);
    QCOMPARE(got.size(), body.size());
    QCOMPARE(got, body);
    // Hashed on the way in, whichever way the body came.
    QCOMPARE(inet.bodySha256(), QCryptographicHash::hash(body, QCryptographicHash::Sha256));
    QVERIFY(inet.releaseBodyFile().isEmpty());
}

void TstInet::laterDownloadCancelsEarlierWithoutEvent()
{
    Inet inet;
    QSignalSpy spy(&inet, &Inet::finished);
    inet.startDownload(m_server.address("/delay/300/bytes/1000"));
    inet.startDownload(m_server.address("/status/404"));
    inet.startDownload(m_server.address("/sub/zh.txt"));
    QVERIFY(spy.wait(5000));
    QTest::qWait(800); // the first two would have answered by now
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).value<Inet::Outcome>(), Inet::Outcome::Completed);
    QCOMPARE(releasedBody(inet), kChinese);
}

void TstInet::progressCountsTheBody()
{
    Inet inet;
    QList<QPair<qint64, qint64>> reports;
    connect(&inet, &Inet::progress, this,
            [&reports](qint64 received, qint64 total) { reports.append({received, total}); });
    QCOMPARE(downloadAndWait(inet, m_server.address("/trickle/10/50000/bytes/500000")),
             QList<Inet::Outcome>{Inet::Outcome::Completed});
    QCOMPARE(inet.bytesReceived(), qint64(500000));
    QCOMPARE(inet.bytesTotal(), qint64(500000));
    QVERIFY(reports.size() >= 2);
    for (qsizetype i = 1; i < reports.size(); ++i)
        QVERIFY(reports.at(i).first >= reports.at(i - 1).first);
    QCOMPARE(reports.last(), qMakePair(qint64(500000), qint64(500000)));

    QCOMPARE(downloadAndWait(inet, m_server.address("/nolength/bytes/1000")),
             QList<Inet::Outcome>{Inet::Outcome::Completed});
    QCOMPARE(inet.bytesReceived(), qint64(1000));
    QCOMPARE(inet.bytesTotal(), qint64(-1));
}

// A released body belongs to the caller: neither the next download nor the
// control's end removes it.
void TstInet::releasedBodyFileOutlivesTheControl()
{
    QTemporaryDir folder;
    QString released;
    {
        Inet inet;
        inet.setDownloadFolder(folder.path());
        QCOMPARE(downloadAndWait(inet, m_server.address("/bytes/5000")),
                 QList<Inet::Outcome>{Inet::Outcome::Completed});
        released = inet.releaseBodyFile();
        QCOMPARE(QFileInfo(released).absolutePath(), QFileInfo(folder.path()).absoluteFilePath());
        QVERIFY(inet.releaseBodyFile().isEmpty());
        QCOMPARE(downloadAndWait(inet, m_server.address("/bytes/10")),
                 QList<Inet::Outcome>{Inet::Outcome::Completed});
    }
    QFile body(released);
    QVERIFY(body.open(QIODevice::ReadOnly));
    QCOMPARE(body.readAll(), FixtureServer::patternBytes(5000));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{QFileInfo(released).fileName()});
}

void TstInet::temporaryFilesDoNotOutliveTheirUse()
{
    QTemporaryDir folder;
    QDir dir(folder.path());
    {
        Inet inet;
        inet.setDownloadFolder(folder.path());
        QCOMPARE(downloadAndWait(inet, m_server.address("/short/bytes/100000")),
                 QList<Inet::Outcome>{Inet::Outcome::Failed});
        QCOMPARE(dir.entryList(QDir::Files), QStringList());

        QCOMPARE(downloadAndWait(inet, m_server.address("/bytes/1000")),
                 QList<Inet::Outcome>{Inet::Outcome::Completed});
        QCOMPARE(dir.entryList(QDir::Files).size(), 1);
        // The next request replaces the body of the last one.
        QCOMPARE(downloadAndWait(inet, m_server.address("/bytes/2000")),
                 QList<Inet::Outcome>{Inet::Outcome::Completed});
        QCOMPARE(dir.entryList(QDir::Files).size(), 1);
        // Destroyed while a download is under way.
        inet.startDownload(m_server.address("/trickle/50/10/bytes/1000"));
        QTest::qWait(200);
    }
    QCOMPARE(dir.entryList(QDir::Files), QStringList());
}

QTEST_GUILESS_MAIN(TstInet)
#include "tst_inet.moc"
