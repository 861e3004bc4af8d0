#pragma once

class QWidget;

namespace platform {

// How a see-through window hides its own background.
enum class SeeThrough {
    Translucent, // the window's background is transparent; a compositor blends it
    Mask,        // the window is cut to its visible controls (no compositor)
};

// Makes a borderless top-level window show only its controls, so that they
// float on the desktop: a transparent background where the desktop composites
// windows (X11 with a compositing manager, Wayland), and otherwise a window
// shape cut from the geometry of its visible child controls, so that nothing
// of the window's own background shows around them. The shape follows the
// window from then on (showing, resizing, controls moved, shown or hidden).
// Call it before the window is first shown: a transparent background needs a
// window surface with an alpha channel from the start.
void makeSeeThrough(QWidget &window);
// The same with the way chosen by the caller (tests, and windows that must
// not depend on the desktop).
void makeSeeThrough(QWidget &window, SeeThrough way);

// The way makeSeeThrough chooses on this desktop now.
SeeThrough seeThroughForDesktop();

// Whether a compositor runs on the desktop the application is shown on.
bool desktopComposites();

} // namespace platform
