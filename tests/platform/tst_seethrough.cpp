#include "platform/seethrough.h"

#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QWidget>

// The window shape of a see-through window on a desktop without compositor;
// what it looks like on a real X server is checked by the program tests.
class TestSeeThrough : public QObject
{
    Q_OBJECT

private slots:
    void maskFollowsTheControls();
    void translucentWindowsHaveNoShape();
    void offscreenDesktopDoesNotComposite();
};

void TestSeeThrough::maskFollowsTheControls()
{
    QWidget window;
    window.resize(285, 34);
    auto *bar = new QProgressBar(&window);
    bar->setGeometry(0, 2, 285, 14);
    auto *label = new QLabel(QStringLiteral("正在加载系统文件..."), &window);
    label->setGeometry(61, 15, 148, 16);
    auto *hidden = new QLabel(&window);
    hidden->setGeometry(0, 20, 40, 10);
    hidden->hide();

    platform::makeSeeThrough(window, platform::SeeThrough::Mask);
    QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(!window.testAttribute(Qt::WA_TranslucentBackground));
    const QRegion both = QRegion(0, 2, 285, 14) + QRegion(61, 15, 148, 16);
    QCOMPARE(window.mask(), both);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.mask(), both);

    // Controls that move, change size, appear or disappear later reshape it.
    label->setGeometry(70, 18, 100, 16);
    QCOMPARE(window.mask(), QRegion(0, 2, 285, 14) + QRegion(70, 18, 100, 16));
    hidden->show();
    QCOMPARE(window.mask(), QRegion(0, 2, 285, 14) + QRegion(70, 18, 100, 16) + QRegion(0, 20, 40, 10));
    hidden->hide();
    bar->hide();
    QCOMPARE(window.mask(), QRegion(70, 18, 100, 16));
    auto *late = new QLabel(&window);
    late->setGeometry(5, 5, 10, 10);
    late->show();
    QCOMPARE(window.mask(), QRegion(70, 18, 100, 16) + QRegion(5, 5, 10, 10));
    delete late;
    QCOMPARE(window.mask(), QRegion(70, 18, 100, 16));
    // Without a visible control nothing of the background may show.
    label->hide();
    QCOMPARE(window.mask(), QRegion(0, 0, 1, 1));

    // Asking twice keeps one shape keeper.
    label->show();
    platform::makeSeeThrough(window, platform::SeeThrough::Mask);
    QCOMPARE(window.mask(), QRegion(70, 18, 100, 16));
}

void TestSeeThrough::translucentWindowsHaveNoShape()
{
    QWidget window;
    window.resize(312, 46);
    (new QProgressBar(&window))->setGeometry(0, 0, 313, 17);
    platform::makeSeeThrough(window, platform::SeeThrough::Translucent);
    QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
    QVERIFY(window.mask().isEmpty());
}

void TestSeeThrough::offscreenDesktopDoesNotComposite()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    QVERIFY(!platform::desktopComposites());
    QCOMPARE(platform::seeThroughForDesktop(), platform::SeeThrough::Mask);
}

QTEST_MAIN(TestSeeThrough)
#include "tst_seethrough.moc"
