#include "support/fakeservices.h"

#include <QTest>
#include <QWidget>

// The window double is the one with behaviour of its own: form tests rely on
// it to follow the published window as the real service does.
class TstFakes : public QObject
{
    Q_OBJECT

private slots:
    void windowFinderFollowsPublishedWindows();
};

void TstFakes::windowFinderFollowsPublishedWindows()
{
    const QString cls = QStringLiteral("ThunderRT6FormDC");
    const QString title = QStringLiteral("Mosalune 更新程序");
    auto finder = std::make_unique<fakes::FakeWindowFinder>();

    finder->add(cls, QStringLiteral("Mosalune"));
    QVERIFY(finder->findWindow(cls, QStringLiteral("Mosalune")));
    QVERIFY(!finder->findWindow(cls, title));

    auto window = std::make_unique<QWidget>();
    auto registration = finder->publish(window.get(), cls, title);
    QCOMPARE(finder->registrations(cls, title), 1);
    QVERIFY(!finder->findWindow(cls, title));
    window->show();
    QVERIFY(finder->findWindow(cls, title));
    QVERIFY(!finder->findWindow(QStringLiteral("Other"), title));
    window->hide();
    QVERIFY(!finder->findWindow(cls, title));
    window->show();
    window.reset();
    QVERIFY(!finder->findWindow(cls, title));
    QCOMPARE(finder->calls, 7);

    registration.reset();
    QCOMPARE(finder->registrations(cls, title), 0);
    // A registration may outlive the double.
    window = std::make_unique<QWidget>();
    registration = finder->publish(window.get(), cls, title);
    finder.reset();
    registration.reset();
}

QTEST_MAIN(TstFakes)
#include "tst_fakes.moc"
