// The real Mosalune.exe on a real X server: its main window appears with the
// program's title, offline and against a release page from the fixture
// server; a page that cannot be cut brings up the question instead.

#include "common/pagebuilder.h"
#include "fixtureserver.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QString program = QStringLiteral(MOSALUNE_TEST_PROGRAM);
const QString mainTitle = QStringLiteral(" Mosalune   Ver13.04.20");

// An Xvfb of the test's own, on a display number it picks itself.
class XServer
{
public:
    bool start()
    {
        m_process.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                 QStringLiteral("-screen"), QStringLiteral("0"),
                                                 QStringLiteral("1024x768x24"),
                                                 QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!m_process.waitForStarted(10000))
            return false;
        QDeadlineTimer deadline(20000);
        while (!m_process.canReadLine() && !deadline.hasExpired())
            m_process.waitForReadyRead(200);
        bool ok = false;
        const int number = m_process.readLine().trimmed().toInt(&ok);
        if (ok)
            m_display = QStringLiteral(":%1").arg(number);
        return ok;
    }
    ~XServer()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(2000);
    }
    QString display() const { return m_display; }

    // The titles and sizes of the top-level windows, as xwininfo reports them.
    QStringList windows() const
    {
        QProcess info;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        info.setProcessEnvironment(env);
        info.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
        info.waitForFinished(10000);
        QStringList found;
        static const QRegularExpression line(QStringLiteral("0x[0-9a-f]+ \"(.*)\": .* (\\d+x\\d+)\\+"));
        const QStringList lines = QString::fromUtf8(info.readAllStandardOutput()).split(QLatin1Char('\n'));
        for (const QString &l : lines) {
            const QRegularExpressionMatch m = line.match(l);
            if (m.hasMatch())
                found << m.captured(1) + QLatin1Char('|') + m.captured(2);
        }
        return found;
    }

private:
    QProcess m_process;
    QString m_display;
};

} // namespace

class TstRealProgram : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(m_x.start(), "Xvfb did not start");
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    }
    void mainWindowAppears_data();
    void mainWindowAppears();

private:
    XServer m_x;
    FixtureServer m_server;
};

void TstRealProgram::mainWindowAppears_data()
{
    QTest::addColumn<QString>("network");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("expected");
    // The page announces the running version, so the version check goes on
    // to the main window instead of offering the update.
    pagebuilder::ReleasePage current;
    current.version = QStringLiteral("13.04.20");
    const QString good = current.build();
    QTest::newRow("offline") << "offline" << good << mainTitle + "|400x322";
    QTest::newRow("push on") << "online" << good << mainTitle + "|400x322";
    QString broken = good;
    broken.replace(QStringLiteral("最新完整版"), QStringLiteral("完整版"));
    QTest::newRow("page that cannot be cut") << "online" << broken << QStringLiteral("提示:|");
}

void TstRealProgram::mainWindowAppears()
{
    QFETCH(QString, network);
    QFETCH(QString, page);
    QFETCH(QString, expected);
    m_server.writeFile(QStringLiteral("release.html"), page.toUtf8());

    QProcess mosalune;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_x.display());
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("MOSALUNE_TEST_NETWORK"), network);
    env.insert(QStringLiteral("MOSALUNE_TEST_RELEASE_PAGE"), m_server.url(QStringLiteral("/release.html")).toString());
    mosalune.setProcessEnvironment(env);
    mosalune.setWorkingDirectory(QFileInfo(program).absolutePath());
    mosalune.start(program, {});
    QVERIFY(mosalune.waitForStarted(10000));

    auto shown = [&] {
        for (const QString &w : m_x.windows())
            if (w.startsWith(expected))
                return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(shown(), 20000);
    if (!expected.startsWith(mainTitle)) {
        // The question stands alone: no main window behind it.
        for (const QString &w : m_x.windows())
            QVERIFY2(!w.startsWith(mainTitle), qPrintable(w));
    }
    QCOMPARE(mosalune.state(), QProcess::Running);
    mosalune.kill();
    mosalune.waitForFinished(5000);
}

QTEST_GUILESS_MAIN(TstRealProgram)
#include "tst_realprogram.moc"
