#include "platform/windowfinder.h"
#include "platform/windowfinder_p.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <memory>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::RuntimeDirWindows;
namespace windowfiles = platform::windowfiles;

namespace {

const QString updaterClass = QStringLiteral("ThunderRT6FormDC");
const QString updaterTitle = QStringLiteral("Mosalune 更新程序");

mode_t permissions(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return mode_t(-1);
    return st.st_mode & 07777;
}

QStringList windowFiles(const QString &folder, const QString &windowClass, const QString &title)
{
    return QDir(folder).entryList({windowfiles::namePrefix(windowClass, title) + u'*'},
                                  QDir::Files | QDir::Hidden | QDir::System);
}

// The helper program showing one published window in a process of its own.
class WindowProcess
{
public:
    bool start(const QString &windowClass, const QString &title, const QString &folder)
    {
        process.start(QStringLiteral(MOSALUNE_TEST_TOOLS_DIR "/mosalune-test-window"),
                      {windowClass, title, folder});
        return waitForLine("SHOWN");
    }
    bool waitForLine(const QByteArray &line)
    {
        while (!process.canReadLine()) {
            if (!process.waitForReadyRead(15000))
                return false;
        }
        return process.readLine().trimmed() == line;
    }
    ~WindowProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    QProcess process;
};

} // namespace

class TstWindowFinder : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void followsShowHideAndDestruction();
    void matchesClassAndExactTitle_data();
    void matchesClassAndExactTitle();
    void twoWindowsOfOneTitle();
    void windowOfAnotherProcess();
    void windowOfKilledProcess();
    void plantedFilesDoNotCount();

    void givenFolderIsMadePrivate();
    void untrustworthyFolderIsRefused_data();
    void untrustworthyFolderIsRefused();
    void defaultFolder_data();
    void defaultFolder();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_folder;
};

void TstWindowFinder::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_folder = m_dir->filePath(QStringLiteral("windows"));
}

void TstWindowFinder::followsShowHideAndDestruction()
{
    RuntimeDirWindows publisher(m_folder);
    RuntimeDirWindows finder(m_folder); // as another part of the program would
    auto window = std::make_unique<QWidget>();
    auto registration = publisher.publish(window.get(), updaterClass, updaterTitle);
    QVERIFY(registration);

    QVERIFY(!finder.findWindow(updaterClass, updaterTitle));
    window->show();
    QVERIFY(finder.findWindow(updaterClass, updaterTitle));
    QVERIFY(publisher.findWindow(updaterClass, updaterTitle));
    QVERIFY(finder.findWindow(updaterClass, updaterTitle)); // looking does not disturb it

    // Withdrawn by the owner itself, not left for a finder to clear away.
    window->close();
    QVERIFY(windowFiles(m_folder, updaterClass, updaterTitle).isEmpty());
    QVERIFY(!finder.findWindow(updaterClass, updaterTitle));

    window->show();
    QVERIFY(finder.findWindow(updaterClass, updaterTitle));
    window.reset();
    QVERIFY(windowFiles(m_folder, updaterClass, updaterTitle).isEmpty());
    QVERIFY(!finder.findWindow(updaterClass, updaterTitle));

    // Shown before it was published, withdrawn with its registration.
    window = std::make_unique<QWidget>();
    window->show();
    registration = publisher.publish(window.get(), updaterClass, updaterTitle);
    QVERIFY(finder.findWindow(updaterClass, updaterTitle));
    registration.reset();
    QVERIFY(!finder.findWindow(updaterClass, updaterTitle));
    window->hide();
    window->show(); // no longer followed
    QVERIFY(!finder.findWindow(updaterClass, updaterTitle));
}

void TstWindowFinder::matchesClassAndExactTitle_data()
{
    QTest::addColumn<QString>("windowClass");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("found");

    QTest::newRow("same class and title") << updaterClass << updaterTitle << true;
    QTest::newRow("title prefix") << updaterClass << QStringLiteral("Mosalune") << false;
    QTest::newRow("longer title") << updaterClass << updaterTitle + u'1' << false;
    QTest::newRow("trailing blank") << updaterClass << updaterTitle + u' ' << false;
    QTest::newRow("other case") << updaterClass << QStringLiteral("mosalune 更新程序") << false;
    QTest::newRow("empty title") << updaterClass << QString() << false;
    QTest::newRow("other class") << QStringLiteral("ThunderRT6Form") << updaterTitle << false;
    QTest::newRow("class and title shifted")
            << QStringLiteral("ThunderRT6FormDCMosalune") << QStringLiteral(" 更新程序") << false;
}

void TstWindowFinder::matchesClassAndExactTitle()
{
    QFETCH(QString, windowClass);
    QFETCH(QString, title);
    QFETCH(bool, found);

    RuntimeDirWindows windows(m_folder);
    QWidget window;
    const auto registration = windows.publish(&window, updaterClass, updaterTitle);
    window.show();
    QCOMPARE(windows.findWindow(windowClass, title), found);
}

void TstWindowFinder::twoWindowsOfOneTitle()
{
    RuntimeDirWindows windows(m_folder);
    QWidget first;
    QWidget second;
    const auto firstRegistration = windows.publish(&first, updaterClass, updaterTitle);
    const auto secondRegistration = windows.publish(&second, updaterClass, updaterTitle);
    first.show();
    second.show();
    QCOMPARE(windowFiles(m_folder, updaterClass, updaterTitle).size(), 2);

    first.close();
    QVERIFY(windows.findWindow(updaterClass, updaterTitle));
    first.show();
    second.close();
    QVERIFY(windows.findWindow(updaterClass, updaterTitle));
    first.close();
    QVERIFY(!windows.findWindow(updaterClass, updaterTitle));
}

void TstWindowFinder::windowOfAnotherProcess()
{
    RuntimeDirWindows windows(m_folder);
    {
        WindowProcess helper;
        QVERIFY(helper.start(updaterClass, updaterTitle, m_folder));
        QVERIFY(windows.findWindow(updaterClass, updaterTitle));
        QVERIFY(!windows.findWindow(updaterClass, QStringLiteral("Mosalune")));

        helper.process.write("close\n");
        QVERIFY(helper.waitForLine("CLOSED"));
        QVERIFY(!windows.findWindow(updaterClass, updaterTitle));
        QVERIFY(helper.process.state() == QProcess::Running);
    }
    {
        // Shown until its process ends normally.
        WindowProcess helper;
        QVERIFY(helper.start(updaterClass, updaterTitle, m_folder));
        QVERIFY(windows.findWindow(updaterClass, updaterTitle));
        helper.process.closeWriteChannel();
        QVERIFY(helper.process.waitForFinished(15000));
        QCOMPARE(helper.process.exitCode(), 0);
        QVERIFY(!windows.findWindow(updaterClass, updaterTitle));
        QVERIFY(windowFiles(m_folder, updaterClass, updaterTitle).isEmpty());
    }
}

void TstWindowFinder::windowOfKilledProcess()
{
    RuntimeDirWindows windows(m_folder);
    WindowProcess helper;
    QVERIFY(helper.start(updaterClass, updaterTitle, m_folder));
    QVERIFY(windows.findWindow(updaterClass, updaterTitle));

    QCOMPARE(::kill(pid_t(helper.process.processId()), SIGKILL), 0);
    QVERIFY(helper.process.waitForFinished(15000));
    QCOMPARE(helper.process.exitStatus(), QProcess::CrashExit);
    // The dead process left its file behind; it must not count, and goes.
    QCOMPARE(windowFiles(m_folder, updaterClass, updaterTitle).size(), 1);
    QVERIFY(!windows.findWindow(updaterClass, updaterTitle));
    QVERIFY(windowFiles(m_folder, updaterClass, updaterTitle).isEmpty());

    // The same title can be shown again afterwards.
    QWidget window;
    const auto registration = windows.publish(&window, updaterClass, updaterTitle);
    window.show();
    QVERIFY(windows.findWindow(updaterClass, updaterTitle));
}

void TstWindowFinder::plantedFilesDoNotCount()
{
    RuntimeDirWindows windows(m_folder);
    const QString prefix = windowfiles::namePrefix(updaterClass, updaterTitle);
    const QString planted = m_folder + u'/' + prefix + QStringLiteral("99999-1-abc.lock");
    QCOMPARE(QProcess::execute(QStringLiteral("touch"), {planted}), 0);
    QVERIFY(QFileInfo::exists(planted));
    QVERIFY(!windows.findWindow(updaterClass, updaterTitle));
    QVERIFY(!QFileInfo::exists(planted));

    // A link under the looked-for name, to the locked file of a live window
    // with another title.
    QWidget other;
    const auto registration = windows.publish(&other, updaterClass, QStringLiteral("Mosalune"));
    other.show();
    const QStringList otherFiles = windowFiles(m_folder, updaterClass, QStringLiteral("Mosalune"));
    QCOMPARE(otherFiles.size(), 1);
    QVERIFY(QFile::link(m_folder + u'/' + otherFiles.first(), planted));
    QVERIFY(!windows.findWindow(updaterClass, updaterTitle));
    QVERIFY(windows.findWindow(updaterClass, QStringLiteral("Mosalune")));
}

void TstWindowFinder::givenFolderIsMadePrivate()
{
    const QString nested = m_dir->filePath(QStringLiteral("a/b/windows"));
    RuntimeDirWindows windows(nested);
    QCOMPARE(windows.folder(), nested);
    QCOMPARE(permissions(nested), mode_t(0700));

    // Readable by others, but nobody else could have written into it.
    const QString readable = m_dir->filePath(QStringLiteral("readable"));
    QVERIFY(QDir().mkdir(readable));
    QCOMPARE(::chmod(QFile::encodeName(readable).constData(), 0755), 0);
    RuntimeDirWindows fixed(readable);
    QCOMPARE(fixed.folder(), readable);
    QCOMPARE(permissions(readable), mode_t(0700));
}

void TstWindowFinder::untrustworthyFolderIsRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("writable by others") << QStringLiteral("writable");
    QTest::newRow("symlink") << QStringLiteral("symlink");
    QTest::newRow("regular file") << QStringLiteral("file");
    QTest::newRow("another user's") << QStringLiteral("foreign");
}

void TstWindowFinder::untrustworthyFolderIsRefused()
{
    QFETCH(QString, kind);
    const QString folder = m_dir->filePath(QStringLiteral("windows"));
    const QByteArray encoded = QFile::encodeName(folder);
    const QString target = m_dir->filePath(QStringLiteral("target"));
    QVERIFY(QDir().mkdir(target));
    QCOMPARE(::chmod(QFile::encodeName(target).constData(), 0700), 0);

    if (kind == u"writable") {
        QVERIFY(QDir().mkdir(folder));
        QCOMPARE(::chmod(encoded.constData(), 0777), 0);
    } else if (kind == u"symlink") {
        QVERIFY(QFile::link(target, folder));
    } else if (kind == u"file") {
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (kind == u"foreign") {
        if (::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        QVERIFY(QDir().mkdir(folder));
        QCOMPARE(::chmod(encoded.constData(), 0700), 0);
        QCOMPARE(::chown(encoded.constData(), 65534, 65534), 0);
    }

    RuntimeDirWindows windows(folder);
    QVERIFY(windows.folder().isEmpty());
    QWidget window;
    const auto registration = windows.publish(&window, updaterClass, updaterTitle);
    QVERIFY(registration);
    window.show();
    QVERIFY(!windows.findWindow(updaterClass, updaterTitle));
    QVERIFY(QDir(target).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
}

void TstWindowFinder::defaultFolder_data()
{
    QTest::addColumn<int>("runtimeMode"); // 0: no runtime folder
    QTest::addColumn<bool>("symlinkedFallback");
    QTest::addColumn<QString>("expectedUnder"); // "runtime", "temp" or "" for none
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QString>("display"); // DISPLAY, or WAYLAND_DISPLAY for Wayland
    QTest::addColumn<QString>("scope"); // the display's own folder in the user's

    QTest::newRow("private runtime folder") << 0700 << false << "runtime" << "offscreen" << ":5" << "offscreen";
    QTest::newRow("no runtime folder") << 0 << false << "temp" << "offscreen" << ":5" << "offscreen";
    QTest::newRow("runtime folder readable by others") << 0755 << false << "temp" << "offscreen" << ":5" << "offscreen";
    QTest::newRow("fallback is a symlink") << 0 << true << "" << "offscreen" << ":5" << "offscreen";
    // A window on another display of the user is not "running" here.
    QTest::newRow("X display") << 0700 << false << "runtime" << "xcb" << ":5" << "x11-:5";
    QTest::newRow("its second screen") << 0700 << false << "runtime" << "xcb" << "unix:5.1" << "x11-:5";
    QTest::newRow("remote X display") << 0 << false << "temp" << "xcb" << "host:10.0" << "x11-host:10";
    QTest::newRow("Wayland display") << 0700 << false << "runtime" << "wayland" << "wayland-1" << "wayland-wayland-1";
    QTest::newRow("Wayland socket") << 0700 << false << "runtime" << "wayland-egl" << "/run/w 1" << "wayland-%2Frun%2Fw%201";
}

void TstWindowFinder::defaultFolder()
{
    QFETCH(int, runtimeMode);
    QFETCH(bool, symlinkedFallback);
    QFETCH(QString, expectedUnder);
    QFETCH(QString, platform);
    QFETCH(QString, display);
    QFETCH(QString, scope);

    const QString runtime = m_dir->filePath(QStringLiteral("runtime"));
    const QString temp = m_dir->filePath(QStringLiteral("temp"));
    QVERIFY(QDir().mkdir(runtime));
    QVERIFY(QDir().mkdir(temp));
    QCOMPARE(::chmod(QFile::encodeName(runtime).constData(), mode_t(runtimeMode ? runtimeMode : 0700)), 0);

    QList<std::pair<const char *, QByteArray>> saved;
    for (const char *name : {"XDG_RUNTIME_DIR", "TMPDIR", "DISPLAY", "WAYLAND_DISPLAY"})
        saved.append({name, qgetenv(name)});
    const auto restore = qScopeGuard([&] {
        for (const auto &[name, value] : std::as_const(saved))
            qputenv(name, value);
    });
    if (runtimeMode)
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    else
        qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(temp));
    qputenv(platform.startsWith(u"wayland") ? "WAYLAND_DISPLAY" : "DISPLAY", display.toLocal8Bit());

    const QString fallback = temp + QStringLiteral("/mosalune-windows-") + QString::number(::geteuid());
    if (symlinkedFallback) {
        const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkdir(elsewhere));
        QVERIFY(QFile::link(elsewhere, fallback));
    }

    const QString folder = windowfiles::displayFolder(platform);
    if (expectedUnder.isEmpty()) {
        QVERIFY(folder.isEmpty());
        QVERIFY(RuntimeDirWindows().folder().isEmpty());
        return;
    }
    const QString user = expectedUnder == u"runtime" ? runtime + QStringLiteral("/mosalune-windows") : fallback;
    QCOMPARE(folder, user + u'/' + scope);
    QCOMPARE(permissions(folder), mode_t(0700));
    QCOMPARE(windowfiles::defaultFolder(), user); // one updater per program folder, whatever the display

    if (platform != QGuiApplication::platformName())
        return;
    RuntimeDirWindows windows;
    QCOMPARE(windows.folder(), folder);
    QWidget window;
    const auto registration = windows.publish(&window, updaterClass, updaterTitle);
    window.show();
    QVERIFY(RuntimeDirWindows().findWindow(updaterClass, updaterTitle));
}

QTEST_MAIN(TstWindowFinder)
#include "tst_windowfinder.moc"
