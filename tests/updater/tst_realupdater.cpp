// The real MSLUpdate.exe on a real X server, against the fixture server: the
// notice window appears with its title and size; "确定" clicked with the
// mouse brings the download window, which fetches three files, puts them in
// place and starts the new "Mosalune.exe"; a second updater is refused while
// one runs, also after an earlier one was killed.

#include "common/pagebuilder.h"
#include "fixtureserver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString program = QStringLiteral(MSLUPDATE_TEST_PROGRAM);
const QString noticeTitle = QStringLiteral("Mosalune 更新程序");

// A top-level window as xwininfo reports it.
struct Window {
    QString title;
    QSize size;
    QPoint at;
};

// An Xvfb of the test's own, on a display number it picks itself.
class XServer
{
public:
    bool start()
    {
        m_process.start(QStringLiteral("Xvfb"),
                        {QStringLiteral("-displayfd"), QStringLiteral("1"),
                         QStringLiteral("-screen"), QStringLiteral("0"),
                         QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                         QStringLiteral("tcp")});
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

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return env;
    }

    int run(const QString &tool, const QStringList &arguments, QByteArray *output = nullptr) const
    {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(tool, arguments);
        if (!process.waitForFinished(10000))
            return -1;
        if (output)
            *output = process.readAllStandardOutput();
        return process.exitCode();
    }

    QList<Window> windows() const
    {
        QByteArray out;
        run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")}, &out);
        QList<Window> found;
        static const QRegularExpression line(QStringLiteral(
            "0x[0-9a-f]+ \"(.*)\": .* (\\d+)x(\\d+)\\+-?\\d+\\+-?\\d+ +\\+(-?\\d+)\\+(-?\\d+)"));
        for (const QString &l : QString::fromUtf8(out).split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch m = line.match(l);
            if (m.hasMatch())
                found.append({m.captured(1), QSize(m.captured(2).toInt(), m.captured(3).toInt()),
                              QPoint(m.captured(4).toInt(), m.captured(5).toInt())});
        }
        return found;
    }

    std::optional<Window> window(const QString &title, const QSize &size = QSize()) const
    {
        for (const Window &w : windows())
            if (w.title == title && (!size.isValid() || w.size == size))
                return w;
        return std::nullopt;
    }

    // Whether a window of exactly that title is mapped (xwininfo lists hidden
    // ones too).
    bool visible(const QString &title) const
    {
        // xdotool matches a POSIX extended expression.
        QString pattern;
        for (const QChar c : title) {
            if (QStringLiteral(".[]{}()\\*+?^$|").contains(c))
                pattern += QLatin1Char('\\');
            pattern += c;
        }
        return run(QStringLiteral("xdotool"),
                   {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                    QStringLiteral("--name"), QLatin1Char('^') + pattern + QLatin1Char('$')}) == 0;
    }

    // For a person to look at; not every machine has the tool.
    void screenshot(const QString &name) const
    {
        run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                       QStringLiteral(MSLUPDATE_SCREENSHOT_DIR "/") + name});
    }

    bool click(const QPoint &at) const
    {
        return run(QStringLiteral("xdotool"),
                   {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                    QStringLiteral("click"), QStringLiteral("1")}) == 0;
    }

private:
    QProcess m_process;
    QString m_display;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The stand-in main program: it leaves a mark beside itself when started.
const QByteArray standIn = "#!/bin/sh\necho started > \"$(dirname \"$0\")/mosalune-started\"\n";

} // namespace

class TstRealUpdater : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void noticeThenDownloadThenRestart();
    void secondUpdaterIsRefused();
    void refusedWhileTheMainProgramRuns();

private:
    // A program folder holding the updater and an old companion file.
    bool makeProgramFolder(QTemporaryDir &folder);
    void startUpdater(QProcess &updater, const QTemporaryDir &folder, const QString &page);

    XServer m_x;
    FixtureServer m_server;
    QTemporaryDir m_runtime;
};

void TstRealUpdater::initTestCase()
{
    QVERIFY2(m_x.start(), "Xvfb did not start");
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    // The window registry and the single-instance lock live here, away from
    // any real updater of the user.
    QVERIFY(QFile::setPermissions(m_runtime.path(), QFileDevice::ReadOwner |
                                                        QFileDevice::WriteOwner |
                                                        QFileDevice::ExeOwner));
    m_server.writeFile("files/main.sh", standIn);
    m_server.writeFile("files/updater.bin", "new updater");
    m_server.writeFile("files/notes.txt", "new notes");

    pagebuilder::ReleasePage page;
    page.files.clear();
    const QList<QPair<QString, QString>> files{{"Mosalune.exe", "/files/main.sh"},
                                               {"MSLUpdate.exe", "/files/updater.bin"},
                                               {"ReadMe.txt", "/files/notes.txt"}};
    int ordinal = 1;
    for (const auto &[name, body] : files) {
        const QString share = QStringLiteral("share/%1.html").arg(ordinal);
        m_server.writeFile(share, pagebuilder::sharePage(m_server.address(body)).toUtf8());
        page.files << pagebuilder::fileEntry(ordinal++, name, m_server.address("/" + share));
    }
    m_server.writeFile("release.html", page.build().toUtf8());
}

bool TstRealUpdater::makeProgramFolder(QTemporaryDir &folder)
{
    const QString copy = folder.filePath(QStringLiteral("MSLUpdate.exe"));
    QFile readMe(folder.filePath(QStringLiteral("ReadMe.txt")));
    // The skin as the main program leaves it beside itself.
    return QFile::copy(program, copy) && QFile::setPermissions(copy, QFile::permissions(program)) &&
           QFile::copy(QStringLiteral(MOSALUNE_SKIN_LIBRARY), folder.filePath("BrontelSkin.dll")) &&
           QFile::copy(QStringLiteral(MOSALUNE_SKIN_THEME), folder.filePath("Brontel.Skin")) &&
           readMe.open(QIODevice::WriteOnly) && readMe.write("old notes") == 9;
}

void TstRealUpdater::startUpdater(QProcess &updater, const QTemporaryDir &folder,
                                  const QString &page)
{
    QProcessEnvironment env = m_x.environment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    env.insert(QStringLiteral("MOSALUNE_TEST_NETWORK"), QStringLiteral("online"));
    env.insert(QStringLiteral("MOSALUNE_TEST_RELEASE_PAGE"), m_server.address(page));
    updater.setProcessEnvironment(env);
    updater.setWorkingDirectory(folder.path());
    updater.start(folder.filePath(QStringLiteral("MSLUpdate.exe")), {});
    QVERIFY(updater.waitForStarted(10000));
}

void TstRealUpdater::noticeThenDownloadThenRestart()
{
    QTemporaryDir folder;
    QVERIFY(makeProgramFolder(folder));
    const QByteArray updaterBytes = readAll(folder.filePath("MSLUpdate.exe"));
    QProcess updater;
    startUpdater(updater, folder, "/release.html");

    std::optional<Window> notice;
    QTRY_VERIFY_WITH_TIMEOUT((notice = m_x.window(noticeTitle, QSize(257, 337))).has_value(),
                             20000);
    QTRY_VERIFY_WITH_TIMEOUT(m_x.visible(noticeTitle), 10000);
    QTest::qWait(500); // drawn before the picture is taken
    m_x.screenshot(QStringLiteral("realupdater-notice.png"));

    // "确定" lies at 8, 298 (89 × 33) in the window.
    QVERIFY(m_x.click(notice->at + QPoint(52, 314)));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder.filePath("NewMSLUpdate.exe")), 20000);
    m_x.screenshot(QStringLiteral("realupdater-download.png"));
    // The notice window has gone; the download window is the only one.
    QVERIFY(!m_x.visible(noticeTitle));

    // Five seconds of countdown, then the new main program starts.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder.filePath("mosalune-started")), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(updater.state(), QProcess::NotRunning, 10000);
    QCOMPARE(updater.exitStatus(), QProcess::NormalExit);
    QCOMPARE(updater.exitCode(), 0);
    QCOMPARE(readAll(folder.filePath("Mosalune.exe")), standIn);
    QCOMPARE(readAll(folder.filePath("NewMSLUpdate.exe")), QByteArray("new updater"));
    QCOMPARE(readAll(folder.filePath("ReadMe.txt")), QByteArray("new notes"));
    QVERIFY(readAll(folder.filePath("MSLUpdate.exe")) == updaterBytes);
    const QStringList left = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    QCOMPARE(left, QStringList({"Brontel.Skin", "BrontelSkin.dll", "MSLUpdate.exe", "Mosalune.exe",
                                "NewMSLUpdate.exe", "ReadMe.txt", "mosalune-started"}));
}

void TstRealUpdater::secondUpdaterIsRefused()
{
    QTemporaryDir folder;
    QVERIFY(makeProgramFolder(folder));
    QProcess first;
    startUpdater(first, folder, "/release.html");
    QTRY_VERIFY_WITH_TIMEOUT(m_x.window(noticeTitle, QSize(257, 337)).has_value(), 20000);

    QProcess second;
    startUpdater(second, folder, "/release.html");
    QTRY_VERIFY_WITH_TIMEOUT(m_x.visible(QStringLiteral("提示：")), 20000);
    m_x.screenshot(QStringLiteral("realupdater-second.png"));
    QCOMPARE(second.state(), QProcess::Running); // waiting for its message to be closed
    second.kill();
    second.waitForFinished(5000);

    // The first one dies without tidying up; the next start is not locked out.
    first.kill();
    QTRY_COMPARE_WITH_TIMEOUT(first.state(), QProcess::NotRunning, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_x.visible(noticeTitle), 10000);
    QProcess third;
    startUpdater(third, folder, "/release.html");
    QTRY_VERIFY_WITH_TIMEOUT(m_x.window(noticeTitle, QSize(257, 337)).has_value(), 20000);
    QVERIFY(!m_x.visible(QStringLiteral("提示：")));
    third.kill();
    third.waitForFinished(5000);
}

// The real main program, offline, with its main window open: the updater's
// download window finds it (whatever its version) and refuses.
void TstRealUpdater::refusedWhileTheMainProgramRuns()
{
    QProcess mosalune;
    QProcessEnvironment env = m_x.environment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    env.insert(QStringLiteral("MOSALUNE_TEST_NETWORK"), QStringLiteral("offline"));
    mosalune.setProcessEnvironment(env);
    const QString mainProgram = QStringLiteral(MOSALUNE_TEST_PROGRAM);
    mosalune.setWorkingDirectory(QFileInfo(mainProgram).absolutePath());
    mosalune.start(mainProgram, {});
    QVERIFY(mosalune.waitForStarted(10000));
    const auto stop = qScopeGuard([&] {
        mosalune.kill();
        mosalune.waitForFinished(5000);
    });
    QTRY_VERIFY_WITH_TIMEOUT(m_x.visible(QStringLiteral(" Mosalune   Ver13.04.20")), 30000);

    QTemporaryDir folder;
    QVERIFY(makeProgramFolder(folder));
    QProcess updater;
    startUpdater(updater, folder, "/release.html");
    std::optional<Window> notice;
    QTRY_VERIFY_WITH_TIMEOUT((notice = m_x.window(noticeTitle, QSize(257, 337))).has_value(),
                             20000);
    QTRY_VERIFY_WITH_TIMEOUT(m_x.visible(noticeTitle), 10000);
    QVERIFY(m_x.click(notice->at + QPoint(52, 314)));
    QTRY_VERIFY_WITH_TIMEOUT(m_x.visible(QStringLiteral("Mosalune 更新提示:")), 20000);
    m_x.screenshot(QStringLiteral("realupdater-mainopen.png"));
    // Nothing was fetched or written.
    QVERIFY(!QFile::exists(folder.filePath("NewMSLUpdate.exe")));
    QVERIFY(!QFile::exists(folder.filePath("Mosalune.exe")));
    QCOMPARE(readAll(folder.filePath("ReadMe.txt")), QByteArray("old notes"));
    updater.kill();
    updater.waitForFinished(5000);
}

QTEST_GUILESS_MAIN(TstRealUpdater)
#include "tst_realupdater.moc"
