#include "platform/dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QPushButton>
#include <QMessageBox>

namespace platform {

MessageAnswer QtDialogService::msgBox(QWidget *parent, const QString &text, MessageButtons buttons,
                                      MessageIcon icon, const QString &title)
{
    QMessageBox box(parent);
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
        box.exec();
        return box.clickedButton() == yes ? MessageAnswer::Yes : MessageAnswer::No;
    }
    case MessageButtons::OkCancel: {
        QPushButton *ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
        QPushButton *cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(cancel);
        box.exec();
        return box.clickedButton() == ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
    }
    case MessageButtons::Ok:
        break;
    }
    box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    box.exec();
    return MessageAnswer::Ok;
}

QString QtDialogService::openFileName(QWidget *parent)
{
    if (m_lastFolder.isEmpty() || !QFileInfo(m_lastFolder).isDir()) {
        m_lastFolder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
        if (!QFileInfo(m_lastFolder).isDir())
            m_lastFolder = QDir::homePath();
    }
    const QString chosen = QFileDialog::getOpenFileName(parent, QString(), m_lastFolder);
    if (!chosen.isEmpty())
        m_lastFolder = QFileInfo(chosen).absolutePath();
    return chosen;
}

} // namespace platform
