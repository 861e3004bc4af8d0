#include "platform/netstate.h"

#include <QTest>

using platform::InterfaceState;

namespace {

using Flags = QNetworkInterface::InterfaceFlags;
constexpr auto upRunning = Flags(QNetworkInterface::IsUp | QNetworkInterface::IsRunning);

InterfaceState interface(Flags flags, QNetworkInterface::InterfaceType type,
                         const QStringList &addresses)
{
    InterfaceState state;
    state.flags = flags;
    state.type = type;
    for (const QString &address : addresses)
        state.addresses.append(QHostAddress(address));
    return state;
}

InterfaceState loopback()
{
    return interface(upRunning | QNetworkInterface::IsLoopBack, QNetworkInterface::Loopback,
                     {QStringLiteral("127.0.0.1"), QStringLiteral("::1")});
}

} // namespace

class TstNetworkState : public QObject
{
    Q_OBJECT

private slots:
    void interfaces_data();
    void interfaces();
    void loopbackOfThisMachine();
    void reachability_data();
    void reachability();
    void systemAnswer();
};

void TstNetworkState::interfaces_data()
{
    QTest::addColumn<QList<InterfaceState>>("states");
    QTest::addColumn<bool>("connected");

    const auto ethernet = QNetworkInterface::Ethernet;
    const QStringList lan{QStringLiteral("192.168.1.20")};

    QTest::newRow("none") << QList<InterfaceState>{} << false;
    QTest::newRow("loopback only") << QList<InterfaceState>{loopback()} << false;
    QTest::newRow("loopback and cable")
            << QList<InterfaceState>{loopback(), interface(upRunning, ethernet, lan)} << true;
    QTest::newRow("IPv6 only")
            << QList<InterfaceState>{interface(upRunning, QNetworkInterface::Wifi,
                                               {QStringLiteral("2001:db8::5")})}
            << true;
    QTest::newRow("up without carrier")
            << QList<InterfaceState>{loopback(), interface(QNetworkInterface::IsUp, ethernet, lan)}
            << false;
    QTest::newRow("down") << QList<InterfaceState>{interface(Flags(), ethernet, lan)} << false;
    QTest::newRow("no address")
            << QList<InterfaceState>{interface(upRunning, ethernet, {})} << false;
    QTest::newRow("link-local only")
            << QList<InterfaceState>{interface(upRunning, ethernet,
                                               {QStringLiteral("fe80::1"),
                                                QStringLiteral("169.254.3.4")})}
            << false;
    QTest::newRow("loopback flag on another type")
            << QList<InterfaceState>{interface(upRunning | QNetworkInterface::IsLoopBack,
                                               QNetworkInterface::Virtual, lan)}
            << false;
}

void TstNetworkState::interfaces()
{
    QFETCH(QList<InterfaceState>, states);
    QFETCH(bool, connected);
    QCOMPARE(platform::hasConnectedInterface(states), connected);
}

void TstNetworkState::loopbackOfThisMachine()
{
    // What this machine reports for its loopback, through the real
    // conversion, is never a connection.
    QList<InterfaceState> loopbacks;
    const QList<InterfaceState> all = InterfaceState::current();
    for (const InterfaceState &state : all) {
        if (state.flags.testFlag(QNetworkInterface::IsLoopBack))
            loopbacks.append(state);
    }
    if (loopbacks.isEmpty())
        QSKIP("this machine reports no loopback interface");
    QVERIFY(loopbacks.first().addresses.contains(QHostAddress(QHostAddress::LocalHost))
            || loopbacks.first().addresses.contains(QHostAddress(QHostAddress::LocalHostIPv6)));
    QVERIFY(!platform::hasConnectedInterface(loopbacks));
}

void TstNetworkState::reachability_data()
{
    using R = QNetworkInformation::Reachability;
    QTest::addColumn<R>("reachability");
    QTest::addColumn<bool>("interfaces");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("asked");

    QTest::newRow("online") << R::Online << false << true << false;
    QTest::newRow("local network") << R::Local << false << true << false;
    QTest::newRow("site") << R::Site << false << true << false;
    QTest::newRow("disconnected") << R::Disconnected << true << false << false;
    QTest::newRow("unknown, interface up") << R::Unknown << true << true << true;
    QTest::newRow("unknown, none up") << R::Unknown << false << false << true;
}

void TstNetworkState::reachability()
{
    QFETCH(QNetworkInformation::Reachability, reachability);
    QFETCH(bool, interfaces);
    QFETCH(bool, connected);
    QFETCH(bool, asked);

    bool wasAsked = false;
    QCOMPARE(platform::connectedFor(reachability,
                                    [&] {
                                        wasAsked = true;
                                        return interfaces;
                                    }),
             connected);
    QCOMPARE(wasAsked, asked);
}

void TstNetworkState::systemAnswer()
{
    // Whatever this machine's state, the real service answers from Qt's
    // reachability where Qt has one and from the interfaces otherwise.
    platform::SystemNetworkState state;
    const bool connected = state.connected();
    const QNetworkInformation *information = QNetworkInformation::instance();
    const auto reachability = information ? information->reachability()
                                          : QNetworkInformation::Reachability::Unknown;
    if (reachability == QNetworkInformation::Reachability::Unknown)
        QCOMPARE(connected, platform::hasConnectedInterface(InterfaceState::current()));
    else
        QCOMPARE(connected, reachability != QNetworkInformation::Reachability::Disconnected);
    QCOMPARE(state.connected(), connected);
}

QTEST_GUILESS_MAIN(TstNetworkState)
#include "tst_netstate.moc"
