#pragma once

#include "common/inet.h"
#include "updater/services.h"
#include "updater/signedlist.h"
#include "updater/stagedfiles.h"

#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QListWidget;
class QProgressBar;

namespace Ui {
class UD;
}
namespace platform {
class Timer;
}

namespace mslupdate {

// What a progress bar with whole-number limits shows for done of total
// bytes: the limits are scaled down together only when total does not fit,
// so files of any size fill the bar exactly at their end. total < 0 (no
// length announced) gives the busy bar (maximum 0).
struct ProgressBarSetting {
    int maximum = 0;
    int value = 0;
};
ProgressBarSetting progressBarSetting(qint64 done, qint64 total);

// The download window: reads the release page's file list, resolves each
// share page, then downloads the files one at a time and puts them in place
// together once all have arrived, counts down and restarts the main program.
class DownloadWindow : public QWidget
{
    Q_OBJECT
public:
    explicit DownloadWindow(Services &services, QWidget *parent = nullptr);
    ~DownloadWindow() override;

    // The version the notice window showed: a page that announces another
    // by the time this window reads it fails the update.
    void setShownVersion(const QString &version);

    // The window's load: shown see-through, the refusal while the main
    // program is open, the lists, the first download. Every way it fails
    // asks whether to open the release page and ends the updater.
    void load();

    // Starts the download of the file with list index i.
    void startFile(int i);

    // The end of a file's download and the countdown's tick (public so that
    // tests can drive them).
    void fileFinished(common::Inet::Outcome outcome);
    void countDownToClose();

    // Index into the lists of the file being downloaded.
    qint32 FileIndex = 0;
    // Countdown ticks after the last file.
    qint16 CloseTicks = 0;

    platform::Timer *Timer1 = nullptr;
    common::Inet *Inet1 = nullptr;

    QProgressBar *ProgressBar1() const;
    QLabel *Label1() const;
    QListWidget *List1() const;
    QListWidget *List2() const;

protected:
    // Esc and the window manager's close ask whether to stop the update.
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void showProgress(qint64 done, qint64 total);
    void readLists();
    void checkVersion(const QString &version) const;
    // Puts every staged file in place once the last one has arrived.
    bool putInPlace(QString *error);
    void askToStop();
    void failed(const QString &reason);
    void unload();
    void end();

    Services &m_services;
    std::unique_ptr<Ui::UD> ui;
    StagedFiles m_staged;
    SignedList m_signedList;
    QString m_shownVersion;
    bool m_ended = false;
    bool m_replaced = false;
    // While the stop question is open, a transfer's end waits for the answer.
    bool m_asking = false;
    bool m_fetchingLists = false;
    std::optional<common::Inet::Outcome> m_heldOutcome;
};

} // namespace mslupdate
