#include "platform/seethrough.h"

#include <QChildEvent>
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

// The union of the visible child controls' rectangles, in the window's own
// coordinates. Hidden controls (the forms' hidden text boxes) take no part.
QRegion controlsRegion(const QWidget &window)
{
    QRegion region;
    const QObjectList &children = window.children();
    for (QObject *child : children) {
        auto *widget = qobject_cast<QWidget *>(child);
        if (!widget || widget->isWindow() || !showsWith(window, *widget))
            continue;
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
        switch (event->type()) {
        case QEvent::ChildAdded:
            if (watched == m_window)
                watch(static_cast<QChildEvent *>(event)->child());
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
        QRegion region = controlsRegion(*m_window);
        // An empty mask means "no mask" to the window system: a window
        // without a visible control would show all of its background.
        if (region.isEmpty())
            region = QRegion(0, 0, 1, 1);
        if (m_window->mask() != region)
            m_window->setMask(region);
    }

    QPointer<QWidget> m_window;
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
