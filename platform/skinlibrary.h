#pragma once

#include <QLibrary>
#include <QString>

#include <cstdint>

class QWidget;

namespace platform {

// The skin library "BrontelSkin.dll": loaded at run time from a path and
// bound by entry-point name, never linked, so that a damaged or missing file
// is a run-time error of the caller instead of a program that cannot start.
class SkinLibrary
{
public:
    virtual ~SkinLibrary() = default;
    // Loads the library file at `path` and resolves both entry points by name;
    // throws common::RunError (common/errors.h) when the file cannot be loaded
    // or an entry point is missing.
    virtual void load(const QString &path) = 0;
    // The library's own results; the programs ignore them. Both throw
    // common::RunError when called before a successful load.
    virtual std::int32_t SkinH_AttachEx(const QString &skinPath, const QString &password) = 0;
    virtual std::int32_t SkinH_SetAero(std::int32_t handle) = 0;
};

// The real library through QLibrary. It stays loaded for the rest of the run:
// the look it attached belongs to windows made later.
class SharedSkinLibrary final : public SkinLibrary
{
public:
    void load(const QString &path) override;
    std::int32_t SkinH_AttachEx(const QString &skinPath, const QString &password) override;
    std::int32_t SkinH_SetAero(std::int32_t handle) override;

private:
    using AttachFn = std::int32_t (*)(const char *, const char *);
    using AeroFn = std::int32_t (*)(std::int32_t);

    QLibrary m_library;
    AttachFn m_attach = nullptr;
    AeroFn m_aero = nullptr;
};

// Whether the file at path is a whole library of this platform: not cut
// short, not something else under a library's name.
bool libraryFileComplete(const QString &path);

// The handle a window is known by to the skin library: its native window id,
// which fits 32 bits on the desktops we run on. Creates the native window.
std::int32_t skinWindowHandle(QWidget &window);

} // namespace platform
