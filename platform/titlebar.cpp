#include "platform/titlebar.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <QWindow>

namespace platform {

namespace {

constexpr int kBarHeight = 30;
constexpr int kButton = 18;
constexpr int kMargin = 6;

// Painted, not made of buttons: nothing of it takes the keyboard focus or
// shows in the window's tab order.
class TitleBar : public QWidget
{
public:
    explicit TitleBar(QWidget &window) : QWidget(&window), m_window(window)
    {
        setObjectName(QStringLiteral("mosalune_titlebar"));
        setAttribute(Qt::WA_NoMousePropagation);
        setMouseTracking(true);
        window.installEventFilter(this);
        setGeometry(0, 0, window.width(), kBarHeight);
    }

    QRect closeRect() const
    {
        return QRect(width() - kMargin - kButton, (kBarHeight - kButton) / 2, kButton, kButton);
    }
    QRect minimiseRect() const
    {
        if (!(m_window.windowFlags() & Qt::WindowMinimizeButtonHint))
            return QRect();
        return closeRect().translated(-kButton - kMargin, 0);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == &m_window) {
            if (event->type() == QEvent::Resize)
                setGeometry(0, 0, m_window.width(), kBarHeight);
            else if (event->type() == QEvent::WindowTitleChange
                     || event->type() == QEvent::ActivationChange)
                update();
        }
        return false;
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const bool active = m_window.isActiveWindow();
        painter.fillRect(rect(), palette().color(QPalette::Window).darker(active ? 112 : 104));
        painter.setPen(palette().color(active ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        // The title centred over the whole bar when it fits there, else in
        // the room the buttons leave; elided only when even that is short.
        const int right = (minimiseRect().isNull() ? closeRect() : minimiseRect()).left() - kMargin;
        QRect room(kMargin, 0, right - kMargin, kBarHeight);
        const int wanted = painter.fontMetrics().horizontalAdvance(m_window.windowTitle());
        QRect centred(0, 0, wanted, kBarHeight);
        centred.moveCenter(rect().center());
        if (room.contains(centred, false))
            room = centred;
        painter.drawText(room, Qt::AlignCenter,
                         painter.fontMetrics().elidedText(m_window.windowTitle(), Qt::ElideRight, room.width()));

        QPen pen = painter.pen();
        pen.setWidth(2);
        painter.setPen(pen);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF cross = QRectF(closeRect()).adjusted(5, 5, -5, -5);
        painter.drawLine(cross.topLeft(), cross.bottomRight());
        painter.drawLine(cross.bottomLeft(), cross.topRight());
        if (!minimiseRect().isNull()) {
            const QRectF bar = QRectF(minimiseRect()).adjusted(5, 5, -5, -5);
            painter.drawLine(bar.bottomLeft(), bar.bottomRight());
        }
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        m_pressed = buttonAt(event->position().toPoint());
        if (event->button() == Qt::LeftButton && m_pressed.isNull() && m_window.windowHandle())
            m_window.windowHandle()->startSystemMove();
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        const QRect released = buttonAt(event->position().toPoint());
        const bool same = event->button() == Qt::LeftButton && !released.isNull() && released == m_pressed;
        m_pressed = QRect();
        if (same && released == closeRect())
            m_window.close();
        else if (same)
            m_window.showMinimized();
    }

private:
    QRect buttonAt(const QPoint &at) const
    {
        if (closeRect().contains(at))
            return closeRect();
        if (minimiseRect().contains(at))
            return minimiseRect();
        return QRect();
    }

    QWidget &m_window;
    QRect m_pressed;
};

} // namespace

void addOwnTitleBar(QWidget &window)
{
    window.setWindowFlag(Qt::FramelessWindowHint);
    if (QLayout *layout = window.layout()) {
        QMargins margins = layout->contentsMargins();
        margins.setTop(margins.top() + kBarHeight);
        layout->setContentsMargins(margins);
    } else {
        for (QWidget *child : window.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            if (!child->isWindow())
                child->move(child->pos() + QPoint(0, kBarHeight));
        window.resize(window.width(), window.height() + kBarHeight);
    }
    (new TitleBar(window))->raise();
}

bool ownTitleBars()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void fixWindowSize(QWidget &window)
{
    if (ownTitleBars())
        addOwnTitleBar(window);
    window.setFixedSize(window.size());
}

} // namespace platform
