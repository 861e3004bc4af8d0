#pragma once

class QWidget;

namespace platform {

// Puts a window in the middle of the primary screen's free area.
void centreOnScreen(QWidget &window);

// Puts a window that is about to be shown (a message box) in the middle of
// `parent`'s window when that is shown and framed, otherwise in the middle of
// the free area of the screen it is on. A borderless parent is one of the
// see-through forms floating on the desktop: window managers and Qt take such
// a window's place wrongly (openbox put the box at its top-left corner).
// Always kept whole on that screen.
void centreOver(QWidget &window, const QWidget *parent);

} // namespace platform
