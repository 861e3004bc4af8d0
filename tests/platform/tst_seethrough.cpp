#include "platform/seethrough.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <QWidget>

// The window shape of a see-through window on a desktop without compositor;
// what it looks like on a real X server is checked by the program tests.
class TstSeeThrough : public QObject
{
    Q_OBJECT

private slots:
    void maskFollowsTheControls();
    void translucentWindowsHaveNoShape();
    void offscreenDesktopDoesNotComposite();
};

namespace {
// The part of the window's shape that lies on rect.
QRegion on(const QWidget &window, const QRect &rect)
{
    return window.mask().intersected(rect);
}
} // namespace

void TstSeeThrough::maskFollowsTheControls()
{
    QWidget window;
    window.resize(285, 34);
    auto *bar = new QProgressBar(&window);
    bar->setGeometry(0, 2, 285, 14);
    auto *label = new QLabel(QStringLiteral("正在加载系统文件..."), &window);
    label->setGeometry(61, 18, 148, 16);
    auto *hidden = new QLineEdit(&window);
    hidden->setGeometry(0, 20, 40, 10);
    hidden->hide();

    platform::makeSeeThrough(window, platform::SeeThrough::Mask);
    QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(!window.testAttribute(Qt::WA_TranslucentBackground));
    // The bar whole, the label only where its text is, nothing else.
    const QRect barRect(0, 2, 285, 14);
    QRect labelRect(61, 18, 148, 16);
    QCOMPARE(on(window, barRect), QRegion(barRect));
    const QRegion text = on(window, labelRect);
    QVERIFY(!text.isEmpty());
    QVERIFY(text.boundingRect().width() < labelRect.width());
    QVERIFY(window.mask().subtracted(QRegion(barRect) + labelRect).isEmpty());

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(on(window, barRect), QRegion(barRect));
    QCOMPARE(on(window, labelRect), text);

    // A longer text reshapes the window once it is painted.
    label->setText(QStringLiteral("正在加载BrontelSkin.dll"));
    QTRY_VERIFY(on(window, labelRect).boundingRect().width() > text.boundingRect().width());

    // Controls that move, change size, appear or disappear later reshape it.
    labelRect = QRect(70, 20, 148, 14);
    label->setGeometry(labelRect);
    QVERIFY(!on(window, labelRect).isEmpty());
    QVERIFY(window.mask().subtracted(QRegion(barRect) + labelRect).isEmpty());
    hidden->show();
    QCOMPARE(on(window, QRect(0, 20, 40, 10)), QRegion(0, 20, 40, 10));
    hidden->hide();
    bar->hide();
    QVERIFY(on(window, barRect).subtracted(labelRect).isEmpty());
    auto *late = new QProgressBar(&window);
    late->setGeometry(5, 5, 10, 10);
    late->show();
    QCOMPARE(on(window, QRect(5, 5, 10, 10)), QRegion(5, 5, 10, 10));
    delete late;
    QVERIFY(on(window, QRect(5, 5, 10, 10)).isEmpty());
    // Without a visible control nothing of the background may show.
    label->hide();
    QCOMPARE(window.mask(), QRegion(0, 0, 1, 1));

    // Asking twice keeps one shape keeper.
    bar->show();
    platform::makeSeeThrough(window, platform::SeeThrough::Mask);
    QCOMPARE(window.mask(), QRegion(barRect));
}

void TstSeeThrough::translucentWindowsHaveNoShape()
{
    QWidget window;
    window.resize(312, 46);
    (new QProgressBar(&window))->setGeometry(0, 0, 313, 17);
    platform::makeSeeThrough(window, platform::SeeThrough::Translucent);
    QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
    QVERIFY(window.mask().isEmpty());
}

void TstSeeThrough::offscreenDesktopDoesNotComposite()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    QVERIFY(!platform::desktopComposites());
    QCOMPARE(platform::seeThroughForDesktop(), platform::SeeThrough::Mask);
}

QTEST_MAIN(TstSeeThrough)
#include "tst_seethrough.moc"
