#include "platform/dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QPushButton>
#include <QMessageBox>
#include <QShowEvent>

#include "platform/screen.h"
#include "platform/titlebar.h"

namespace platform {

namespace {

// Qt places a box over its parent's window as Qt sees it; for a see-through
// parent that place is wrong under some window managers. The box is placed
// here once Qt has given it its size, before it is mapped.
class PlacedMessageBox : public QMessageBox
{
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent *event) override
    {
        QMessageBox::showEvent(event);
        if (!event->spontaneous())
            centreOver(*this, parentWidget());
    }
};

} // namespace

MessageAnswer QtDialogService::msgBox(QWidget *parent, const QString &text, MessageButtons buttons,
                                      MessageIcon icon, const QString &title)
{
    PlacedMessageBox box(parent);
    // Set up last: setting the icon lays the box out anew.
    const auto exec = [&box] {
        if (ownTitleBars())
            addOwnTitleBar(box);
        box.exec();
    };
    box.setWindowTitle(title);
    // The text carries versions, file names and addresses from outside; as
    // rich text their tags would be obeyed and swallow the words around them.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    if (icon == MessageIcon::Critical)
        box.setIcon(QMessageBox::Critical);
    else if (icon == MessageIcon::Information)
        box.setIcon(QMessageBox::Information);

    switch (buttons) {
    case MessageButtons::YesNo: {
        QPushButton *yes = box.addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
        box.addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        exec();
        return box.clickedButton() == yes ? MessageAnswer::Yes : MessageAnswer::No;
    }
    case MessageButtons::OkCancel: {
        QPushButton *ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
        QPushButton *cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(cancel);
        exec();
        return box.clickedButton() == ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
    }
    case MessageButtons::Ok:
        break;
    }
    box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    exec();
    return MessageAnswer::Ok;
}

QString QtDialogService::openFileName(QWidget *parent, const QStringList &pictureSuffixes)
{
    if (m_lastFolder.isEmpty() || !QFileInfo(m_lastFolder).isDir()) {
        m_lastFolder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
        if (!QFileInfo(m_lastFolder).isDir())
            m_lastFolder = QDir::homePath();
    }
    QStringList patterns;
    for (const QString &suffix : pictureSuffixes)
        patterns << QStringLiteral("*.") + suffix;
    const QString filters = QStringLiteral("图片文件 (%1);;所有文件 (*)").arg(patterns.join(QLatin1Char(' ')));
    const QString chosen = QFileDialog::getOpenFileName(parent, QString(), m_lastFolder, filters);
    if (!chosen.isEmpty())
        m_lastFolder = QFileInfo(chosen).absolutePath();
    return chosen;
}

void QtDialogService::rememberFile(const QString &path)
{
    const QFileInfo file(path);
    if (file.absoluteDir().exists())
        m_lastFolder = file.absolutePath();
}

} // namespace platform
