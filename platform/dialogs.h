#pragma once

#include <QString>
#include <QStringList>

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
    // The platform's file-open dialog for one file, with no title. Its
    // filters are "图片文件 (...)" with `pictureSuffixes` first, then
    // "所有文件 (*)". Returns the chosen path, or an empty string when the
    // user cancelled.
    virtual QString openFileName(QWidget *parent, const QStringList &pictureSuffixes) = 0;
    // A file the user named by another way (the command line, a drop): the
    // next dialog starts in its folder, as after a choice in the dialog.
    virtual void rememberFile(const QString &path) = 0;
};

class QtDialogService : public DialogService
{
public:
    // Every box stands in the middle of its framed parent, or of the screen
    // (platform::centreOver).
    MessageAnswer msgBox(QWidget *parent, const QString &text, MessageButtons buttons,
                         MessageIcon icon, const QString &title) override;
    // Opens in the user's pictures folder, then where the last file of this
    // run was chosen or named: never among the program's own files.
    QString openFileName(QWidget *parent, const QStringList &pictureSuffixes) override;
    void rememberFile(const QString &path) override;

private:
    QString m_lastFolder;
};

} // namespace platform
