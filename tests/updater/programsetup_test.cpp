// The set-up of the test build of MSLUpdate.exe: the release page address
// comes from MOSALUNE_TEST_RELEASE_PAGE and the network state from
// MOSALUNE_TEST_NETWORK ("online" or "offline"), so a test can start the real
// updater against its own server. The shipped updater never reads either.

#include "updater/programsetup.h"

#include "platform/appinfo.h"
#include "platform/netstate.h"

namespace {

class FixedNetworkState : public platform::NetworkState
{
public:
    explicit FixedNetworkState(bool online) : m_online(online) {}
    bool connected() override { return m_online; }

private:
    bool m_online;
};

} // namespace

namespace mslupdate {

platform::AppInfo programInfo()
{
    platform::AppInfo info = platform::AppInfo::current();
    const QString page = qEnvironmentVariable("MOSALUNE_TEST_RELEASE_PAGE");
    if (!page.isEmpty())
        info.releasePageUrl = page;
    return info;
}

std::unique_ptr<platform::NetworkState> programNetworkState()
{
    return std::make_unique<FixedNetworkState>(qEnvironmentVariable("MOSALUNE_TEST_NETWORK") !=
                                               QStringLiteral("offline"));
}

} // namespace mslupdate
