#pragma once

namespace common {
class Inet;
}

namespace platform {

// Makes inet's blocking fetches stoppable by the user: while one waits, the
// Esc key, the window manager's close and every input to a question opened
// meanwhile (the stop question) reach the program's windows; any other
// input is dropped, so no click or key acts on a window that waits for its
// page. The filter that does it is installed once for the application.
void letUserStopFetches(common::Inet &inet);

} // namespace platform
