#include "skin/skintheme.h"

namespace skin {

Result parseTheme(const QByteArray &bytes, Theme *theme)
{
    static const QByteArray magic(".SHE");
    static const QByteArray format(" qss 1");
    if (!bytes.startsWith(magic))
        return ThemeForeign;
    const qsizetype lineEnd = bytes.indexOf('\n');
    if (lineEnd < 0)
        return ThemeForeign;
    // A later format of the theme would carry another line; an older library
    // must leave the look alone rather than half-apply it.
    QByteArray header = bytes.left(lineEnd).mid(magic.size());
    if (header.endsWith('\r'))
        header.chop(1);
    if (header != format)
        return ThemeForeign;
    const QByteArray sheet = bytes.mid(lineEnd + 1);
    QString text = QString::fromUtf8(sheet);
    // A sheet that is not valid UTF-8 was not written by us.
    if (text.contains(QChar::ReplacementCharacter))
        return ThemeForeign;
    theme->styleSheet = std::move(text);
    return Ok;
}

} // namespace skin
