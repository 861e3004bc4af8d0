#include "platform/seethrough.h"

#include <QGuiApplication>

#if __has_include(<xcb/xcb.h>) && QT_CONFIG(xcb)
#define MOSALUNE_HAVE_XCB 1
#include <xcb/xcb.h>
#endif

#include <cstdlib>
#include <string>

namespace platform {

namespace {

#ifdef MOSALUNE_HAVE_XCB
// The screen number the display name asks for (":0.1" is screen 1).
int defaultScreenNumber()
{
    const char *display = std::getenv("DISPLAY");
    if (!display)
        return 0;
    const std::string name(display);
    const auto colon = name.rfind(':');
    const auto dot = name.find('.', colon == std::string::npos ? 0 : colon);
    if (dot == std::string::npos)
        return 0;
    return std::atoi(name.c_str() + dot + 1);
}

// A compositing manager owns the selection _NET_WM_CM_S<screen> while it runs.
bool x11Composites()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t *connection = x11->connection();
    const std::string atomName = "_NET_WM_CM_S" + std::to_string(defaultScreenNumber());
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 1, static_cast<uint16_t>(atomName.size()), atomName.c_str()),
        nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t *owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    if (!owner)
        return false;
    const bool owned = owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    return owned;
}
#endif

} // namespace

bool desktopComposites()
{
    if (!qGuiApp)
        return false;
    const QString name = QGuiApplication::platformName();
    // Wayland composes every window itself.
    if (name.startsWith(QLatin1String("wayland")))
        return true;
#ifdef MOSALUNE_HAVE_XCB
    if (name == QLatin1String("xcb"))
        return x11Composites();
#endif
    return false;
}

} // namespace platform
