// BrontelSkin.dll: gives every window of the program that loads it the look of
// a theme file. Loaded at run time and called through two C entry points.

#include "skin/skintheme.h"

#include <QApplication>
#include <QFile>
#include <QStyle>
#include <QWidget>

#include <cstdint>

#define SKIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

QWidget *windowWithHandle(std::int32_t handle)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        // internalWinId() never creates a native window behind the caller's
        // back; a window without one cannot be the one it names.
        const WId id = window->internalWinId();
        if (id != 0 && static_cast<std::int32_t>(id) == handle)
            return window;
    }
    return nullptr;
}

} // namespace

// Applies the theme at skinPath to the whole program: the windows that exist
// and every window made afterwards. The look only: colours, borders and
// fonts' colours, never a control's place or size. A missing or foreign
// theme leaves everything as it was. The password is accepted for the
// callers' sake; our themes are not locked.
SKIN_EXPORT std::int32_t SkinH_AttachEx(const char *skinPath, const char *password)
{
    (void)password;
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app)
        return skin::NoApplication;
    if (!skinPath)
        return skin::ThemeMissing;
    QFile file(QFile::decodeName(skinPath));
    if (!file.open(QIODevice::ReadOnly))
        return skin::ThemeMissing;
    // Our themes are small; anything far larger is not one of them.
    const QByteArray bytes = file.read(4 * 1024 * 1024 + 1);
    if (bytes.size() > 4 * 1024 * 1024)
        return skin::ThemeForeign;
    skin::Theme theme;
    const skin::Result result = skin::parseTheme(bytes, &theme);
    if (result != skin::Ok)
        return result;
    app->setStyleSheet(theme.styleSheet);
    return skin::Ok;
}

// Marks the window as one that wants the theme's glass look; the theme's
// "[skinAero=true]" rules then draw its controls half-transparent. Where the
// window's background is not see-through the marks only blend with it.
SKIN_EXPORT std::int32_t SkinH_SetAero(std::int32_t handle)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return skin::NoApplication;
    QWidget *window = windowWithHandle(handle);
    if (!window)
        return skin::NoSuchWindow;
    window->setProperty("skinAero", true);
    // Property selectors are matched at polish time.
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    window->style()->unpolish(window);
    window->style()->polish(window);
    for (QWidget *widget : widgets) {
        widget->style()->unpolish(widget);
        widget->style()->polish(widget);
    }
    return skin::Ok;
}
