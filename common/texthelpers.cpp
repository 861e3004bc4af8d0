#include "common/texthelpers.h"

#include "common/errors.h"

#include <QStringDecoder>

namespace common {

QString DecodeUtf8(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QString();
    // Never strict: what is broken becomes U+FFFD. A byte order mark at the
    // start stays a character of the text, so that positions count every
    // byte sequence that arrived. Stateless: a sequence cut short at the end
    // of the body is replaced too, not held back for more bytes that never come.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

namespace {

// Whether some proper prefix of pattern is also its suffix ("aba", "aa").
bool overlapsItself(const QString &pattern)
{
    for (qsizetype n = 1; n < pattern.size(); ++n) {
        if (QStringView(pattern).left(n) == QStringView(pattern).right(n))
            return true;
    }
    return false;
}

} // namespace

void RemoveAll(QString &text, const QString &pattern)
{
    if (pattern.isEmpty())
        throw RunError(QStringLiteral("内部错误：要删除的文本为空。"));
    if (!text.contains(pattern, Qt::CaseSensitive))
        return;
    if (overlapsItself(pattern)) {
        while (text.contains(pattern, Qt::CaseSensitive))
            text.remove(pattern, Qt::CaseSensitive);
        return;
    }
    // Pass after pass costs time in the square of the text's length on a
    // page built to nest the pattern deeply. For a pattern that cannot
    // overlap itself, every order of removal ends in the same text, so one
    // scan that drops each occurrence as soon as it is complete gives the
    // result of the passes.
    QString out;
    out.reserve(text.size());
    for (const QChar ch : std::as_const(text)) {
        out.append(ch);
        if (out.endsWith(pattern, Qt::CaseSensitive))
            out.chop(pattern.size());
    }
    text = out;
}

qsizetype inStr(qsizetype start, const QString &text, const QString &pattern)
{
    if (start < 1)
        throw RunError(QStringLiteral("内部错误：查找的起始位置 %1 无效。").arg(start));
    if (start > text.size())
        return 0;
    if (pattern.isEmpty())
        return start;
    return text.indexOf(pattern, start - 1, Qt::CaseSensitive) + 1;
}

QString mid(const QString &text, qsizetype start, qsizetype length)
{
    if (start < 1)
        throw RunError(QStringLiteral("内部错误：截取的起始位置 %1 无效。").arg(start));
    if (length < 0)
        throw RunError(QStringLiteral("内部错误：截取的长度 %1 无效。").arg(length));
    if (start > text.size())
        return QString();
    return text.mid(start - 1, length);
}

QString mid(const QString &text, qsizetype start)
{
    if (start < 1)
        throw RunError(QStringLiteral("内部错误：截取的起始位置 %1 无效。").arg(start));
    if (start > text.size())
        return QString();
    return text.mid(start - 1);
}

QString left(const QString &text, qsizetype n)
{
    if (n < 0)
        throw RunError(QStringLiteral("内部错误：截取的长度 %1 无效。").arg(n));
    return text.left(n);
}

QString right(const QString &text, qsizetype n)
{
    if (n < 0)
        throw RunError(QStringLiteral("内部错误：截取的长度 %1 无效。").arg(n));
    return text.right(n);
}

} // namespace common
