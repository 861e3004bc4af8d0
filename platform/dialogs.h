#pragma once

#include <QString>

class QWidget;

namespace platform {

// Message box styles and answers, numbered as the forms use them.
enum MsgBoxStyle : int {
    MbOkOnly = 0,
    MbOkCancel = 1,
    MbYesNo = 4,
    MbCritical = 16,
    MbInformation = 64,
};
enum MsgBoxResult : int {
    IdOk = 1,
    IdCancel = 2,
    IdYes = 6,
    IdNo = 7,
};

// Modal message boxes and the file-open dialog. Forms never open a
// QMessageBox or QFileDialog themselves, so tests can answer for the user.
class DialogService
{
public:
    virtual ~DialogService() = default;
    // style is a sum of the values above (buttons + icon); returns the
    // button pressed. The text is shown exactly as given, never as markup.
    virtual int msgBox(QWidget *parent, const QString &text, int style, const QString &title) = 0;
    // The platform's file-open dialog for one file, with no title, no filter
    // and no initial folder. Returns the chosen path, or an empty string when
    // the user cancelled.
    virtual QString openFileName(QWidget *parent) = 0;
};

class QtDialogService : public DialogService
{
public:
    int msgBox(QWidget *parent, const QString &text, int style, const QString &title) override;
    QString openFileName(QWidget *parent) override;
};

} // namespace platform
