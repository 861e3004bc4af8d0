// The splash window: which skin files it writes, how its bar and caption follow
// the writing, and how it ends when a file cannot be written.

#include "support/fakeservices.h"
#include "support/files.h"

#include "main/splash/splashwindow.h"
#include "main/supportfiles.h"
#include "platform/appinfo.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kLibrary = QStringLiteral("BrontelSkin.dll");
const QString kTheme = QStringLiteral("Brontel.Skin");

struct Splash {
    fakes::FakeDialogs dialogs;
    fakes::FakeShell shell;
    fakes::FakeNetworkState network{false};
    fakes::FakeWindowFinder windows;
    platform::AppInfo app;
    mosalune::ProgramState state;
    fakes::FakeResources resources = fakes::FakeResources::supportFiles();
    fakes::FakeSkinLibrary skin;
    mosalune::Services services{dialogs, shell, network, windows, app, state};
    mosalune::StartupServices startup{services, resources, skin};
    std::unique_ptr<mosalune::SplashWindow> pre;

    explicit Splash(const QString &folder) { app.folder = folder; }

    // Every (maximum, value) the bar showed and every caption, in order.
    QList<QPair<int, int>> bar;
    QStringList captions;

    bool load()
    {
        pre = std::make_unique<mosalune::SplashWindow>(startup);
        QObject::connect(pre->ProgressBar1(), &QProgressBar::valueChanged, [this](int value) {
            bar.append({pre->ProgressBar1()->maximum(), value});
            // The bar is full exactly when the last byte is written, never
            // before: the file is complete (still under its temporary name).
            if (value == pre->ProgressBar1()->maximum() && value > 0) {
                const QString name = pre->Label1()->text().mid(QStringLiteral("正在加载").size());
                fullSizes.append(QFileInfo(state.AppDir + mosalune::partialName(name)).size());
            }
        });
        captions.append(pre->Label1()->text());
        resources.onRequest = [this](int) {
            visibleWhileWriting.append(pre->isVisible());
            captions.append(pre->Label1()->text());
        };
        const bool ok = pre->load();
        captions.append(pre->Label1()->text());
        return ok;
    }
    QList<qint64> fullSizes;
    QList<bool> visibleWhileWriting;
};

} // namespace

class TstSplash : public QObject
{
    Q_OBJECT
private slots:
    void appDir_data();
    void appDir();
    void firstStartWritesBoth();
    void writesOnlyWhatIsMissing_data();
    void writesOnlyWhatIsMissing();
    void partialFileOfAnInterruptedStartIsReplaced();
    void fileThatCannotBeWritten_data();
    void fileThatCannotBeWritten();
    void windowShowsOnlyItsControls();
};

void TstSplash::appDir_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "/opt/Mosalune" << "/opt/Mosalune/";
    QTest::newRow("root") << "/" << "/";
    QTest::newRow("trailing separator") << "/opt/Mosalune/" << "/opt/Mosalune/";
    QTest::newRow("chinese") << "/home/用户/九宫格" << "/home/用户/九宫格/";
}

void TstSplash::appDir()
{
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    QCOMPARE(mosalune::appDirFor(folder), expected);
}

void TstSplash::firstStartWritesBoth()
{
    QTemporaryDir dir;
    Splash splash(dir.path());
    QVERIFY(splash.load());
    QCOMPARE(splash.state.AppDir, dir.path() + QLatin1Char('/'));
    QCOMPARE(files::readAll(dir.filePath(kLibrary)), splash.resources.resources.value(101));
    QCOMPARE(files::readAll(dir.filePath(kTheme)), splash.resources.resources.value(102));
    // Only the two skin files, and no temporary file left.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name),
             QStringList({kTheme, kLibrary}));
    QCOMPARE(splash.resources.requested, QList<int>({101, 102}));
    QCOMPARE(splash.visibleWhileWriting, QList<bool>({true, true}));
    QCOMPARE(splash.captions, QStringList({QStringLiteral("正在加载系统文件..."), QStringLiteral("正在加载系统文件..."),
                                           QStringLiteral("正在加载BrontelSkin.dll"),
                                           QStringLiteral("正在加载Brontel.Skin")}));

    // The bar runs over each file's bytes in chunks, from 0 to its size.
    const int chunk = int(mosalune::SplashWindow::chunkSize);
    QList<QPair<int, int>> expected;
    for (const int size : {5000, 3000}) {
        // The bar starts at 0 for each file (the first already stands there).
        if (size == 3000)
            expected.append({size, 0});
        for (int written = chunk; written < size + chunk; written += chunk)
            expected.append({size, qMin(written, size)});
    }
    QCOMPARE(splash.bar, expected);
    QCOMPARE(splash.fullSizes, QList<qint64>({5000, 3000}));
    QVERIFY(!splash.pre->isVisible());
    QVERIFY(splash.dialogs.messages.isEmpty());
}

void TstSplash::writesOnlyWhatIsMissing_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QList<int>>("requested");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("maximum");
    QTest::newRow("both present") << QStringList{kLibrary, kTheme} << QList<int>{}
                                  << QStringLiteral("正在加载系统文件...") << 100;
    QTest::newRow("theme missing") << QStringList{kLibrary} << QList<int>{102}
                                   << QStringLiteral("正在加载Brontel.Skin") << 3000;
    QTest::newRow("library missing") << QStringList{kTheme} << QList<int>{101}
                                     << QStringLiteral("正在加载BrontelSkin.dll") << 5000;
}

void TstSplash::writesOnlyWhatIsMissing()
{
    QFETCH(QStringList, present);
    QFETCH(QList<int>, requested);
    QFETCH(QString, caption);
    QFETCH(int, maximum);
    QTemporaryDir dir;
    // What is there stays as it is, even when it is not what the program
    // carries (an empty file, the user's own).
    QDateTime old = QDateTime::currentDateTime().addDays(-3);
    for (const QString &name : present) {
        files::writeFile(dir.filePath(name), "user's " + name.toUtf8());
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    Splash splash(dir.path());
    QVERIFY(splash.load());
    QCOMPARE(splash.resources.requested, requested);
    QCOMPARE(splash.pre->Label1()->text(), caption);
    QCOMPARE(splash.pre->ProgressBar1()->maximum(), maximum);
    QCOMPARE(splash.pre->ProgressBar1()->value(), present.size() == 2 ? 0 : maximum);
    for (const QString &name : present) {
        QCOMPARE(files::readAll(dir.filePath(name)), "user's " + name.toUtf8());
        QCOMPARE(QFileInfo(dir.filePath(name)).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void TstSplash::partialFileOfAnInterruptedStartIsReplaced()
{
    QTemporaryDir dir;
    // A start killed while writing leaves only the temporary file; the real
    // name was never used, so the next start writes the library again.
    files::writeFile(dir.filePath(mosalune::partialName(kLibrary)), QByteArray(9000, 'x'));
    Splash splash(dir.path());
    QVERIFY(splash.load());
    QCOMPARE(files::readAll(dir.filePath(kLibrary)), splash.resources.resources.value(101));
    QVERIFY(!QFileInfo::exists(dir.filePath(mosalune::partialName(kLibrary))));
}

void TstSplash::fileThatCannotBeWritten_data()
{
    QTest::addColumn<QString>("blocked");  // a folder standing where the file must go
    QTest::addColumn<QString>("named");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("library") << mosalune::partialName(kLibrary) << kLibrary
                             << QStringList{mosalune::partialName(kLibrary)};
    QTest::newRow("theme") << mosalune::partialName(kTheme) << kTheme
                           << QStringList{mosalune::partialName(kTheme), kLibrary};
    QTest::newRow("folder missing") << QString() << kLibrary << QStringList{};
}

void TstSplash::fileThatCannotBeWritten()
{
    QFETCH(QString, blocked);
    QFETCH(QString, named);
    QFETCH(QStringList, left);
    QTemporaryDir dir;
    QString folder = dir.path();
    if (blocked.isEmpty())
        folder = dir.filePath(QStringLiteral("gone"));
    else
        QVERIFY(QDir(dir.path()).mkdir(blocked));
    Splash splash(folder);
    QVERIFY(!splash.load());
    QCOMPARE(splash.dialogs.messages.size(), 1);
    const fakes::Message message = splash.dialogs.messages.first();
    QVERIFY2(message.text.startsWith(QStringLiteral("无法写入文件 ")
                                     + QDir::toNativeSeparators(splash.state.AppDir + named)),
             qPrintable(message.text));
    QVERIFY2(message.text.contains(QStringLiteral("原因：")), qPrintable(message.text));
    QCOMPARE(message.buttons, platform::MessageButtons::Ok);
    QCOMPARE(message.icon, platform::MessageIcon::Critical);
    QVERIFY(!splash.pre->isVisible());
    // Nothing half-written under a real name; the blocking folder is the
    // only thing there besides files that were complete.
    QStringList entries = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                                     QDir::Name);
    QCOMPARE(entries, left);
    if (left.contains(kLibrary))
        QCOMPARE(files::readAll(dir.filePath(kLibrary)), splash.resources.resources.value(101));
}

void TstSplash::windowShowsOnlyItsControls()
{
    QTemporaryDir dir;
    Splash splash(dir.path());
    QVERIFY(splash.load());
    mosalune::SplashWindow &pre = *splash.pre;
    QCOMPARE(pre.windowTitle(), QStringLiteral("自动更新"));
    QVERIFY(pre.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(pre.size(), QSize(285, 34));
    QCOMPARE(pre.ProgressBar1()->geometry(), QRect(0, 2, 285, 14));
    QCOMPARE(pre.Label1()->geometry(), QRect(61, 15, 148, 16));
    QCOMPARE(pre.Label1()->font().family(), QStringLiteral("Tahoma"));
    // Offscreen has no compositor: the window is cut to its two controls.
    const QRegion shape = pre.mask();
    QCOMPARE(shape.intersected(QRect(0, 2, 285, 14)), QRegion(0, 2, 285, 14));
    QVERIFY(!shape.subtracted(QRegion(0, 2, 285, 14)).isEmpty());
    QVERIFY(shape.subtracted(QRegion(0, 2, 285, 14) + QRegion(61, 15, 148, 16)).isEmpty());
}

QTEST_MAIN(TstSplash)
#include "tst_splash.moc"
