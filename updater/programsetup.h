#pragma once

#include <memory>

namespace platform {
struct AppInfo;
class NetworkState;
} // namespace platform

// The real services of MSLUpdate.exe. The shipped program takes everything
// from the build and the system; a test build of the same main() swaps in
// its own release page and network state.
namespace mslupdate {
platform::AppInfo programInfo();
std::unique_ptr<platform::NetworkState> programNetworkState();
} // namespace mslupdate
