#pragma once

#include <QString>

class QWidget;

namespace platform {

// The buttons a message box offers.
enum class MessageButtons { Ok, OkCancel, YesNo };
// The icon beside a message box's text.
enum class MessageIcon { None, Critical, Information };
// The button the user pressed.
enum class MessageAnswer { Ok, Cancel, Yes, No };

// Modal message boxes and the file-open dialog. Forms never open a
// QMessageBox or QFileDialog themselves, so tests can answer for the user.
class DialogService
{
public:
    virtual ~DialogService() = default;
    // Returns the button pressed. The text is shown exactly as given, never
    // as markup.
    virtual MessageAnswer msgBox(QWidget *parent, const QString &text, MessageButtons buttons,
                                 MessageIcon icon, const QString &title) = 0;
    // The platform's file-open dialog for one file, with no title and no
    // filter. Returns the chosen path, or an empty string when the user
    // cancelled.
    virtual QString openFileName(QWidget *parent) = 0;
};

class QtDialogService : public DialogService
{
public:
    MessageAnswer msgBox(QWidget *parent, const QString &text, MessageButtons buttons,
                         MessageIcon icon, const QString &title) override;
    // Opens in the user's pictures folder, then where the last file of this
    // run was chosen: never among the program's own files.
    QString openFileName(QWidget *parent) override;

private:
    QString m_lastFolder;
};

} // namespace platform
