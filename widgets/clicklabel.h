#pragma once

#include <QLabel>
#include <QMouseEvent>

namespace widgets {

// A label (text or picture) that reports mouse-down with the button pressed,
// for the banner and link lines of the forms.
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
};

} // namespace widgets
