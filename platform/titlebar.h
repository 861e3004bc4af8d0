#pragma once

class QWidget;

namespace platform {

// Fixes a framed window at its present size. On Wayland the window draws a
// title bar of its own instead of Qt's decoration, which offers a maximise
// button whatever the window allows and cuts a title short beside it: the
// window's whole title, a close button, and a minimise button where the
// window's flags ask for one; the bar moves the window. The controls move
// down by the bar's height. Call it before the window is first shown.
void fixWindowSize(QWidget &window);

// Whether framed windows draw their own title bars here (Wayland).
bool ownTitleBars();

// The title bar itself, on any platform (tests; fixWindowSize on Wayland).
// A window with a layout keeps it: the bar takes the top of its margins.
void addOwnTitleBar(QWidget &window);

} // namespace platform
