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

void RemoveAll(QString &text, const QString &pattern)
{
    if (pattern.isEmpty())
        throw RunError(QStringLiteral("内部错误：要删除的文本为空。"));
    while (text.contains(pattern, Qt::CaseSensitive))
        text.remove(pattern, Qt::CaseSensitive);
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
