#pragma once

#include "main/startupservices.h"

#include <QWidget>

#include <memory>

class QLabel;
class QProgressBar;

namespace Ui {
class Pre;
}

namespace mosalune {

struct SupportFile;

// The start-up splash: a bare progress bar and a status line floating on the
// desktop while the skin library and its theme are written beside the
// program on a first start.
class SplashWindow : public QWidget
{
    Q_OBJECT
public:
    explicit SplashWindow(StartupServices &startup, QWidget *parent = nullptr);
    ~SplashWindow() override;

    // The form's load: sets AppDir, shows the splash and writes the two skin
    // files that are missing. Returns false after the error report when one
    // of them cannot be written; nothing further may start then.
    bool load();

    QProgressBar *ProgressBar1() const;
    QLabel *Label1() const;

    // How many bytes go to the disk between two repaints of the bar.
    static constexpr qsizetype chunkSize = 2048;

private:
    // Writes the file unless it is there, its name under the bar.
    void writeWithProgress(const SupportFile &file);

    StartupServices &m_startup;
    std::unique_ptr<Ui::Pre> ui;
};

// Shows a window and draws it before returning, so that a step that holds
// the user-interface thread next finds it already on the screen as designed
// rather than mapped and blank. Neither timers nor input run meanwhile.
void showPainted(QWidget &window);

} // namespace mosalune
