#pragma once

#include "widgets/focusmark.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

namespace widgets {

// A label (text or picture) that reports mouse-down with the button pressed,
// for the banner and link lines of the forms. A label given a focus policy in
// its form is a link the keyboard reaches: it shows the focus, and Enter,
// the keypad's Enter or Space report a left-button press.
class ClickLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void mouseDown(Qt::MouseButton button);

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        QLabel::mousePressEvent(event);
        emit mouseDown(event->button());
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        const bool press = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter
                           || event->key() == Qt::Key_Space;
        if (!press || (event->modifiers() & ~Qt::KeypadModifier)) {
            QLabel::keyPressEvent(event);
            return;
        }
        event->accept();
        if (!event->isAutoRepeat())
            emit mouseDown(Qt::LeftButton);
    }
    void paintEvent(QPaintEvent *event) override
    {
        QLabel::paintEvent(event);
        if (hasFocus()) {
            QPainter painter(this);
            drawFocusMark(painter, rect());
        }
    }
};

} // namespace widgets
