#pragma once

#include "main/services.h"

#include <QDialog>
#include <QPointer>

#include <memory>

namespace Ui {
class Dialog;
}
namespace platform {
class Timer;
}

namespace mosalune {

// The pushed notice: the release page's push text as plain lines, with
// "确定" and "知道了，不再提醒", which silences the main window's Timer2 for the
// rest of the run.
class PushNoticeDialog : public QDialog
{
    Q_OBJECT
public:
    // timer2: the main window's Timer2; it may be gone by the time the user
    // answers.
    PushNoticeDialog(Services &services, platform::Timer *timer2, QWidget *parent = nullptr);
    ~PushNoticeDialog() override;

    // The dialog's load: fills the text box.
    void load();

private:
    void stopPushing();
    void closeNotice();

    Services &m_services;
    QPointer<platform::Timer> m_timer2;
    std::unique_ptr<Ui::Dialog> ui;
};

} // namespace mosalune
