#pragma once

class QWidget;

namespace platform {

// Puts a window in the middle of the primary screen's free area.
void centreOnScreen(QWidget &window);

} // namespace platform
