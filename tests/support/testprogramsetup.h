#pragma once

// What the test builds of both programs read instead of the real set-up: the
// release page address from MOSALUNE_TEST_RELEASE_PAGE and the network state
// from MOSALUNE_TEST_NETWORK ("online" or "offline"), so that a test can start
// a real program against its own server. The shipped programs never read
// either.

#include "platform/appinfo.h"
#include "platform/netstate.h"

#include <memory>

namespace testsetup {

class FixedNetworkState : public platform::NetworkState
{
public:
    explicit FixedNetworkState(bool online) : m_online(online) {}
    bool connected() override { return m_online; }

private:
    bool m_online;
};

inline platform::AppInfo programInfo()
{
    platform::AppInfo info = platform::AppInfo::current();
    const QString page = qEnvironmentVariable("MOSALUNE_TEST_RELEASE_PAGE");
    if (!page.isEmpty())
        info.releasePageUrl = page;
    return info;
}

inline std::unique_ptr<platform::NetworkState> programNetworkState()
{
    return std::make_unique<FixedNetworkState>(qEnvironmentVariable("MOSALUNE_TEST_NETWORK")
                                               != QStringLiteral("offline"));
}

} // namespace testsetup
