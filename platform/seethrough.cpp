#include "platform/seethrough.h"

#include <QBitmap>
#include <QChildEvent>
#include <QImage>
#include <QLabel>
#include <QTimer>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QRegion>
#include <QVariant>
#include <QWidget>

namespace platform {

namespace {

// Whether the control is on screen when the window is. Before the window is
// first shown every control counts hidden; those not hidden on purpose will
// come up with it.
bool showsWith(const QWidget &window, const QWidget &control)
{
    if (window.isVisible() || control.testAttribute(Qt::WA_WState_ExplicitShowHide))
        return !control.isHidden();
    return true;
}

// A label is only its text: the pixels it paints itself, without the
// window's background behind them, so that the words float on the desktop.
QRegion paintedRegion(QLabel &label)
{
    QImage image(label.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    label.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    const QImage mask = image.createAlphaMask(Qt::ThresholdAlphaDither | Qt::AvoidDither);
    return QRegion(QBitmap::fromImage(mask)).translated(label.pos());
}

// The union of the visible child controls, in the window's own coordinates:
// labels by their text, every other control by its rectangle. Hidden
// controls (the forms' hidden text boxes) take no part.
QRegion controlsRegion(const QWidget &window)
{
    QRegion region;
    const QObjectList &children = window.children();
    for (QObject *child : children) {
        auto *widget = qobject_cast<QWidget *>(child);
        if (!widget || widget->isWindow() || !showsWith(window, *widget))
            continue;
        if (auto *label = qobject_cast<QLabel *>(widget))
            region += paintedRegion(*label);
        else
            region += widget->geometry();
    }
    return region;
}

// Keeps the window's shape equal to its controls for the window's lifetime.
class MaskKeeper : public QObject
{
public:
    explicit MaskKeeper(QWidget &window) : QObject(&window), m_window(&window)
    {
        window.installEventFilter(this);
        for (QObject *child : window.children())
            watch(child);
        update();
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Rendering a label delivers its pending events, and paints it: all
        // part of the shape being made.
        if (m_rendering)
            return false;
        switch (event->type()) {
        case QEvent::ChildAdded:
            if (watched == m_window)
                watch(static_cast<QChildEvent *>(event)->child());
            break;
        case QEvent::Paint:
            // A label that paints anew may show another text: reshape once
            // the painting is over (rendering it here would paint again).
            if (watched != m_window && qobject_cast<QLabel *>(watched) && !m_pending) {
                m_pending = true;
                QTimer::singleShot(0, this, [this] {
                    m_pending = false;
                    update();
                });
            }
            break;
        case QEvent::ChildRemoved:
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::ShowToParent:
        case QEvent::HideToParent:
            update();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void watch(QObject *child)
    {
        if (child->isWidgetType() && child != this)
            child->installEventFilter(this);
    }

    void update()
    {
        if (!m_window)
            return;
        m_rendering = true;
        QRegion region = controlsRegion(*m_window);
        m_rendering = false;
        // An empty mask means "no mask" to the window system: a window
        // without a visible control would show all of its background.
        if (region.isEmpty())
            region = QRegion(0, 0, 1, 1);
        if (m_window->mask() != region)
            m_window->setMask(region);
    }

    QPointer<QWidget> m_window;
    bool m_rendering = false;
    bool m_pending = false;
};

} // namespace

void makeSeeThrough(QWidget &window)
{
    makeSeeThrough(window, seeThroughForDesktop());
}

void makeSeeThrough(QWidget &window, SeeThrough way)
{
    window.setWindowFlag(Qt::FramelessWindowHint, true);
    if (way == SeeThrough::Translucent) {
        window.setAttribute(Qt::WA_TranslucentBackground, true);
        window.setAutoFillBackground(false);
        window.clearMask();
        return;
    }
    window.setAttribute(Qt::WA_TranslucentBackground, false);
    static const char *const kept = "mosaluneShapeKept";
    if (!window.property(kept).toBool()) {
        window.setProperty(kept, true);
        new MaskKeeper(window);
    }
}

SeeThrough seeThroughForDesktop()
{
    return desktopComposites() ? SeeThrough::Translucent : SeeThrough::Mask;
}

} // namespace platform
