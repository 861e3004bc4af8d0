#include "platform/fetchinput.h"

#include "common/inet.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace platform {

namespace {

bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::Drop:
    case QEvent::DragEnter:
    case QEvent::DragMove:
        return true;
    default:
        return false;
    }
}

class StopInputFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!common::Inet::stoppableFetchWaiting() || !isInput(event->type()))
            return false;
        // Widgets get what their native window received: the decision is
        // taken there, once.
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget)
            return false;
        const QWidget *modal = QApplication::activeModalWidget();
        if (modal && (widget == modal || modal->isAncestorOf(widget)))
            return false;
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)
            return static_cast<QKeyEvent *>(event)->key() != Qt::Key_Escape;
        return true;
    }
};

} // namespace

void letUserStopFetches(common::Inet &inet)
{
    inet.setStoppable(true);
    static QObject *filter = nullptr;
    if (!filter && qApp) {
        filter = new StopInputFilter(qApp);
        qApp->installEventFilter(filter);
    }
}

} // namespace platform
