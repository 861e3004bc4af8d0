#include "main/tiles/form1.h"

#include "ui_form1.h"

#include "main/tiles/tilegeometry.h"
#include "main/tiles/tilejob.h"
#include "main/tiles/tilewriter.h"
#include "platform/appinfo.h"
#include "platform/dialogs.h"
#include "platform/picturebox.h"
#include "platform/picturedecoder.h"

#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QUrl>

namespace mosalune {

namespace {
const QString kLoadFirst = QStringLiteral("请先载入图片");
const QString kNotice = QStringLiteral("通知:");
} // namespace

Form1::Form1(Services &services, QWidget *parent)
    : QWidget(parent), m_services(services), ui(std::make_unique<Ui::Form1>())
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(400, 322);

    // The guides belong to the display box; their design places are replaced
    // by the layout steps.
    Line1 = ui->p1->addLine();
    Line1->setCoordinates(1320, 0, 1320, 2940);
    Line2 = ui->p1->addLine();
    Line2->setCoordinates(2880, 0, 2880, 2940);
    Line3 = ui->p1->addLine();
    Line3->setCoordinates(4560, 0, 4560, 2940);
    Line4 = ui->p1->addLine();
    Line4->setCoordinates(0, 1508, 6000, 1508);
    for (platform::LineControl *line : {Line1, Line2, Line3, Line4}) {
        line->setColor(Qt::white);
        line->setVisible(false);
    }

    connect(ui->Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    // The check box's click follows every change of its value, also the
    // program's own.
    connect(ui->Check2, &QCheckBox::stateChanged, this, &Form1::Check2_Click);
    connect(ui->p1, &platform::PictureBox::oleDragDrop, this, &Form1::p1_OLEDragDrop);
}

Form1::~Form1() = default;

platform::PictureBox *Form1::p1() const
{
    return ui->p1;
}

platform::PictureBox *Form1::Picture1() const
{
    return ui->Picture1;
}

bool Form1::load()
{
    layoutSteps();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    return true;
}

void Form1::layoutSteps()
{
    const platform::AppInfo &app = m_services.app;
    setWindowTitle(QStringLiteral(" Mosalune   Ver%1.%2.%3")
                       .arg(app.major, 2, 10, QLatin1Char('0'))
                       .arg(app.minor, 2, 10, QLatin1Char('0'))
                       .arg(app.revision, 2, 10, QLatin1Char('0')));

    for (platform::LineControl *line : {Line1, Line2, Line3, Line4})
        line->setVisible(false);
    const float sw = float(ui->p1->scaleWidth());
    const float sh = float(ui->p1->scaleHeight());
    Line1->setX1(sw / 4.0f);
    Line1->setX2(sw / 4.0f);
    Line2->setX1(sw / 2.0f);
    Line2->setX2(sw / 2.0f);
    Line3->setX1(sw / 4.0f * 3.0f);
    Line3->setX2(sw / 4.0f * 3.0f);
    Line4->setY1(sh / 2.0f + float(ui->p1->scaleTop()));
    Line4->setY2(sh / 2.0f + float(ui->p1->scaleTop()));

    // The canvas lies hidden on the display box's corner, outer size 150 x 150.
    ui->Picture1->setGeometry(ui->p1->x(), ui->p1->y(), tiles::canvasOuterSize.width(),
                              tiles::canvasOuterSize.height());
}

bool Form1::pictureLoaded() const
{
    return ui->Picture1->hasPicture();
}

void Form1::Command1_Click()
{
    // The display box is emptied before the dialog opens, whatever the user
    // then chooses.
    ui->p1->setPicture(QImage());
    const QString fileName = m_services.dialogs.openFileName(this);
    if (fileName.isEmpty())
        return;
    loadPicture(fileName);
}

void Form1::p1_OLEDragDrop(const QMimeData *data)
{
    ui->p1->setPicture(QImage());
    // Only the first item of the drop counts, and it has to be a local file.
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    if (urls.isEmpty() || !urls.first().isLocalFile()) {
        loadFailed();
        return;
    }
    loadPicture(urls.first().toLocalFile());
}

void Form1::loadPicture(const QString &path)
{
    QImage display;
    try {
        display = tiles::loadDisplay(path);
    } catch (const platform::PictureError &) {
        loadFailed();
        return;
    }
    ui->p1->drawPersistent(display);
    ui->Picture1->setPicture(ui->p1->image());
    PicFolder = tiles::pictureFolder(path);
}

void Form1::loadFailed()
{
    m_services.dialogs.msgBox(this, QStringLiteral("图片格式错误"), platform::MbCritical,
                              QStringLiteral("警告："));
    ui->Picture1->setPicture(QImage());
}

void Form1::Command2_Click()
{
    if (!pictureLoaded()) {
        m_services.dialogs.msgBox(this, kLoadFirst, platform::MbInformation, kNotice);
        return;
    }
    try {
        tiles::writeTiles(ui->p1->image(), PicFolder, [this](int, const QImage &canvas) {
            ui->Picture1->drawPersistent(canvas);
        });
    } catch (const tiles::TileWriteError &error) {
        m_services.dialogs.msgBox(this, error.message(), platform::MbCritical,
                                  QStringLiteral("警告："));
        return;
    }
    m_services.dialogs.msgBox(this, QStringLiteral("图片已经切割完毕,在原图片文件夹下以1-8命名"),
                              platform::MbInformation, QStringLiteral("恭喜:"));
}

void Form1::Check2_Click()
{
    const bool checked = ui->Check2->isChecked();
    if (pictureLoaded()) {
        for (platform::LineControl *line : {Line1, Line2, Line3, Line4})
            line->setVisible(checked);
        return;
    }
    if (checked) {
        m_services.dialogs.msgBox(this, kLoadFirst, platform::MbInformation, kNotice);
        ui->Check2->setChecked(false);
    }
}

} // namespace mosalune
