#pragma once

#include <QFrame>
#include <QImage>
#include <QList>
#include <QPointF>

class QMimeData;

namespace widgets {

class PictureBox;

// A line control drawn over a picture box, in the box's twips. It is an
// overlay: it is never part of the box's persistent image.
class LineControl
{
public:
    explicit LineControl(PictureBox *box);
    float X1() const { return m_x1; }
    float Y1() const { return m_y1; }
    float X2() const { return m_x2; }
    float Y2() const { return m_y2; }
    void setX1(float v);
    void setY1(float v);
    void setX2(float v);
    void setY2(float v);
    void setCoordinates(float x1, float y1, float x2, float y2);
    bool isVisible() const { return m_visible; }
    void setVisible(bool visible);
    QColor color() const { return m_color; }
    void setColor(const QColor &color);

private:
    PictureBox *m_box;
    float m_x1 = 0, m_y1 = 0, m_x2 = 0, m_y2 = 0;
    bool m_visible = true;
    QColor m_color = Qt::black;
};

// A picture box with a persistent image: what is drawn on it stays in its
// image until its picture is replaced. Sizes and positions of its scale are in
// twips (15 to a pixel); the border is a sunken 3-D frame 2 px wide. While it
// has the keyboard focus a dotted mark shows just inside the border.
class PictureBox : public QFrame
{
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent = nullptr);
    ~PictureBox() override;

    // The background picture. Setting it repaints the whole persistent image
    // with the background colour and the picture; a null image means none.
    bool hasPicture() const { return !m_picture.isNull(); }
    QImage picture() const { return m_picture; }
    void setPicture(const QImage &picture);

    // The persistent image, interior size.
    QImage image() const { return m_image; }
    // Draws onto the persistent image at the interior's top-left corner,
    // clipped to the interior.
    void drawPersistent(const QImage &image);

    // The interior in twips.
    int scaleWidth() const;
    int scaleHeight() const;

    QColor backColor() const { return m_backColor; }
    void setBackColor(const QColor &color);

    LineControl *addLine();

signals:
    // A drop of any data onto the box (files dropped from a file manager
    // come as URI lists).
    void oleDragDrop(const QMimeData *data);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void resetImage();

    QImage m_picture;
    QImage m_image;
    QColor m_backColor;
    QList<LineControl *> m_lines;
};

} // namespace widgets
