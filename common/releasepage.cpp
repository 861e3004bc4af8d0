#include "common/releasepage.h"

#include "common/programfiles.h"
#include "common/texthelpers.h"

#include "buildinfo.h"

#include <QHash>

#include <algorithm>
#include <array>

namespace common {

namespace {

const QString kQuote = QStringLiteral("\"");
const QString kParagraph = QStringLiteral("<p>");
const QString kLineBreak = QStringLiteral("\r\n");

// Quotes a marker or fragment for a message, the way the windows write them.
QString quoted(const QString &text)
{
    return QStringLiteral("“%1”").arg(text);
}

// True for the device names that Windows reserves in every folder, with or
// without an extension ("NUL", "com1.txt").
bool isReservedDeviceName(const QString &name)
{
    const QString stem = name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList plain{QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                                   QStringLiteral("NUL"), QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (plain.contains(stem))
        return true;
    return stem.size() == 4 && (stem.startsWith(QStringLiteral("COM")) || stem.startsWith(QStringLiteral("LPT")))
           && stem.at(3) >= QLatin1Char('1') && stem.at(3) <= QLatin1Char('9');
}

} // namespace

// The page is outside the program's control: a name with a
// path in it would let the page put files anywhere the user may write, and a
// name that reads differently from what it is (a right-to-left override, an
// invisible character) could pass a file off as another. The program folder
// must also stay usable on Windows, so what Windows refuses is refused here.
QString unsafeNameReason(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("文件名为空");
    if (name == QStringLiteral(".") || name == QStringLiteral(".."))
        return QStringLiteral("文件名不能是“.”或“..”");
    for (const QChar ch : name) {
        if (ch == QLatin1Char('/') || ch == QLatin1Char('\\') || ch == QLatin1Char(':'))
            return QStringLiteral("文件名中不能含有“/”“\\”或“:”，只能是单纯的文件名，不能带路径");
        if (ch.category() == QChar::Other_Control)
            return QStringLiteral("文件名中含有控制字符");
        if (ch.category() == QChar::Other_Format || ch.category() == QChar::Separator_Line
            || ch.category() == QChar::Separator_Paragraph)
            return QStringLiteral("文件名中含有不可见的格式字符（如方向控制符、零宽字符或换行符）");
        if (QStringLiteral("<>\"|?*").contains(ch))
            return QStringLiteral("文件名中不能含有 < > \" | ? * 等字符");
    }
    if (name.front().isSpace() || name.back().isSpace())
        return QStringLiteral("文件名的开头或结尾不能是空格");
    if (name.endsWith(QLatin1Char('.')))
        return QStringLiteral("文件名不能以“.”结尾");
    if (name.toUtf8().size() > 255)
        return QStringLiteral("文件名过长");
    if (isReservedDeviceName(name))
        return QStringLiteral("文件名是系统保留的设备名");
    return QString();
}

QString targetFileName(const QString &listedName)
{
    return listedName == updaterFileName ? newUpdaterFileName : listedName;
}

const QStringList &CommonMarkup()
{
    static const QStringList patterns{
        QStringLiteral("</span>"),
        QStringLiteral("</strong>"),
        QStringLiteral("<strong>"),
        QStringLiteral("</p>"),
        QStringLiteral("<span style=\"color: #ff0000;\">"),
        QStringLiteral("<span style=\"color: #000000;\">"),
        QStringLiteral("&nbsp;"),
    };
    return patterns;
}

const QStringList &LinkMarkup()
{
    static const QStringList patterns{
        QStringLiteral("<a href="),
        QStringLiteral("amp;"),
        QStringLiteral("target=\"_blank\">"),
        QStringLiteral("</a>)"),
        QStringLiteral("("),
    };
    return patterns;
}

void RemoveMarkup(QString &text, const QStringList &patterns)
{
    for (const QString &pattern : patterns)
        RemoveAll(text, pattern);
}

QString PageVersion(const QString &page)
{
    const QString marker = QStringLiteral("Ver");
    const qsizetype p = inStr(page, marker);
    if (p == 0)
        throw ReadError(marker, QStringLiteral("发布页中找不到版本标记%1。").arg(quoted(marker)));
    return right(mid(page, p, 11), 8);
}

QString OwnVersion(int major, int minor, int revision)
{
    const auto twoDigits = [](int n) {
        const QString digits = QStringLiteral("%1").arg(qAbs(qint64(n)), 2, 10, QLatin1Char('0'));
        return n < 0 ? QStringLiteral("-") + digits : digits;
    };
    return twoDigits(major) + QLatin1Char('.') + twoDigits(minor) + QLatin1Char('.')
           + twoDigits(revision);
}

bool IsNewerVersion(const QString &pageVersion, int major, int minor, int revision)
{
    const QStringList parts = pageVersion.split(QLatin1Char('.'));
    if (parts.size() != 3)
        return false;
    std::array<qint64, 3> page{};
    for (int i = 0; i < 3; ++i) {
        const QString &part = parts.at(i);
        // Digits only: no sign, no blank, nothing toLongLong would also take.
        if (part.isEmpty() || part.size() > 9
            || !std::all_of(part.begin(), part.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
            return false;
        page[i] = part.toLongLong();
    }
    return page > std::array<qint64, 3>{major, minor, revision};
}

bool OffersUpdate(const QString &pageVersion, int major, int minor, int revision, bool signedBuild)
{
    return signedBuild ? IsNewerVersion(pageVersion, major, minor, revision)
                       : pageVersion != OwnVersion(major, minor, revision);
}

QString OwnVersion()
{
    return OwnVersion(buildinfo::versionMajor, buildinfo::versionMinor,
                      buildinfo::versionRevision);
}

QString ChangeLogSection(const QString &page)
{
    const QString startMarker = QStringLiteral("更新日志");
    const QString endMarker = QStringLiteral("更新文件及地址");
    const qsizetype s = inStr(page, startMarker);
    const qsizetype e = inStr(page, endMarker);
    if (s == 0)
        throw ReadError(startMarker,
                        QStringLiteral("发布页中找不到更新日志标记%1。").arg(quoted(startMarker)));
    if (e == 0)
        throw ReadError(endMarker, QStringLiteral("发布页中找不到更新日志的结束标记%1。")
                                       .arg(quoted(endMarker)));
    if (e - s < 0)
        throw ReadError(QStringLiteral("ChangeLog.order"),
                        QStringLiteral("发布页中%1出现在%2之前，更新日志必须写在文件列表之前。")
                            .arg(quoted(endMarker), quoted(startMarker)));
    return mid(page, s, e - s);
}

QString EntryFileName(const QString &displayEntry)
{
    const qsizetype q1 = inStr(displayEntry, kQuote);
    // The name runs from the third character to the first quote; a quote
    // among the first two characters leaves no name at all.
    const QString name = q1 >= 3 ? mid(displayEntry, 3, q1 - 3) : QString();
    const QString reason = unsafeNameReason(name);
    if (!reason.isEmpty())
        throw ReadError(QStringLiteral("FileEntries.name"),
                        QStringLiteral("文件条目%1中的文件名不可用：%2。")
                            .arg(quoted(displayEntry), reason));
    return name;
}

namespace {

// The file list's section of the page, cleaned of markup, from its first
// entry's text on.
QString fileListSection(const QString &page)
{
    const QString heading = QStringLiteral("更新文件及地址：");
    const QString endMarker = QStringLiteral("消息推送：");
    const qsizetype s = inStr(page, heading);
    const qsizetype e = inStr(page, endMarker);
    // Without its heading the list would be cut from the eighth character of
    // the page on, and whatever stands there would be taken for files.
    if (s == 0)
        throw ReadError(heading,
                        QStringLiteral("发布页中找不到文件列表标题%1。").arg(quoted(heading)));
    if (e == 0)
        throw ReadError(endMarker, QStringLiteral("发布页中找不到文件列表的结束标记%1。")
                                       .arg(quoted(endMarker)));
    const qsizetype n = e - s - 8;
    if (n < 0)
        throw ReadError(QStringLiteral("FileEntries.order"),
                        QStringLiteral("发布页中%1出现在文件列表标题%2结束之前。")
                            .arg(quoted(endMarker), quoted(heading)));
    QString section = mid(page, s + 8, n);
    RemoveMarkup(section, CommonMarkup());
    RemoveMarkup(section, LinkMarkup());
    if (section.size() < 3)
        throw ReadError(QStringLiteral("FileEntries.start"),
                        QStringLiteral("文件列表标题%1之后不足三个字符，读不到第一个文件条目的%2。")
                            .arg(quoted(heading), quoted(kParagraph)));
    return mid(section, 4);
}

// The entry that piece `i` (from 0) of the list holds: its text up to the
// second quote, the share address between the quotes, the file's name.
FileEntry readFileEntry(const QString &piece, qsizetype i)
{
    const qsizetype q1 = inStr(piece, kQuote);
    const qsizetype q2 = q1 > 0 ? inStr(q1 + 1, piece, kQuote) : 0;
    if (q1 == 0 || q2 == 0)
        throw ReadError(QStringLiteral("FileEntries.quotes"),
                        QStringLiteral("文件列表第 %1 项%2缺少成对的双引号，读不出分享地址。")
                            .arg(i + 1)
                            .arg(quoted(piece)));
    FileEntry entry;
    entry.displayEntry = left(piece, q2);
    entry.shareAddress = mid(entry.displayEntry, q1 + 1, q2 - q1 - 1);
    entry.fileName = EntryFileName(entry.displayEntry);
    return entry;
}

} // namespace

QList<FileEntry> FileEntries(const QString &page)
{
    const QStringList pieces = fileListSection(page).split(kParagraph);
    // Counted before anything else is looked at, so that a huge list costs
    // no more than its split.
    if (pieces.size() - 1 > kMaxFileEntries)
        throw ReadError(QStringLiteral("FileEntries.count"),
                        QStringLiteral("文件列表有 %1 项，最多只能有 %2 项。")
                            .arg(pieces.size() - 1)
                            .arg(kMaxFileEntries));
    QList<FileEntry> entries;
    // Two entries for one file would download it twice and keep whichever
    // came last; which one that is must not be left to the page's order.
    QHash<QString, qsizetype> written;
    // The last piece is what stands between the last "<p>" and the push
    // heading; it is never an entry.
    for (qsizetype i = 0; i + 1 < pieces.size(); ++i) {
        const FileEntry entry = readFileEntry(pieces.at(i), i);
        const QString target = targetFileName(entry.fileName);
        if (const auto first = written.constFind(target); first != written.cend())
            throw ReadError(QStringLiteral("FileEntries.duplicate"),
                            QStringLiteral("文件列表第 %1 项和第 %2 项写的是同一个文件%3。")
                                .arg(*first + 1)
                                .arg(i + 1)
                                .arg(quoted(target)));
        written.insert(target, i);
        entries.append(entry);
    }
    return entries;
}

QString DirectAddress(const QString &sharePage)
{
    const QString saveMarker = QStringLiteral("保存至网盘");
    const QString hrefMarker = QStringLiteral("href");
    const QString idMarker = QStringLiteral("id=\"");
    const qsizetype pa = inStr(sharePage, saveMarker);
    if (pa == 0)
        throw ReadError(saveMarker, QStringLiteral("分享页中找不到%1。").arg(quoted(saveMarker)));
    const qsizetype ph = inStr(pa, sharePage, hrefMarker);
    if (ph == 0)
        throw ReadError(hrefMarker, QStringLiteral("分享页中%1之后找不到链接属性%2。")
                                        .arg(quoted(saveMarker), quoted(hrefMarker)));
    const qsizetype pq = inStr(ph, sharePage, kQuote);
    if (pq == 0)
        throw ReadError(QStringLiteral("DirectAddress.quote"),
                        QStringLiteral("分享页中%1之后找不到双引号，下载地址要写在双引号之间。")
                            .arg(quoted(hrefMarker)));
    const qsizetype pd = inStr(pq, sharePage, idMarker);
    if (pd == 0)
        throw ReadError(idMarker,
                        QStringLiteral("分享页中下载地址之后找不到%1。").arg(quoted(idMarker)));
    QString raw = mid(sharePage, pq, pd - pq);
    RemoveAll(raw, QStringLiteral("amp;"));
    RemoveAll(raw, kQuote);
    qsizetype from = 0;
    qsizetype to = raw.size();
    while (from < to && raw.at(from) == QLatin1Char(' '))
        ++from;
    while (to > from && raw.at(to - 1) == QLatin1Char(' '))
        --to;
    raw = raw.mid(from, to - from);
    // An empty address would only fail once the downloads are under way,
    // after earlier files have been replaced; fail while nothing is written.
    // Line breaks and tabs count as empty too, although only spaces are cut.
    if (raw.trimmed().isEmpty())
        throw ReadError(QStringLiteral("DirectAddress.empty"),
                        QStringLiteral("分享页中的下载地址为空。"));
    return raw;
}

PushSection ReadPush(const QString &page)
{
    const QString marker = QStringLiteral("消息推送：");
    const QString endMarker = QStringLiteral("最新完整版");
    const qsizetype p = inStr(page, marker);
    if (p == 0)
        throw ReadError(marker,
                        QStringLiteral("发布页中找不到消息推送标记%1。").arg(quoted(marker)));
    PushSection push;
    push.pushSwitch = right(mid(page, p, 6), 1);
    const qsizetype e = inStr(page, endMarker);
    if (e == 0)
        throw ReadError(endMarker, QStringLiteral("发布页中找不到消息推送的结束标记%1。")
                                       .arg(quoted(endMarker)));
    const qsizetype length = e - p - 6;
    if (length < 0)
        throw ReadError(QStringLiteral("Push.order"),
                        QStringLiteral("发布页中%1出现在%2及其后的开关字之前。")
                            .arg(quoted(endMarker), quoted(marker)));
    push.pushMessage = mid(page, p + 6, length);
    RemoveMarkup(push.pushMessage, CommonMarkup());
    return push;
}

QString NoticeLogText(const QString &changeLogSection)
{
    QString section = changeLogSection;
    RemoveMarkup(section, CommonMarkup());
    QString text = QStringLiteral("正在获取更新信息") + kLineBreak;
    const QStringList pieces = section.split(kParagraph);
    for (qsizetype i = 1; i < pieces.size(); ++i)
        text += pieces.at(i) + kLineBreak;
    text = mid(text, 9);
    const qsizetype length = text.size();
    QString rest = text;
    const qsizetype firstBreak = rest.indexOf(kLineBreak);
    if (firstBreak >= 0)
        rest.remove(firstBreak, kLineBreak.size());
    if (length - 6 < 0)
        throw ReadError(QStringLiteral("ChangeLog.layout"),
                        QStringLiteral("更新日志太短，更新窗口无法显示：%1之后至少要有两个%2段落，"
                                       "或一个不少于两个字符的段落。")
                            .arg(quoted(QStringLiteral("更新日志")), quoted(kParagraph)));
    return QStringLiteral("更新日志") + kLineBreak + left(rest, length - 6);
}

QString DialogText(const QString &pushMessage)
{
    if (!pushMessage.contains(kParagraph))
        return pushMessage;
    const QStringList pieces = pushMessage.split(kParagraph);
    QString text;
    for (qsizetype i = 1; i < pieces.size(); ++i)
        text += pieces.at(i) + kLineBreak;
    // A joined text under four characters leaves nothing to show rather than
    // failing the dialog.
    return text.size() < 4 ? QString() : left(text, text.size() - 4);
}

} // namespace common
