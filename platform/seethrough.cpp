#include "platform/seethrough.h"

#include <QBitmap>
#include <QChildEvent>
#include <QImage>
#include <QLabel>
#include <QTimer>
#include <QEvent>
#include <QHash>
#include <QPainter>
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

// A label as the desktop sees it without a compositor: its text in solid
// pixels of the text's colour. The blended edge pixels of anti-aliased text
// are either taken whole or left out, since a window shape has no partial
// pixels; drawn blended, they would show the window's grey on the desktop
// and turn thin Latin strokes whitish.
QImage solidText(QLabel &label)
{
    QImage image(label.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    label.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    image.convertTo(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = qAlpha(line[x]) >= 128 ? (line[x] | 0xff000000u) : 0u;
    }
    return image;
}

// The label's part of the shape: its solid text and a one-pixel rim of the
// window's own background around it, so that the words read on a dark
// desktop as on a light one.
QRegion paintedRegion(const QLabel &label, const QImage &text)
{
    const QRegion pixels(QBitmap::fromImage(text.createAlphaMask(Qt::ThresholdAlphaDither | Qt::AvoidDither)));
    QRegion rim;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            rim += pixels.translated(dx, dy);
    return rim.intersected(QRect(QPoint(), label.size())).translated(label.pos());
}

// The union of the visible child controls, in the window's own coordinates:
// labels by their text, every other control by its rectangle. Hidden
// controls (the forms' hidden text boxes) take no part.
QRegion controlsRegion(const QWidget &window, QHash<const QLabel *, QImage> &texts)
{
    QRegion region;
    texts.clear();
    const QObjectList &children = window.children();
    for (QObject *child : children) {
        auto *widget = qobject_cast<QWidget *>(child);
        if (!widget || widget->isWindow() || !showsWith(window, *widget))
            continue;
        if (auto *label = qobject_cast<QLabel *>(widget)) {
            const QImage text = solidText(*label);
            region += paintedRegion(*label, text);
            texts.insert(label, text);
        } else
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
        case QEvent::Paint: {
            auto *label = qobject_cast<QLabel *>(watched);
            if (watched == m_window || !label || m_window->testAttribute(Qt::WA_TranslucentBackground))
                break;
            // A label that paints anew may show another text: reshape once
            // the painting is over (rendering it here would paint again).
            if (!m_pending) {
                m_pending = true;
                QTimer::singleShot(0, this, [this] {
                    m_pending = false;
                    update();
                });
            }
            // The pixels the shape was cut from, and no others.
            const QImage text = m_texts.value(label);
            if (text.size() != label->size())
                break;
            QPainter(label).drawImage(0, 0, text);
            return true;
        }
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
        if (!m_window || m_window->testAttribute(Qt::WA_TranslucentBackground))
            return;
        m_rendering = true;
        const QHash<const QLabel *, QImage> before = m_texts;
        QRegion region = controlsRegion(*m_window, m_texts);
        m_rendering = false;
        // A label whose text changed painted the old one last time.
        for (auto it = m_texts.cbegin(); it != m_texts.cend(); ++it)
            if (before.value(it.key()) != it.value())
                const_cast<QLabel *>(it.key())->update();
        // An empty mask means "no mask" to the window system: a window
        // without a visible control would show all of its background.
        if (region.isEmpty())
            region = QRegion(0, 0, 1, 1);
        if (m_window->mask() != region)
            m_window->setMask(region);
    }

    QPointer<QWidget> m_window;
    QHash<const QLabel *, QImage> m_texts;
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
