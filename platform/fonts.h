#pragma once

namespace platform {

// The forms ask for 宋体. Where that font is missing, map it (and its other
// names) to a CJK font the system has, so Chinese never renders as boxes.
// Call once after the application object exists.
void installFontFallbacks();

} // namespace platform
