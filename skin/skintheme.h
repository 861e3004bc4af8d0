#pragma once

#include <QByteArray>
#include <QString>

namespace skin {

// Results of the entry points; the programs ignore them, tools and tests read
// them.
enum Result : int {
    Ok = 0,
    NoApplication = 1, // not called from a widget program
    ThemeMissing = 2,  // the theme file cannot be read
    ThemeForeign = 3,  // the file is not one of our themes
    NoSuchWindow = 4,  // SetAero: no window of this program has that handle
};

// The theme format: the four bytes ".SHE", the rest of that first line naming
// the format ("qss 1"), then a Qt style sheet in UTF-8.
struct Theme
{
    QString styleSheet;
};

// Returns Ok and fills *theme, or ThemeForeign for anything else.
Result parseTheme(const QByteArray &bytes, Theme *theme);

} // namespace skin
