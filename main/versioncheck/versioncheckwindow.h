#pragma once

#include "main/startupservices.h"

#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QProgressBar;

namespace Ui {
class PreUD;
}
namespace common {
class Inet;
}
namespace platform {
class Timer;
}

namespace mosalune {

// The version check between the splash and the main window: attaches the
// skin, writes the text files, reads the release page's version once, and
// runs a timed progress to the moment (90) where it either offers the
// updater or lets the main window open (100).
class VersionCheckWindow : public QWidget
{
    Q_OBJECT
public:
    explicit VersionCheckWindow(StartupServices &startup, QWidget *parent = nullptr);
    ~VersionCheckWindow() override;

    // The load step. Any failure in it unloads the form and asks for the
    // main window, silently.
    void load();

    // Timer1's tick (public so that tests can drive the clock).
    void advanceProgress();

    // True once the form is gone; no tick does anything after that.
    bool isUnloaded() const { return m_unloaded; }

    QProgressBar *ProgressBar1() const;
    QLabel *Label1() const;
    QLineEdit *Text1() const; // the running version
    QLineEdit *Text2() const; // the release page's version

    platform::Timer *Timer1 = nullptr;
    common::Inet *Inet1 = nullptr;

signals:
    // The main window is to open now.
    void showMainWindow();
    // No window follows: the updater or the release page took over.
    void programEnds();

private:
    void loadStep();
    void checkStep(int n);
    void unload();

    StartupServices &m_startup;
    // Ticks do nothing until the load step has set the versions, nor while a
    // question is open.
    bool m_loaded = false;
    bool m_asking = false;
    bool m_unloaded = false;
    std::unique_ptr<Ui::PreUD> ui;
};

} // namespace mosalune
