#include "main/mainwindow/pushnoticedialog.h"

#include "ui_pushnoticedialog.h"

#include "common/releasepage.h"
#include "platform/netstate.h"
#include "platform/screen.h"
#include "platform/timer.h"
#include "platform/titlebar.h"

namespace mosalune {

PushNoticeDialog::PushNoticeDialog(Services &services, platform::Timer *timer2, QWidget *parent)
    : QDialog(parent), m_services(services), m_timer2(timer2), ui(std::make_unique<Ui::Dialog>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    platform::fixWindowSize(*this);
    // Red text on the button face comes from the form's own style sheet,
    // which the theme's application-wide sheet cannot override.

    connect(ui->CancelButton, &QPushButton::clicked, this, &PushNoticeDialog::stopPushing);
    // Closing the window (or Escape) acts like "确定": it only closes.
    connect(ui->OKButton, &QPushButton::clicked, this, &PushNoticeDialog::closeNotice);
}

PushNoticeDialog::~PushNoticeDialog() = default;

void PushNoticeDialog::load()
{
    if (!m_services.network.connected())
        ui->Text1->setPlainText(QStringLiteral("网络连接失败，暂时无法获取消息推送内容"));
    else
        // The layout joins lines with CR LF; the box shows each as one line.
        ui->Text1->setPlainText(common::DialogText(m_services.state.PushMessage)
                                    .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    platform::centreOnScreen(*this);
}

void PushNoticeDialog::stopPushing()
{
    // The main window may have been closed already: then only the dialog goes.
    if (m_timer2) {
        m_timer2->setInterval(0);
        m_timer2->setEnabled(false);
    }
    close();
}

void PushNoticeDialog::closeNotice()
{
    close();
}

} // namespace mosalune
