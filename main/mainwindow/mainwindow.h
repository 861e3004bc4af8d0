#pragma once

#include "main/services.h"

#include <QDeadlineTimer>
#include <QString>
#include <QWidget>

#include <memory>

class QMimeData;

namespace Ui {
class Form1;
}
namespace common {
class Inet;
}
namespace widgets {
class LineControl;
class PictureBox;
} // namespace widgets
namespace platform {
class Timer;
class WindowRegistration;
} // namespace platform

namespace mosalune {

// The main window: the user brings in a picture (button or drop), may show
// where it will be cut, and writes the eight tiles beside it.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    explicit MainWindow(Services &services, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The window's load: the message push from the release page, then the
    // layout steps. Returns false when the program has to end instead of
    // showing the window.
    bool load();

    // Loads a picture named from outside the window (the command line, "Open
    // with"), as a drop of that file would.
    void openPicture(const QString &path);

    // Puts a downloaded "NewMSLUpdate.exe" in place of "MSLUpdate.exe" once
    // the updater's window is gone.
    void swapInNewUpdater();

    // Folder of the last loaded picture, with its trailing separator.
    QString PicFolder;
    // The last loaded picture's own path: it must never be one of the tiles.
    QString PicFile;
    // The character after the release page's push marker; "开" means on.
    QString PushSwitch;
    // Timer2 ticks counted while the push is on.
    qint16 PushTicks = 0;

    platform::Timer *Timer1 = nullptr;
    platform::Timer *Timer2 = nullptr;
    common::Inet *Inet1 = nullptr;

    widgets::PictureBox *p1() const;
    widgets::PictureBox *Picture1() const;
    widgets::LineControl *Line1 = nullptr;
    widgets::LineControl *Line2 = nullptr;
    widgets::LineControl *Line3 = nullptr;
    widgets::LineControl *Line4 = nullptr;

    // The timers' tick handlers (public so that tests can drive the clock).
    void watchForUpdaterSwap();
    void countPushMinutes();

private:
    void layoutSteps();
    void readMessagePush();
    void openReleasePage(Qt::MouseButton button);
    void choosePicture();
    void cutTiles();
    void toggleGuides();
    void dropPicture(const QMimeData *data);
    // The load sequence shared by the button and the drop, from the moment the
    // path is known.
    void loadPicture(const QString &path);
    // Tells the user the picture was refused, with `message`, and empties the canvas.
    void loadFailed(const QString &message);
    bool pictureLoaded() const;

    Services &m_services;
    bool m_swapping = false;
    // A swap that failed is tried again after this long, without the wait.
    static constexpr qint64 kSwapRetryMsecs = 60000;
    bool m_swapFailed = false;
    QDeadlineTimer m_swapRetry;
    std::unique_ptr<platform::WindowRegistration> m_registration;
    std::unique_ptr<Ui::Form1> ui;
};

} // namespace mosalune
