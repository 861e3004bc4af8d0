#include "platform/screen.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace platform {

void centreOnScreen(QWidget &window)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - window.rect().center());
}

void centreOver(QWidget &window, const QWidget *parent)
{
    const QWidget *over = parent ? parent->window() : nullptr;
    const QScreen *screen = over ? over->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect free = screen->availableGeometry();
    const bool framed = over && over->isVisible() && !over->isMinimized()
                        && !(over->windowFlags() & Qt::FramelessWindowHint);
    QRect placed(QPoint(), window.size());
    placed.moveCenter(framed ? over->frameGeometry().center() : free.center());
    placed.moveLeft(qMax(free.left(), qMin(placed.left(), free.right() + 1 - placed.width())));
    placed.moveTop(qMax(free.top(), qMin(placed.top(), free.bottom() + 1 - placed.height())));
    window.move(placed.topLeft());
}

} // namespace platform
