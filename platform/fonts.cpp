#include "platform/fonts.h"

#include <QApplication>
#include <QFont>
#include <QStringList>

namespace platform {

void installFontFallbacks()
{
    const QStringList fallbacks = {
        QStringLiteral("SimSun"),           QStringLiteral("NSimSun"),
        QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"),
        QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Droid Sans Fallback"),
    };
    QFont::insertSubstitutions(QStringLiteral("宋体"), fallbacks);
    QFont::insertSubstitutions(QStringLiteral("SimSun"), fallbacks.mid(1));
    // Forms that name no font use 宋体 9 pt, as a Chinese desktop does.
    QFont font(QStringLiteral("宋体"), 9);
    QApplication::setFont(font);
}

} // namespace platform
