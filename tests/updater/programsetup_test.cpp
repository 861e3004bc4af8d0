// The set-up of the test build of MSLUpdate.exe: see tests/support/testprogramsetup.h.

#include "updater/programsetup.h"

#include "support/testprogramsetup.h"

namespace mslupdate {

platform::AppInfo programInfo()
{
    return testsetup::programInfo();
}

std::unique_ptr<platform::NetworkState> programNetworkState()
{
    return testsetup::programNetworkState();
}

} // namespace mslupdate
