#pragma once

#include "updater/services.h"

#include <QWidget>

#include <memory>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace Ui {
class form1;
}
namespace common {
class Inet;
}
namespace widgets {
class ClickLabel;
} // namespace widgets
namespace platform {
class WindowRegistration;
} // namespace platform

namespace mslupdate {

class DownloadWindow;

// The notice window the updater opens with: the published version and its
// change log, and the user's go-ahead for the download window.
class UpdateNoticeWindow : public QWidget
{
    Q_OBJECT
public:
    explicit UpdateNoticeWindow(Services &services, QWidget *parent = nullptr);
    ~UpdateNoticeWindow() override;

    // The window's load: single instance, skin, shown, version and change
    // log. Returns false when the updater has to end at once instead.
    bool load();

    // "确定": this window goes and the download window takes over.
    void startUpdate();
    // "取消": the updater ends.
    void declineUpdate();

    common::Inet *Inet1 = nullptr;

    widgets::ClickLabel *Image1() const;
    QLabel *Label1() const;
    QLabel *Label2() const;
    QPlainTextEdit *Text1() const;
    widgets::ClickLabel *Label3() const;
    QPushButton *Command1() const;
    QPushButton *Command2() const;

    // The download window, once "确定" has opened it.
    DownloadWindow *ud() const { return m_ud.get(); }

protected:
    // Closing ends the updater, while the page is still fetched too; Esc
    // closes the window as 取消 does.
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void attachSkin();
    void readRelease();
    void openReleasePage(Qt::MouseButton button);

    Services &m_services;
    std::unique_ptr<Ui::form1> ui;
    std::unique_ptr<platform::WindowRegistration> m_registration;
    std::unique_ptr<DownloadWindow> m_ud;
    // The version shown, which the download window must find on the page.
    QString m_version;
    bool m_closed = false;
};

} // namespace mslupdate
