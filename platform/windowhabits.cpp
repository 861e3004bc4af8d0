#include "platform/windowhabits.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>

namespace platform {

namespace {

constexpr char kOrnament[] = "accessibleOrnament";

// Presses a focused push button on Enter. Buttons of dialogs that take Enter
// themselves (auto-default ones) are left to Qt, so nothing is pressed twice.
class EnterPressesButtons : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            || (key->modifiers() & ~Qt::KeypadModifier))
            return false;
        auto *button = qobject_cast<QPushButton *>(watched);
        if (!button || !button->hasFocus() || button->autoDefault() || button->isDefault())
            return false;
        // A held key presses once, as a held Space does.
        if (button->isEnabled() && !key->isAutoRepeat())
            button->click();
        return true;
    }
};

bool isOrnament(const QWidget *widget)
{
    return widget->property(kOrnament).toBool();
}

// A widget's interface that does not list its ornament children. Their own
// interfaces still exist, but nothing leads a screen reader to them.
class WithoutOrnaments : public QAccessibleWidget
{
public:
    explicit WithoutOrnaments(QWidget *widget)
        : QAccessibleWidget(widget, widget->isWindow() ? QAccessible::Window : QAccessible::Client)
    {
    }
    int childCount() const override { return int(kept().size()); }
    QAccessibleInterface *child(int index) const override
    {
        const QList<QWidget *> children = kept();
        if (index < 0 || index >= children.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(children.at(index));
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (!child)
            return -1;
        return int(kept().indexOf(qobject_cast<QWidget *>(child->object())));
    }

private:
    // The same children as Qt lists for a widget, less the ornaments.
    QList<QWidget *> kept() const
    {
        QList<QWidget *> children;
        for (QObject *object : widget()->children()) {
            auto *child = qobject_cast<QWidget *>(object);
            if (child && !child->isWindow() && !isOrnament(child))
                children.append(child);
        }
        return children;
    }
};

QAccessibleInterface *ornamentFreeFactory(const QString &className, QObject *object)
{
    // Asked for the object's own class first; only a widget that holds
    // ornaments gets the filtering interface, all others keep Qt's.
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget || className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    for (QObject *child : widget->children()) {
        auto *w = qobject_cast<QWidget *>(child);
        if (w && isOrnament(w))
            return new WithoutOrnaments(widget);
    }
    return nullptr;
}

} // namespace

void installWindowHabits(QApplication &app)
{
    app.installEventFilter(new EnterPressesButtons(&app));
    QAccessible::installFactory(ornamentFreeFactory);
}

} // namespace platform
