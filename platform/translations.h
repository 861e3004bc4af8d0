#pragma once

class QCoreApplication;

namespace platform {

// Every text the user sees is Chinese, also in the dialogs that Qt itself
// draws (the file-open dialog): load Qt's own Simplified Chinese texts.
// Returns false when they are not installed; the dialogs then stay English.
bool installChineseTranslations(QCoreApplication &app);

} // namespace platform
