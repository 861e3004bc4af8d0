#include "platform/netstate.h"

namespace platform {

QList<InterfaceState> InterfaceState::current()
{
    QList<InterfaceState> states;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        InterfaceState state;
        state.flags = interface.flags();
        state.type = interface.type();
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries)
            state.addresses.append(entry.ip());
        states.append(state);
    }
    return states;
}

bool hasConnectedInterface(const QList<InterfaceState> &interfaces)
{
    for (const InterfaceState &interface : interfaces) {
        if (!interface.flags.testFlag(QNetworkInterface::IsUp)
            || !interface.flags.testFlag(QNetworkInterface::IsRunning)
            || interface.flags.testFlag(QNetworkInterface::IsLoopBack)
            || interface.type == QNetworkInterface::Loopback)
            continue;
        // Link-local addresses come by themselves on any cable without a
        // network behind it.
        for (const QHostAddress &address : interface.addresses) {
            if (!address.isNull() && !address.isLoopback() && !address.isLinkLocal())
                return true;
        }
    }
    return false;
}

bool connectedFor(QNetworkInformation::Reachability reachability,
                  const std::function<bool()> &interfaces)
{
    switch (reachability) {
    case QNetworkInformation::Reachability::Online:
    // A connection to the local network or site is a connection, as the
    // machine reports it; whether the release page is behind it is the
    // fetch's business.
    case QNetworkInformation::Reachability::Site:
    case QNetworkInformation::Reachability::Local:
        return true;
    case QNetworkInformation::Reachability::Disconnected:
        return false;
    case QNetworkInformation::Reachability::Unknown:
        break;
    }
    return interfaces();
}

bool SystemNetworkState::connected()
{
    // The backend is loaded once per process; where there is none (no
    // network manager to ask), every call falls back to the interfaces.
    static const bool haveBackend = QNetworkInformation::instance()
            || QNetworkInformation::loadDefaultBackend();
    const auto reachability = haveBackend && QNetworkInformation::instance()
            ? QNetworkInformation::instance()->reachability()
            : QNetworkInformation::Reachability::Unknown;
    return connectedFor(reachability,
                        [] { return hasConnectedInterface(InterfaceState::current()); });
}

} // namespace platform
