// The real Mosalune.exe on a real X server: its main window appears with the
// program's title, offline and against a release page from the fixture
// server; a page that cannot be cut brings up the question instead.

#include "common/pagebuilder.h"
#include "fixtureserver.h"
#include "support/xserver.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QString program = QStringLiteral(MOSALUNE_TEST_PROGRAM);
const QString mainTitle = QStringLiteral(" Mosalune   Ver13.04.20");

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
    // The page announces the running version, so that the version check
    // lets the main window open.
    const QString good = pagebuilder::ReleasePage{.version = QStringLiteral("13.04.20")}.build();
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
