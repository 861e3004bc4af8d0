#pragma once

#include "common/errors.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace common {

// The one reader of the release page and the share pages that every window
// calls. Each function works on the whole decoded page text, markup included,
// finds the first occurrence of its markers and cuts with the page format's
// own arithmetic. Every failure throws ReadError naming the broken marker or
// rule; nothing here catches. ReadError::rule() is the marker itself when a
// marker is missing ("Ver", "更新日志", "消息推送：", "保存至网盘", "href",
// "id=\"" …) and a dotted key otherwise: ChangeLog.order, ChangeLog.layout,
// FileEntries.order, FileEntries.start, FileEntries.quotes, FileEntries.name,
// FileEntries.count, FileEntries.duplicate, DirectAddress.quote, DirectAddress.empty, Push.order.

// Markup fragments stripped with RemoveAll, one after the other, in order.
const QStringList &CommonMarkup();
// Applied to the file list only, after CommonMarkup.
const QStringList &LinkMarkup();
void RemoveMarkup(QString &text, const QStringList &patterns);

// The up to 8 characters after the first "Ver" (see the format guide for why
// a stray "Ver" earlier on the page still gives a reading).
QString PageVersion(const QString &page);

// Version text of a program: each number with at least two digits, joined by
// "." (13.04.20 for 13, 4, 20). Versions are compared as plain texts.
QString OwnVersion(int major, int minor, int revision);
// The version this build carries.
QString OwnVersion();

// Whether a page's version text names a release newer than major.minor.revision:
// three whole numbers joined by ".", compared as numbers, major first. A text
// that is not of that form is never newer. A signed build installs only
// newer releases, so that a replayed old release, genuinely signed in its
// day, cannot take the program back to its known faults.
bool IsNewerVersion(const QString &pageVersion, int major, int minor, int revision);
// Whether the main program offers the page's version as an update: any other
// text, or in a signed build only a newer version.
bool OffersUpdate(const QString &pageVersion, int major, int minor, int revision, bool signedBuild);

// From "更新日志" up to just before the first "更新文件及地址", markup kept.
QString ChangeLogSection(const QString &page);

struct FileEntry
{
    QString displayEntry; // ordinal, separator, name, quoted share address
    QString fileName;     // the bare name to write in the program folder
    QString shareAddress; // the file's share page, &amp; already plain "&"
};

// The most entries a file list may have. Every entry costs a share page and
// a download one after the other, and every one is a file beside the
// programs: a list far longer than any release needs is a broken or hostile
// page, not an update.
inline constexpr int kMaxFileEntries = 100;

// The file list in page order. Every entry is checked before any is returned:
// one bad entry fails the whole list, so that nothing is downloaded from a
// page whose list is half right. A list longer than kMaxFileEntries, or one
// that names a file twice (case-sensitively, and "NewMSLUpdate.exe" being
// where "MSLUpdate.exe" is written), fails as a whole too.
QList<FileEntry> FileEntries(const QString &page);

// Why name cannot be written as a file in the program folder, or an empty
// text when it can: a plain name that Windows accepts as well.
QString unsafeNameReason(const QString &name);

// The name a listed file is written under in the program folder: the
// updater's own file cannot be replaced while it runs, so its new copy waits
// beside it for the main program to move it in.
QString targetFileName(const QString &listedName);

// The file name held by a display entry: from its third character up to its
// first double quote. Throws unless it is a plain file name.
QString EntryFileName(const QString &displayEntry);

// The direct download address that a share page holds.
QString DirectAddress(const QString &sharePage);

struct PushSection
{
    QString pushSwitch;  // the character right after "消息推送："
    QString pushMessage; // cleaned with CommonMarkup, "<p>" marks kept
    bool isOn() const { return pushSwitch == QStringLiteral("开"); }
};

// Switch and text of the message push.
PushSection ReadPush(const QString &page);

// The notice window's change-log text: its design text "正在获取更新信息"
// + CR LF, laid out with the cleaned section. Throws ReadError when the log
// is too short to lay out.
QString NoticeLogText(const QString &changeLogSection);

// The message dialog's text for a push message (the connected case). Never
// throws: a message too short to lay out gives an empty box.
QString DialogText(const QString &pushMessage);

} // namespace common
