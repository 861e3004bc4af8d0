#pragma once

#include <QHostAddress>
#include <QList>
#include <QNetworkInformation>
#include <QNetworkInterface>

#include <functional>

namespace platform {

// Whether the machine reports a network connection.
class NetworkState
{
public:
    virtual ~NetworkState() = default;
    virtual bool connected() = 0;
};

// Qt's network information where it knows the answer; otherwise any
// non-loopback interface that is up and has an address.
class SystemNetworkState : public NetworkState
{
public:
    bool connected() override;
};

// What the interface fallback looks at, taken out of QNetworkInterface so
// that the decision can be made about any set of interfaces.
struct InterfaceState {
    QNetworkInterface::InterfaceFlags flags;
    QNetworkInterface::InterfaceType type = QNetworkInterface::Unknown;
    QList<QHostAddress> addresses;

    static QList<InterfaceState> current();
};

// True when one of the interfaces is up and running, is not a loopback and
// has an address beyond the link.
bool hasConnectedInterface(const QList<InterfaceState> &interfaces);

// The answer for a reachability reported by Qt; interfaces() is asked only
// when Qt does not know.
bool connectedFor(QNetworkInformation::Reachability reachability,
                  const std::function<bool()> &interfaces);

} // namespace platform
