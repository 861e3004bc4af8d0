#include "updater/updatenoticewindow.h"

#include "ui_updatenoticewindow.h"

#include "common/inet.h"
#include "common/programfiles.h"
#include "common/releasepage.h"
#include "common/texthelpers.h"
#include "platform/appinfo.h"
#include "widgets/clicklabel.h"
#include "platform/dialogs.h"
#include "platform/fetchinput.h"
#include "platform/instance.h"
#include "platform/netstate.h"
#include "platform/screen.h"
#include "platform/shell.h"
#include "platform/skinlibrary.h"
#include "platform/titlebar.h"
#include "platform/windowfinder.h"
#include "updater/downloadwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QKeyEvent>
#include <QDir>
#include <QPlainTextEdit>

static void initResources()
{
    Q_INIT_RESOURCE(updater);
}

namespace mslupdate {

namespace {
const QString kLineBreak = QStringLiteral("\r\n");
const QString kNoVersion = QStringLiteral("无法获取版本号");

// The texts are built with CR LF line breaks; the text box shows one line
// break for each.
void setText(QPlainTextEdit *box, QString text)
{
    box->setPlainText(text.replace(kLineBreak, QStringLiteral("\n")));
}
} // namespace

UpdateNoticeWindow::UpdateNoticeWindow(Services &services, QWidget *parent)
    : QWidget(parent), m_services(services), ui(std::make_unique<Ui::form1>())
{
    initResources();
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    platform::fixWindowSize(*this);
    setText(ui->Text1, QStringLiteral("正在获取更新信息") + kLineBreak);

    connect(ui->Command1, &QPushButton::clicked, this, &UpdateNoticeWindow::startUpdate);
    connect(ui->Command2, &QPushButton::clicked, this, &UpdateNoticeWindow::declineUpdate);
    connect(ui->Image1, &widgets::ClickLabel::mouseDown, this, &UpdateNoticeWindow::openReleasePage);
    connect(ui->Label3, &widgets::ClickLabel::mouseDown, this, &UpdateNoticeWindow::openReleasePage);

    Inet1 = new common::Inet(this);
    Inet1->setRequestTimeout(m_services.requestTimeout);
    platform::letUserStopFetches(*Inet1);
    // The main program leaves the updater's file alone while this window
    // can be found.
    m_registration =
        m_services.publisher.publish(this, common::formWindowClass, common::updaterWindowTitle);
}

UpdateNoticeWindow::~UpdateNoticeWindow() = default;

widgets::ClickLabel *UpdateNoticeWindow::Image1() const
{
    return ui->Image1;
}

QLabel *UpdateNoticeWindow::Label1() const
{
    return ui->Label1;
}

QLabel *UpdateNoticeWindow::Label2() const
{
    return ui->Label2;
}

QPlainTextEdit *UpdateNoticeWindow::Text1() const
{
    return ui->Text1;
}

widgets::ClickLabel *UpdateNoticeWindow::Label3() const
{
    return ui->Label3;
}

QPushButton *UpdateNoticeWindow::Command1() const
{
    return ui->Command1;
}

QPushButton *UpdateNoticeWindow::Command2() const
{
    return ui->Command2;
}

bool UpdateNoticeWindow::load()
{
    if (m_services.instance.previousInstance()) {
        m_services.dialogs.msgBox(nullptr, QStringLiteral("更新程序已经在运行"),
                                  platform::MessageButtons::Ok, platform::MessageIcon::None,
                                  QStringLiteral("提示："));
        return false;
    }
    attachSkin();
    platform::centreOnScreen(*this);
    show();
    // Drawn once before the fetch holds the thread.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    try {
        readRelease();
    } catch (const common::RunError &error) {
        if (m_closed)
            return true;
        qWarning().noquote() << QStringLiteral("无法读取发布页：") + error.message();
        ui->Label3->show();
        ui->Label2->setText(kNoVersion);
        ui->Label1->setText(QStringLiteral("在线升级失败"));
        setText(ui->Text1,
                kLineBreak + kLineBreak +
                    QStringLiteral("对不起，在线升级失败，您可以进入官网手动下载最新版本"));
        ui->Command1->setEnabled(false);
    }
    return true;
}

// The skin is a look and nothing more: a library or theme that is missing or
// damaged leaves the platform's own look, and the load goes on.
void UpdateNoticeWindow::attachSkin()
{
    const QDir folder(m_services.app.folder);
    platform::SkinLibrary &skin = m_services.skin;
    try {
        skin.load(folder.filePath(common::skinLibraryFileName));
        skin.SkinH_AttachEx(folder.filePath(common::skinThemeFileName), QString());
        skin.SkinH_SetAero(platform::skinWindowHandle(*this));
    } catch (const common::RunError &) {
    }
}

void UpdateNoticeWindow::readRelease()
{
    const platform::AppInfo &app = m_services.app;
    const QString own = common::OwnVersion(app.major, app.minor, app.revision);
    if (!m_services.network.connected()) {
        ui->Label2->setText(kNoVersion);
        ui->Label1->setText(QStringLiteral("网络连接失败"));
        setText(ui->Text1, kLineBreak + kLineBreak + QStringLiteral("无法获取更新内容"));
        ui->Command1->setEnabled(false);
        ui->Label3->hide();
        return;
    }
    const QByteArray bytes = common::fetchNamedBytes(*Inet1, app.releasePageUrl);
    const QString page = common::DecodeUtf8(bytes);
    const QString version = common::PageVersion(page);
    const QString section = common::ChangeLogSection(page);
    ui->Label2->setText(QStringLiteral("Ver:") + version);
    m_version = version;
    setText(ui->Text1, common::NoticeLogText(section));
    // Compared as texts: any difference, older or newer, is an update.
    if (version != own) {
        ui->Command1->setEnabled(true);
    } else {
        ui->Command1->setEnabled(false);
        ui->Label1->setText(QStringLiteral("您的软件已经是最新版:"));
    }
    ui->Label3->hide();
}

void UpdateNoticeWindow::startUpdate()
{
    // Hidden, not closed: closing is the user's way of ending the updater.
    hide();
    m_ud = std::make_unique<DownloadWindow>(m_services);
    m_ud->setShownVersion(m_version);
    m_ud->load();
}

void UpdateNoticeWindow::declineUpdate()
{
    close();
}

void UpdateNoticeWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    // Nothing is under way that could be lost: a page still being fetched
    // is abandoned at once.
    m_closed = true;
    Inet1->abandonFetch();
    if (m_services.endProgram)
        m_services.endProgram();
}

void UpdateNoticeWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        close();
    else
        QWidget::keyPressEvent(event);
}

void UpdateNoticeWindow::openReleasePage(Qt::MouseButton button)
{
    if (button == Qt::LeftButton)
        platform::openReleasePage(m_services.shell, m_services.app);
}

} // namespace mslupdate
