#pragma once

class QApplication;

namespace platform {

// The habits users bring from the desktops this tool's users come from, set
// once for the whole application before any window is made:
// - Enter and the keypad's Enter press the focused push button, as Space
//   does (Qt leaves Enter to the default button of dialogs only);
// - a widget whose "accessibleOrnament" property is true (set in the .ui) is
//   left out of the accessibility tree: screen readers would announce it as
//   an unnamed control the user cannot do anything with.
void installWindowHabits(QApplication &app);

} // namespace platform
