#pragma once

#include <QByteArray>
#include <QString>

namespace common {

// Turns page bytes as the transfer control delivers them into text. Malformed
// sequences become U+FFFD instead of failing: a damaged page must still reach
// the marker searches, whose own failures then say what is wrong.
QString DecodeUtf8(const QByteArray &bytes);

// Removes every occurrence of pattern from text, pass after pass, until none
// is left, so that an occurrence that only forms once the inner ones are cut
// out goes as well ("aabbx" without "ab" is "x"). An empty pattern throws
// RunError: it occurs everywhere and the passes would never end.
void RemoveAll(QString &text, const QString &pattern);

// The text operations that the page reading rules are written in. Positions
// are 1-based and 0 means "not found", so that the rules' arithmetic can be
// kept exactly as written; each throws RunError where the classic run time
// raises an error instead of quietly clamping.

// Position of the first pattern in text at or after start; 0 when absent.
// A start below 1 throws.
qsizetype inStr(qsizetype start, const QString &text, const QString &pattern);
inline qsizetype inStr(const QString &text, const QString &pattern)
{
    return inStr(1, text, pattern);
}

// length characters from start on (fewer at the end of text; none when start
// lies beyond it). A start below 1 or a negative length throws.
QString mid(const QString &text, qsizetype start, qsizetype length);
// Everything from start on.
QString mid(const QString &text, qsizetype start);

// The first / last n characters (the whole text when it is shorter). A
// negative n throws.
QString left(const QString &text, qsizetype n);
QString right(const QString &text, qsizetype n);

} // namespace common
