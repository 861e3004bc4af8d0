#include "updater/programsetup.h"

#include "platform/appinfo.h"
#include "platform/netstate.h"

namespace mslupdate {

platform::AppInfo programInfo()
{
    return platform::AppInfo::current();
}

std::unique_ptr<platform::NetworkState> programNetworkState()
{
    return std::make_unique<platform::SystemNetworkState>();
}

} // namespace mslupdate
