#include "common/errors.h"
#include "platform/skinlibrary.h"
#include "support/files.h"

#include <QApplication>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

// The skin library as the programs use it: the built BrontelSkin.dll, loaded
// by path, with the built theme.
class TstSkinLibrary : public QObject
{
    Q_OBJECT

private slots:
    void init() { qApp->setStyleSheet(QString()); }
    void loadFailures_data();
    void loadFailures();
    void callsBeforeLoadFail();
    void attachAppliesTheTheme();
    void foreignThemesChangeNothing_data();
    void foreignThemesChangeNothing();
    void attachKeepsControlsInPlace();
    void setAeroFindsTheWindow();

private:
    QString copyOf(const QString &source, const QString &name, qsizetype keep = -1)
    {
        QByteArray bytes = files::readAll(source);
        if (keep >= 0)
            bytes.truncate(keep);
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    QString themeWith(const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("theme-%1.Skin").arg(++m_themes));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    QTemporaryDir m_dir;
    int m_themes = 0;
};

void TstSkinLibrary::loadFailures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
    const QString library = QStringLiteral(MOSALUNE_SKIN_LIBRARY);
    QTest::newRow("missing") << m_dir.filePath(QStringLiteral("BrontelSkin.dll")) << "找不到";
    QTest::newRow("truncated") << copyOf(library, QStringLiteral("half.dll"), files::readAll(library).size() / 2)
                               << "无法载入";
    QTest::newRow("empty") << copyOf(library, QStringLiteral("empty.dll"), 0) << "无法载入";
    QTest::newRow("not a library") << copyOf(QStringLiteral(MOSALUNE_SKIN_THEME), QStringLiteral("theme.dll"))
                                   << "无法载入";
    QTest::newRow("one entry point") << QStringLiteral(MOSALUNE_PARTIAL_SKIN) << "SkinH_SetAero";
}

void TstSkinLibrary::loadFailures()
{
    QFETCH(QString, path);
    QFETCH(QString, reason);
    platform::SharedSkinLibrary library;
    try {
        library.load(path);
        QFAIL("load did not fail");
    } catch (const common::RunError &error) {
        QVERIFY2(error.message().contains(reason), qPrintable(error.message()));
    }
    // A failed load leaves nothing callable behind.
    QVERIFY_THROWS_EXCEPTION(common::RunError, library.SkinH_SetAero(0));
}

void TstSkinLibrary::callsBeforeLoadFail()
{
    platform::SharedSkinLibrary library;
    QVERIFY_THROWS_EXCEPTION(common::RunError,
                             library.SkinH_AttachEx(QStringLiteral(MOSALUNE_SKIN_THEME), QString()));
    QVERIFY(qApp->styleSheet().isEmpty());
}

void TstSkinLibrary::attachAppliesTheTheme()
{
    platform::SharedSkinLibrary library;
    library.load(copyOf(QStringLiteral(MOSALUNE_SKIN_LIBRARY), QStringLiteral("BrontelSkin.dll")));
    // A path with Chinese in it reaches the library intact.
    const QString theme = copyOf(QStringLiteral(MOSALUNE_SKIN_THEME), QStringLiteral("皮肤.Skin"));
    QCOMPARE(library.SkinH_AttachEx(theme, QString()), 0);
    const QByteArray bytes = files::readAll(theme);
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(bytes.mid(bytes.indexOf('\n') + 1)));
    QVERIFY(qApp->styleSheet().contains(QStringLiteral("QProgressBar::chunk")));

    // A window made afterwards is drawn with the theme: the bar's chunk is
    // the theme's blue, not the default style's.
    QProgressBar bar;
    bar.setRange(0, 10);
    bar.setValue(10);
    bar.setTextVisible(false);
    bar.resize(100, 14);
    const QImage image = bar.grab().toImage();
    const QColor middle = image.pixelColor(50, 7);
    QVERIFY2(middle.blue() > 150 && middle.red() < 120, qPrintable(middle.name()));
}

void TstSkinLibrary::foreignThemesChangeNothing_data()
{
    QTest::addColumn<QString>("theme");
    QTest::addColumn<int>("result");
    QTest::newRow("missing") << m_dir.filePath(QStringLiteral("none.Skin")) << 2;
    QTest::newRow("empty") << themeWith(QByteArray()) << 3;
    QTest::newRow("no magic") << themeWith("QPushButton { color: red; }") << 3;
    QTest::newRow("magic only") << themeWith(".SHE") << 3;
    QTest::newRow("another format") << themeWith(".SHE bin 7\nQPushButton { color: red; }") << 3;
    QTest::newRow("not utf-8") << themeWith(".SHE qss 1\nQPushButton { color: \xff\xfe; }") << 3;
}

void TstSkinLibrary::foreignThemesChangeNothing()
{
    QFETCH(QString, theme);
    QFETCH(int, result);
    platform::SharedSkinLibrary library;
    library.load(QStringLiteral(MOSALUNE_SKIN_LIBRARY));
    qApp->setStyleSheet(QStringLiteral("QLabel { color: green; }"));
    QCOMPARE(library.SkinH_AttachEx(theme, QStringLiteral("secret")), result);
    QCOMPARE(qApp->styleSheet(), QStringLiteral("QLabel { color: green; }"));
}

void TstSkinLibrary::attachKeepsControlsInPlace()
{
    QWidget window;
    window.resize(200, 80);
    auto *bar = new QProgressBar(&window);
    bar->setGeometry(0, 2, 185, 14);
    auto *other = new QWidget(&window);
    other->setGeometry(10, 30, 50, 20);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    platform::SharedSkinLibrary library;
    library.load(QStringLiteral(MOSALUNE_SKIN_LIBRARY));
    QCOMPARE(library.SkinH_AttachEx(QStringLiteral(MOSALUNE_SKIN_THEME), QString()), 0);
    QCOMPARE(library.SkinH_SetAero(platform::skinWindowHandle(window)), 0);
    QCoreApplication::processEvents();
    QCOMPARE(bar->geometry(), QRect(0, 2, 185, 14));
    QCOMPARE(other->geometry(), QRect(10, 30, 50, 20));
    QCOMPARE(window.size(), QSize(200, 80));
}

void TstSkinLibrary::setAeroFindsTheWindow()
{
    QWidget first;
    QWidget second;
    first.show();
    second.show();
    platform::SharedSkinLibrary library;
    library.load(QStringLiteral(MOSALUNE_SKIN_LIBRARY));
    QCOMPARE(library.SkinH_SetAero(platform::skinWindowHandle(second)), 0);
    QCOMPARE(second.property("skinAero").toBool(), true);
    QVERIFY(!first.property("skinAero").isValid());
    // No window of this program has handle 0.
    QCOMPARE(library.SkinH_SetAero(0), 4);
}

QTEST_MAIN(TstSkinLibrary)
#include "tst_skinlibrary.moc"
