// A library that has only one of the skin library's two entry points.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) std::int32_t SkinH_AttachEx(const char *, const char *)
{
    return 0;
}
