#include "widgets/picturebox.h"

#include "widgets/focusmark.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QPainter>

namespace widgets {

namespace {
constexpr int twipsPerPixel = 15;
}

LineControl::LineControl(PictureBox *box) : m_box(box) {}

void LineControl::setX1(float v)
{
    m_x1 = v;
    m_box->update();
}

void LineControl::setY1(float v)
{
    m_y1 = v;
    m_box->update();
}

void LineControl::setX2(float v)
{
    m_x2 = v;
    m_box->update();
}

void LineControl::setY2(float v)
{
    m_y2 = v;
    m_box->update();
}

void LineControl::setCoordinates(float x1, float y1, float x2, float y2)
{
    m_x1 = x1;
    m_y1 = y1;
    m_x2 = x2;
    m_y2 = y2;
    m_box->update();
}

void LineControl::setVisible(bool visible)
{
    m_visible = visible;
    m_box->update();
}

void LineControl::setColor(const QColor &color)
{
    m_color = color;
    m_box->update();
}

PictureBox::PictureBox(QWidget *parent) : QFrame(parent), m_backColor(240, 240, 240)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setAcceptDrops(true);
    resetImage();
}

PictureBox::~PictureBox()
{
    qDeleteAll(m_lines);
}

void PictureBox::resetImage()
{
    const QSize size = contentsRect().size().expandedTo(QSize(1, 1));
    m_image = QImage(size, QImage::Format_RGB32);
    m_image.fill(m_backColor);
    if (!m_picture.isNull()) {
        QPainter painter(&m_image);
        painter.drawImage(QPoint(0, 0), m_picture);
    }
    update();
}

void PictureBox::setPicture(const QImage &picture)
{
    m_picture = picture;
    resetImage();
}

void PictureBox::drawPersistent(const QImage &image)
{
    QPainter painter(&m_image);
    painter.drawImage(QPoint(0, 0), image);
    painter.end();
    update();
}

int PictureBox::scaleWidth() const
{
    return contentsRect().width() * twipsPerPixel;
}

int PictureBox::scaleHeight() const
{
    return contentsRect().height() * twipsPerPixel;
}

void PictureBox::setBackColor(const QColor &color)
{
    m_backColor = color;
    resetImage();
}

LineControl *PictureBox::addLine()
{
    m_lines.append(new LineControl(this));
    return m_lines.last();
}

void PictureBox::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect interior = contentsRect();
    painter.setClipRect(interior);
    painter.drawImage(interior.topLeft(), m_image);
    painter.translate(interior.topLeft());
    for (const LineControl *line : std::as_const(m_lines)) {
        if (!line->isVisible())
            continue;
        painter.setPen(QPen(line->color(), 1));
        painter.drawLine(QPointF(line->X1() / twipsPerPixel, line->Y1() / twipsPerPixel),
                         QPointF(line->X2() / twipsPerPixel, line->Y2() / twipsPerPixel));
    }
    // Over the picture like the guides, never in the persistent image: the
    // tiles are cut from that.
    if (hasFocus())
        drawFocusMark(painter, QRect(QPoint(), interior.size()).adjusted(1, 1, -1, -1));
}

void PictureBox::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    if (m_image.size() != contentsRect().size())
        resetImage();
}

void PictureBox::dragEnterEvent(QDragEnterEvent *event)
{
    if (acceptDrops())
        event->acceptProposedAction();
}

void PictureBox::dragMoveEvent(QDragMoveEvent *event)
{
    if (acceptDrops())
        event->acceptProposedAction();
}

void PictureBox::dropEvent(QDropEvent *event)
{
    event->acceptProposedAction();
    emit oleDragDrop(event->mimeData());
}

} // namespace widgets
