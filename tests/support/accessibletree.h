#pragma once

#include <QAccessible>
#include <QStringList>
#include <QWidget>

// A window's shown controls as a screen reader finds them, in the tree's
// order: "objectName:accessible name".
inline QStringList accessibleControls(QWidget *window)
{
    QStringList found;
    const QAccessibleInterface *tree = QAccessible::queryAccessibleInterface(window);
    for (int i = 0; i < tree->childCount(); ++i)
        if (const QAccessibleInterface *child = tree->child(i); !child->state().invisible)
            found << child->object()->objectName() + ':' + child->text(QAccessible::Name);
    return found;
}
