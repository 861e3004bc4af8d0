// The real Mosalune.exe starting in a program folder of its own on a real X
// server: the six support files of a first start, later starts that leave
// them alone, a damaged skin library, a folder that cannot be written, starts
// killed while writing, the update question, and what the see-through
// start-up windows look like on the desktop.

#include "support/pagebuilder.h"
#include "fixtureserver.h"
#include "support/files.h"
#include "support/xserver.h"

#include <QDir>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

const QString program = QStringLiteral(MOSALUNE_TEST_PROGRAM);
const QString supportDir = QStringLiteral(MOSALUNE_SUPPORT_DIR);
const QString mainTitle = QStringLiteral(" Mosalune   Ver13.04.20");

const QList<QPair<int, QString>> supportFiles{
    {101, QStringLiteral("BrontelSkin.dll")}, {102, QStringLiteral("Brontel.Skin")},
    {103, QStringLiteral("License.txt")},     {104, QStringLiteral("ReadMe.txt")},
    {105, QStringLiteral("WhatsNew.txt")},    {106, QStringLiteral("广告合作及其协议.txt")},
};

QByteArray resource(int id)
{
    return files::readAll(supportDir + QLatin1Char('/') + QString::number(id));
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

QStringList allNames()
{
    QStringList names{QStringLiteral("Mosalune.exe")};
    for (const auto &file : supportFiles)
        names << file.second;
    names.sort();
    return names;
}

// How many pixels of `r` pass `pick(x, y)`.
int pixels(const QRect &r, const std::function<bool(int, int)> &pick)
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += pick(x, y);
    return n;
}

} // namespace

class TstFirstStart : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void firstAndLaterStarts();
    void damagedSkinLibrary();
    void folderThatCannotBeWritten();
    void killedStartsLeaveNoPartialFile();
    void sameVersionOpensTheMainWindow();
    void newVersionStartsTheUpdater();
    void startupWindowsShowOnlyTheirControls_data();
    void startupWindowsShowOnlyTheirControls();
    void formsKeepTheirColoursUnderTheTheme_data();
    void formsKeepTheirColoursUnderTheTheme();

private:
    // A fresh program folder holding only Mosalune.exe.
    QString newFolder()
    {
        m_folders.push_back(std::make_unique<QTemporaryDir>());
        const QString folder = m_folders.back()->path();
        if (!QFile::copy(program, folder + QStringLiteral("/Mosalune.exe")))
            qFatal("cannot copy the program");
        return folder;
    }
    std::unique_ptr<QProcess> start(const QString &folder, const QString &network = QStringLiteral("offline"),
                                    const QString &page = QString())
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = m_x.environment();
        env.insert(QStringLiteral("MOSALUNE_TEST_NETWORK"), network);
        env.insert(QStringLiteral("MOSALUNE_TEST_RELEASE_PAGE"),
                   page.isEmpty() ? m_server.url(QStringLiteral("/status/500")).toString() : page);
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(QDir::tempPath());
        process->start(folder + QStringLiteral("/Mosalune.exe"), {});
        if (!process->waitForStarted(10000))
            return nullptr;
        return process;
    }
    static void stop(QProcess &process)
    {
        process.kill();
        process.waitForFinished(5000);
    }

    // Whether the main window is on the screen. Asked through xdotool, which
    // shrugs off windows that vanish while it looks (xwininfo gives up).
    bool mainShown() const { return m_x.shown(mainTitle) > 0; }

    // A picture of one form on the screen (mosalune-startup-shot) and what
    // the tool reports about it.
    QString shoot(const QString &form, const QString &picture, const QColor &desktop = Qt::white) const
    {
        QProcess shot;
        QProcessEnvironment env = m_x.environment();
        env.insert(QStringLiteral("MOSALUNE_SHOT_DESKTOP"), desktop.name());
        shot.setProcessEnvironment(env);
        shot.start(QStringLiteral(MOSALUNE_SHOT_TOOL), {form, picture, QStringLiteral(MOSALUNE_SKIN_DIR)});
        if (!shot.waitForFinished(30000) || shot.exitCode() != 0)
            return QString();
        const QString report = QString::fromUtf8(shot.readAllStandardOutput());
        qInfo("%s: %s", qPrintable(picture), qPrintable(QString(report).replace(QLatin1Char('\n'), QLatin1String("; "))));
        return report;
    }

    XServer m_x;
    FixtureServer m_server;
    std::vector<std::unique_ptr<QTemporaryDir>> m_folders;
};

void TstFirstStart::initTestCase()
{
    // A white desktop: whatever a window paints around its controls shows.
    QVERIFY2(m_x.start({QStringLiteral("-wr")}), "Xvfb did not start");
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    for (const auto &file : supportFiles)
        QVERIFY2(!resource(file.first).isEmpty(), qPrintable(file.second));
}

void TstFirstStart::cleanup()
{
    m_folders.clear();
}

void TstFirstStart::firstAndLaterStarts()
{
    const QString folder = newFolder();
    auto first = start(folder);
    QVERIFY(first);
    QTRY_VERIFY_WITH_TIMEOUT(mainShown(), 20000);
    QVERIFY(m_x.hasWindow(mainTitle + QStringLiteral("|400x322")));
    QCOMPARE(entries(folder), allNames());
    for (const auto &file : supportFiles)
        QVERIFY2(files::readAll(folder + QLatin1Char('/') + file.second) == resource(file.first),
                 qPrintable(file.second));
    stop(*first);
    QTRY_VERIFY(!mainShown());

    // Later starts leave every file as it is, down to its time stamp.
    const QDateTime old = QDateTime::currentDateTime().addDays(-2);
    QMap<QString, QDateTime> times;
    for (const auto &file : supportFiles) {
        QFile f(folder + QLatin1Char('/') + file.second);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
        f.close();
        times.insert(file.second, QFileInfo(f.fileName()).lastModified());
    }
    auto second = start(folder);
    QVERIFY(second);
    QTRY_VERIFY_WITH_TIMEOUT(mainShown(), 20000);
    QCOMPARE(entries(folder), allNames());
    for (const auto &file : supportFiles) {
        const QString path = folder + QLatin1Char('/') + file.second;
        QVERIFY2(files::readAll(path) == resource(file.first), qPrintable(file.second));
        QCOMPARE(QFileInfo(path).lastModified(), times.value(file.second));
    }
    stop(*second);
    QTRY_VERIFY(!mainShown());

    // The user's edit survives; a deleted file comes back.
    {
        QFile license(folder + QStringLiteral("/License.txt"));
        QVERIFY(license.open(QIODevice::WriteOnly | QIODevice::Truncate));
        license.write("edited by the user\r\n");
    }
    QVERIFY(QFile::remove(folder + QStringLiteral("/WhatsNew.txt")));
    QVERIFY(QFile::remove(folder + QStringLiteral("/Brontel.Skin")));
    // A link planted under a temporary name is not written through.
    QTemporaryDir elsewhere;
    const QString outside = elsewhere.filePath(QStringLiteral("outside.txt"));
    files::writeFile(outside, "not the program's");
    QVERIFY(QFile::link(outside, folder + QStringLiteral("/WhatsNew.txt.part")));
    auto third = start(folder);
    QVERIFY(third);
    QTRY_VERIFY_WITH_TIMEOUT(mainShown(), 20000);
    QCOMPARE(files::readAll(folder + QStringLiteral("/License.txt")), QByteArray("edited by the user\r\n"));
    QCOMPARE(files::readAll(folder + QStringLiteral("/WhatsNew.txt")), resource(105));
    QCOMPARE(files::readAll(folder + QStringLiteral("/Brontel.Skin")), resource(102));
    QCOMPARE(entries(folder), allNames());
    QVERIFY(!QFileInfo(folder + QStringLiteral("/WhatsNew.txt")).isSymLink());
    QCOMPARE(files::readAll(outside), QByteArray("not the program's"));
    stop(*third);
}

void TstFirstStart::damagedSkinLibrary()
{
    const QString folder = newFolder();
    const QByteArray library = resource(101);
    const QByteArray truncated = library.left(library.size() * 2 / 3);
    {
        QFile file(folder + QStringLiteral("/BrontelSkin.dll"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(truncated);
    }
    // Online against a page of the same version: with a working library the
    // text files would be written and the check would run.
    m_server.writeFile(QStringLiteral("same.html"), pagebuilder::ReleasePage{.version = QStringLiteral("13.04.20")}
                                                        .build()
                                                        .toUtf8());
    auto process = start(folder, QStringLiteral("online"), m_server.url(QStringLiteral("/same.html")).toString());
    QVERIFY(process);
    QTRY_VERIFY_WITH_TIMEOUT(mainShown(), 20000);
    QCOMPARE(process->state(), QProcess::Running);
    // The damaged file stays as it was; the text files were skipped with the
    // rest of the version check.
    QCOMPARE(files::readAll(folder + QStringLiteral("/BrontelSkin.dll")), truncated);
    QCOMPARE(entries(folder), QStringList({QStringLiteral("Brontel.Skin"), QStringLiteral("BrontelSkin.dll"),
                                           QStringLiteral("Mosalune.exe")}));
    stop(*process);
}

void TstFirstStart::folderThatCannotBeWritten()
{
    const QString folder = newFolder();
    // The tests run as root, whom file modes do not stop: the program runs
    // as the unprivileged user "nobody" in a folder it may only read.
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                              | QFileDevice::ExeOther | QFileDevice::ReadGroup
                                              | QFileDevice::ExeGroup));
    QProcess probe;
    probe.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                            QStringLiteral("--clear-groups"), QStringLiteral("true")});
    if (!probe.waitForFinished(5000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        QSKIP("this machine cannot run a program as another user");

    QProcess process;
    QProcessEnvironment env = m_x.environment();
    env.insert(QStringLiteral("HOME"), QDir::tempPath());
    env.insert(QStringLiteral("MOSALUNE_TEST_NETWORK"), QStringLiteral("offline"));
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(QDir::tempPath());
    process.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                              QStringLiteral("--clear-groups"), folder + QStringLiteral("/Mosalune.exe")});
    QVERIFY(process.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(m_x.shown(QStringLiteral("Mosalune 启动失败")) > 0, 20000);
    QCOMPARE(m_x.shown(mainTitle), 0);
    QCOMPARE(m_x.shown(QStringLiteral("自动更新")), 0);
    QCOMPARE(m_x.shown(QStringLiteral("Mosalune 启动失败")), 1);
    QCOMPARE(entries(folder), QStringList{QStringLiteral("Mosalune.exe")});
    // Acknowledging the report ends the program; nothing else starts.
    QVERIFY(m_x.pressKey(QStringLiteral("Mosalune 启动失败"), QStringLiteral("Return")));
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(!mainShown());
    QCOMPARE(entries(folder), QStringList{QStringLiteral("Mosalune.exe")});
}

void TstFirstStart::killedStartsLeaveNoPartialFile()
{
    // Starts killed at random moments of their first start: every support
    // file under its real name is whole, whenever the kill came.
    QString folder;
    int complete = 0;
    for (int run = 0; run < 12; ++run) {
        folder = newFolder();
        auto process = start(folder);
        QVERIFY(process);
        QThread::msleep(QRandomGenerator::global()->bounded(20, 400));
        process->kill();
        process->waitForFinished(5000);
        int written = 0;
        for (const auto &file : supportFiles) {
            const QString path = folder + QLatin1Char('/') + file.second;
            if (!QFileInfo::exists(path))
                continue;
            ++written;
            QVERIFY2(files::readAll(path) == resource(file.first), qPrintable(file.second));
        }
        complete += written == supportFiles.size();
    }
    qInfo("%d of 12 killed starts had written all six files", complete);
    // The next start completes the folder and leaves no temporary file.
    auto process = start(folder);
    QVERIFY(process);
    QTRY_VERIFY_WITH_TIMEOUT(mainShown(), 20000);
    QCOMPARE(entries(folder), allNames());
    stop(*process);
}

void TstFirstStart::sameVersionOpensTheMainWindow()
{
    m_server.writeFile(QStringLiteral("same.html"), pagebuilder::ReleasePage{.version = QStringLiteral("13.04.20")}
                                                        .build()
                                                        .toUtf8());
    const QString folder = newFolder();
    auto process = start(folder, QStringLiteral("online"), m_server.url(QStringLiteral("/same.html")).toString());
    QVERIFY(process);
    QTRY_VERIFY_WITH_TIMEOUT(mainShown(), 20000);
    QCOMPARE(m_x.shown(QStringLiteral("更新提示：")), 0);
    QCOMPARE(m_x.shown(QStringLiteral("自动更新")), 0);
    QCOMPARE(entries(folder), allNames());
    stop(*process);
}

void TstFirstStart::newVersionStartsTheUpdater()
{
    m_server.writeFile(QStringLiteral("newer.html"), pagebuilder::ReleasePage{.version = QStringLiteral("13.04.21")}
                                                         .build()
                                                         .toUtf8());
    const QString folder = newFolder();
    // A stand-in updater that notes how it was started.
    {
        QFile updater(folder + QStringLiteral("/MSLUpdate.exe"));
        QVERIFY(updater.open(QIODevice::WriteOnly));
        updater.write("#!/bin/sh\necho \"$#\" > \"$(dirname \"$0\")/updater-started\"\n");
    }
    QVERIFY(QFile::setPermissions(folder + QStringLiteral("/MSLUpdate.exe"),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    auto process = start(folder, QStringLiteral("online"), m_server.url(QStringLiteral("/newer.html")).toString());
    QVERIFY(process);
    const QString question = QStringLiteral("更新提示：");
    QTRY_VERIFY_WITH_TIMEOUT(m_x.shown(question) > 0, 20000);
    QCOMPARE(m_x.shown(question), 1);
    QCOMPARE(m_x.shown(mainTitle), 0);
    // OK is the default button.
    QVERIFY(m_x.pressKey(question, QStringLiteral("Return")));
    QVERIFY(process->waitForFinished(10000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
    QTRY_COMPARE(files::readAll(folder + QStringLiteral("/updater-started")), QByteArray("0\n"));
    QCOMPARE(m_x.shown(mainTitle), 0);
}

void TstFirstStart::startupWindowsShowOnlyTheirControls_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<bool>("compositor");
    QTest::addColumn<QColor>("desktop");
    QTest::addColumn<QColor>("text"); // the caption's colour, in solid pixels without a compositor
    const QColor white(Qt::white), black(Qt::black), dark(0x20, 0x20, 0x20), green(0, 0xc0, 0);
    QTest::newRow("splash, plain X") << "pre" << false << white << black;
    QTest::newRow("version check, plain X") << "preud" << false << white << green;
    QTest::newRow("splash, plain X, dark desktop") << "pre" << false << dark << black;
    QTest::newRow("version check, plain X, dark desktop") << "preud" << false << dark << green;
    QTest::newRow("splash, compositor") << "pre" << true << white << QColor();
    QTest::newRow("version check, compositor") << "preud" << true << white << QColor();
}

void TstFirstStart::startupWindowsShowOnlyTheirControls()
{
    QFETCH(QString, form);
    QFETCH(bool, compositor);
    QFETCH(QColor, desktop);
    QFETCH(QColor, text);
    QProcess manager;
    if (compositor) {
        manager.setProcessEnvironment(m_x.environment());
        manager.start(QStringLiteral("xcompmgr"), {});
        if (!manager.waitForStarted(5000))
            QSKIP("xcompmgr is not installed");
        QThread::msleep(500);
    }
    const QString picture = QStringLiteral(MOSALUNE_SHOT_DIR "/%1-%2-%3.png")
                                .arg(form, compositor ? QStringLiteral("composited") : QStringLiteral("plain"),
                                     desktop.name().mid(1));
    // A compositor that has only just started may not have taken over the
    // screen yet: the picture is taken again until it has.
    QString report;
    for (int attempt = 0; attempt < 5; ++attempt) {
        report = shoot(form, picture, desktop);
        QVERIFY(!report.isEmpty());
        if (report.contains(compositor ? QStringLiteral("COMPOSITED 1") : QStringLiteral("COMPOSITED 0")))
            break;
        QThread::msleep(500);
    }
    if (compositor) {
        manager.terminate();
        manager.waitForFinished(5000);
    }

    QRect window;
    QList<QRect> controls;
    for (const QString &line : report.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.split(QLatin1Char(' '));
        if (f.first() == QLatin1String("WINDOW"))
            window = QRect(f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4].toInt());
        else if (f.first() == QLatin1String("CONTROL"))
            controls << QRect(f[2].toInt(), f[3].toInt(), f[4].toInt(), f[5].toInt());
        else if (f.first() == QLatin1String("COMPOSITED"))
            QCOMPARE(f[1] == QLatin1String("1"), compositor);
    }
    QVERIFY(window.isValid());
    QCOMPARE(controls.size(), 2);

    const QImage image(picture);
    QVERIFY(!image.isNull());
    // The desktop's own colour, far from the window (the compositor's grey
    // under xcompmgr).
    QVERIFY(image.pixelColor(2, 2) == desktop || compositor);
    desktop = image.pixelColor(2, 2);
    auto white = [&](int x, int y) { return image.pixelColor(x, y) == desktop; };
    // Around the controls, inside the window: the desktop, nothing else.
    const auto onControl = [&](int x, int y) {
        return std::any_of(controls.cbegin(), controls.cend(), [&](const QRect &r) { return r.contains(x, y); });
    };
    QCOMPARE(pixels(window, [&](int x, int y) { return !onControl(x, y) && !white(x, y); }), 0);
    // The controls themselves are drawn: the bar and some text.
    for (const QRect &r : controls) {
        const int drawn = pixels(r, [&](int x, int y) { return !white(x, y); });
        QVERIFY2(drawn > 20, qPrintable(QStringLiteral("%1 drawn pixels").arg(drawn)));
    }
    if (!text.isValid())
        return;
    // The caption's second half (the Latin "BrontelSkin.dll" of the splash)
    // in its own colour, not blended into the desktop.
    const QRect caption = controls.last().adjusted(controls.last().width() / 2, 0, 0, 0);
    const int solid = pixels(caption, [&](int x, int y) { return image.pixelColor(x, y) == text; });
    QVERIFY2(solid >= 40, qPrintable(QStringLiteral("%1 pixels of %2").arg(solid).arg(text.name())));
}

void TstFirstStart::formsKeepTheirColoursUnderTheTheme_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QColor>("text");
    QTest::addColumn<bool>("onButtonFace"); // else on whatever lies behind
    QTest::newRow("push dialog") << "dialog" << "Text1" << QColor(Qt::red) << true;
    QTest::newRow("updater's change log") << "notice" << "Text1" << QColor(Qt::red) << true;
    QTest::newRow("main window's link") << "form1" << "Label1" << QColor(Qt::red) << false;
    QTest::newRow("download status line") << "ud" << "Label1" << QColor(Qt::red) << false;
    QTest::newRow("version check caption") << "preud" << "Label1" << QColor(0, 0xc0, 0) << false;
}

// What a form designed for one of its controls stays under the theme's
// application-wide sheet, on the real screen.
void TstFirstStart::formsKeepTheirColoursUnderTheTheme()
{
    QFETCH(QString, form);
    QFETCH(QString, control);
    QFETCH(QColor, text);
    QFETCH(bool, onButtonFace);
    const QString picture = QStringLiteral(MOSALUNE_SHOT_DIR "/%1-themed.png").arg(form);
    const QString report = shoot(form, picture);
    const auto m = QRegularExpression(QStringLiteral("CONTROL %1 (\\d+) (\\d+) (\\d+) (\\d+)").arg(control)).match(report);
    QVERIFY2(m.hasMatch(), qPrintable(report));
    // Inside the border the theme may draw.
    const QRect r(m.captured(1).toInt() + 3, m.captured(2).toInt() + 3, m.captured(3).toInt() - 6, m.captured(4).toInt() - 6);
    const QImage image(picture);
    const int near = pixels(r, [&](int x, int y) { // the text's colour, its edges blended
        const QRgb p = image.pixel(x, y);
        return qAbs(qRed(p) - text.red()) + qAbs(qGreen(p) - text.green()) + qAbs(qBlue(p) - text.blue()) <= 96;
    });
    QVERIFY2(near >= 10, qPrintable(QStringLiteral("%1 pixels near %2").arg(near).arg(text.name())));
    const QColor face(QRegularExpression(QStringLiteral("FACE (#\\w+)")).match(report).captured(1));
    QVERIFY(!onButtonFace || pixels(r, [&](int x, int y) { return image.pixel(x, y) == face.rgb(); }) > r.width() * r.height() / 2);
}

QTEST_GUILESS_MAIN(TstFirstStart)
#include "tst_firststart.moc"
