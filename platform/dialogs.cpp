#include "platform/dialogs.h"

#include <QFileDialog>
#include <QPushButton>
#include <QMessageBox>

namespace platform {

int QtDialogService::msgBox(QWidget *parent, const QString &text, int style, const QString &title)
{
    QMessageBox box(parent);
    box.setWindowTitle(title);
    // The text carries versions, file names and addresses from outside; as
    // rich text their tags would be obeyed and swallow the words around them.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    const int icon = style & 0x70;
    if (icon == MbCritical)
        box.setIcon(QMessageBox::Critical);
    else if (icon == MbInformation)
        box.setIcon(QMessageBox::Information);
    else if (icon == 32)
        box.setIcon(QMessageBox::Question);
    else if (icon == 48)
        box.setIcon(QMessageBox::Warning);

    if ((style & 0x0f) == MbYesNo) {
        QPushButton *yes = box.addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
        box.addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.exec();
        return box.clickedButton() == yes ? IdYes : IdNo;
    }
    if ((style & 0x0f) == MbOkCancel) {
        QPushButton *ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
        QPushButton *cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(cancel);
        box.exec();
        return box.clickedButton() == ok ? IdOk : IdCancel;
    }
    box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    box.exec();
    return IdOk;
}

QString QtDialogService::openFileName(QWidget *parent)
{
    return QFileDialog::getOpenFileName(parent);
}

} // namespace platform
