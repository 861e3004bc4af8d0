// The set-up of the test build of Mosalune.exe: see tests/support/testprogramsetup.h.

#include "main/programsetup.h"

#include "support/testprogramsetup.h"

namespace mosalune {

platform::AppInfo programInfo()
{
    return testsetup::programInfo();
}

std::unique_ptr<platform::NetworkState> programNetworkState()
{
    return testsetup::programNetworkState();
}

} // namespace mosalune
