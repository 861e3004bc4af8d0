#pragma once

#include "main/services.h"

namespace platform {
class ResourceStore;
class SkinLibrary;
} // namespace platform

namespace mosalune {

// What the start-up forms need besides the services every form gets: the
// program's own resources and the skin library.
struct StartupServices {
    Services &services;
    platform::ResourceStore &resources;
    platform::SkinLibrary &skin;
};

} // namespace mosalune
