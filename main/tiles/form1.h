#pragma once

#include "main/startup/services.h"

#include <QString>
#include <QWidget>

#include <memory>

class QMimeData;
class QTimer;

namespace Ui {
class Form1;
}
namespace platform {
class LineControl;
class PictureBox;
} // namespace platform

namespace mosalune {

// The main window: the user brings in a picture (button or drop), may show
// where it will be cut, and writes the eight tiles beside it.
class Form1 : public QWidget
{
    Q_OBJECT
public:
    explicit Form1(Services &services, QWidget *parent = nullptr);
    ~Form1() override;

    // The window's load: the message push from the release page, then the
    // layout steps. Returns false when the program has to end instead of
    // showing the window.
    bool load();

    // Folder of the last loaded picture, with its trailing separator.
    QString PicFolder;

    platform::PictureBox *p1() const;
    platform::PictureBox *Picture1() const;
    platform::LineControl *Line1 = nullptr;
    platform::LineControl *Line2 = nullptr;
    platform::LineControl *Line3 = nullptr;
    platform::LineControl *Line4 = nullptr;

private:
    void layoutSteps();
    void Command1_Click();
    void Command2_Click();
    void Check2_Click();
    void p1_OLEDragDrop(const QMimeData *data);
    // The load sequence shared by the button and the drop, from the moment the
    // path is known.
    void loadPicture(const QString &path);
    void loadFailed();
    bool pictureLoaded() const;

    Services &m_services;
    std::unique_ptr<Ui::Form1> ui;
};

} // namespace mosalune
