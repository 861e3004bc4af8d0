#include "common/errors.h"
#include "common/releasepage.h"

#include "support/pagebuilder.h"

#include <QTest>

using pagebuilder::fileEntry;
using pagebuilder::para;
using pagebuilder::red;
using pagebuilder::ReleasePage;
using pagebuilder::strong;

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// Runs a reader and hands back the rule of its ReadError, or an empty text
// when it succeeded.
template <typename Reader> QString ruleOf(Reader reader)
{
    try {
        reader();
    } catch (const common::ReadError &error) {
        if (error.message().isEmpty())
            return QStringLiteral("<empty message>");
        return error.rule();
    }
    return QString();
}

} // namespace

class TstReleasePage : public QObject
{
    Q_OBJECT

private slots:
    void pageVersion_data();
    void pageVersion();
    void ownVersion_data();
    void ownVersion();
    void newerVersion_data();
    void newerVersion();
    void changeLog_data();
    void changeLog();
    void fileEntries_data();
    void fileEntries();
    void directAddress_data();
    void directAddress();
    void readPush_data();
    void readPush();
    void dialogText_data();
    void dialogText();
};

void TstReleasePage::pageVersion_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("rule");

    ReleasePage editor;
    QTest::newRow("editor page") << editor.build() << QStringLiteral("13.04.21") << QString();

    ReleasePage verdana;
    verdana.head.replace(QStringLiteral("</head>"),
                         QStringLiteral("<style>body{font-family:Verdana,sans-serif}</style></head>"));
    QTest::newRow("Verdana before Ver") << verdana.build() << QStringLiteral("dana,san")
                                        << QString();
    QTest::newRow("Ver at the very end") << QStringLiteral("<p>abcVer") << QStringLiteral("Ver")
                                         << QString();
    QTest::newRow("short version at the end")
        << QStringLiteral("<p>Ver1.2.3") << QStringLiteral("Ver1.2.3") << QString();
    QTest::newRow("space after Ver") << para(QStringLiteral("Ver 13.04.21"))
                                     << QStringLiteral(" 13.04.2") << QString();
    QTest::newRow("no Ver") << QStringLiteral("<p>ver13.04.21</p>") << QString()
                            << QStringLiteral("Ver");
    QTest::newRow("empty page") << QString() << QString() << QStringLiteral("Ver");
}

void TstReleasePage::pageVersion()
{
    QFETCH(QString, page);
    QFETCH(QString, version);
    QFETCH(QString, rule);
    QString got;
    QCOMPARE(ruleOf([&] { got = common::PageVersion(page); }), rule);
    QCOMPARE(got, version);
}

void TstReleasePage::ownVersion_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("text");

    QTest::newRow("shipped") << 13 << 4 << 20 << QStringLiteral("13.04.20");
    QTest::newRow("single digits") << 1 << 2 << 3 << QStringLiteral("01.02.03");
    QTest::newRow("zeros") << 0 << 0 << 0 << QStringLiteral("00.00.00");
    QTest::newRow("three digits kept") << 100 << 10 << 1234 << QStringLiteral("100.10.1234");
}

void TstReleasePage::ownVersion()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(QString, text);
    QCOMPARE(common::OwnVersion(major, minor, revision), text);
    QVERIFY(!common::IsNewerVersion(text, major, minor, revision));
}

// Against 13.04.20: numbers, not texts, decide; anything else is never newer.
void TstReleasePage::newerVersion_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("newer");
    for (const char *newer : {"13.04.21", "13.10.00", "14.00.00", "13.4.21", "100.00.00"})
        QTest::newRow(newer) << QString::fromLatin1(newer) << true;
    for (const char *older : {"13.04.20", "13.04.19", "12.99.99", "13.03.99", "13.04.2", "ersion 1",
                              "13.04.2a", "13.04.+21", " 13.04.21", "13.04.-1", "13..04.21", ""})
        QTest::newRow(older) << QString::fromLatin1(older) << false;
}

void TstReleasePage::newerVersion()
{
    QFETCH(QString, page);
    QFETCH(bool, newer);
    QCOMPARE(common::IsNewerVersion(page, 13, 4, 20), newer);
}

// The section as cut, and the notice window's text made from it.
void TstReleasePage::changeLog_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QString>("rule");

    ReleasePage editor;
    QTest::newRow("editor page")
        << editor.build()
        << (QStringLiteral("更新日志</strong></p><p>") + red(QStringLiteral("修复了&nbsp;GIF 图片无法载入的问题"))
            + QStringLiteral("</p><p>切图速度提高一倍</p><p><strong>"))
        << (QStringLiteral("更新日志") + kCrLf + QStringLiteral("修复了GIF 图片无法载入的问题") + kCrLf
            + QStringLiteral("切图速度提高一倍"))
        << QString();

    const QString bare = QStringLiteral("更新日志<p>A<p>BBB<p>");
    QTest::newRow("two lines and a final mark")
        << (bare + QStringLiteral("更新文件及地址：")) << bare
        << (QStringLiteral("更新日志") + kCrLf + QStringLiteral("A") + kCrLf + QStringLiteral("BBB"))
        << QString();
    QTest::newRow("no final mark: last line loses two characters")
        << QStringLiteral("更新日志<p>A<p>BBB更新文件及地址：") << QStringLiteral("更新日志<p>A<p>BBB")
        << (QStringLiteral("更新日志") + kCrLf + QStringLiteral("A") + kCrLf + QStringLiteral("B"))
        << QString();
    QTest::newRow("editor line feeds between paragraphs stay")
        << QStringLiteral("更新日志</p>\n<p>A</p>\n<p>B</p>\n<p>更新文件及地址：")
        << QStringLiteral("更新日志</p>\n<p>A</p>\n<p>B</p>\n<p>")
        << (QStringLiteral("更新日志") + kCrLf + QStringLiteral("A\n") + kCrLf + QStringLiteral("B\n"))
        << QString();
    QTest::newRow("one paragraph of two characters is the minimum")
        << QStringLiteral("更新日志<p>xy更新文件及地址") << QStringLiteral("更新日志<p>xy")
        << (QStringLiteral("更新日志") + kCrLf) << QString();
    QTest::newRow("one paragraph of one character is too short")
        << QStringLiteral("更新日志<p>x更新文件及地址") << QStringLiteral("更新日志<p>x") << QString()
        << QStringLiteral("ChangeLog.layout");
    QTest::newRow("no paragraph mark")
        << QStringLiteral("<strong>更新日志</strong>修复若干问题更新文件及地址：")
        << QStringLiteral("更新日志</strong>修复若干问题") << QString()
        << QStringLiteral("ChangeLog.layout");
    QTest::newRow("no start marker") << QStringLiteral("<p>日志<p>A<p>更新文件及地址：") << QString()
                                     << QString() << QStringLiteral("更新日志");
    QTest::newRow("no end marker") << QStringLiteral("<p>更新日志<p>A<p>文件：") << QString()
                                   << QString() << QStringLiteral("更新文件及地址");
    QTest::newRow("end before start")
        << QStringLiteral("<title>更新文件及地址</title><p>更新日志<p>A<p>") << QString() << QString()
        << QStringLiteral("ChangeLog.order");
}

void TstReleasePage::changeLog()
{
    QFETCH(QString, page);
    QFETCH(QString, section);
    QFETCH(QString, notice);
    QFETCH(QString, rule);
    QString gotSection;
    QString gotNotice;
    const QString gotRule = ruleOf([&] {
        gotSection = common::ChangeLogSection(page);
        gotNotice = common::NoticeLogText(gotSection);
    });
    QCOMPARE(gotRule, rule);
    if (!section.isEmpty())
        QCOMPARE(gotSection, section);
    QCOMPARE(gotNotice, notice);
}

void TstReleasePage::fileEntries_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("displays");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("shares");
    QTest::addColumn<QString>("rule");

    const QString updShare = QStringLiteral("https://share.example/s/upd?code=1&lang=zh");
    const QString mainShare = QStringLiteral("https://share.example/s/main?code=2&lang=zh");
    ReleasePage editor;
    QTest::newRow("editor page, &amp; made plain")
        << editor.build()
        << QStringList{QStringLiteral("1、MSLUpdate.exe\"") + updShare + QStringLiteral("\""),
                       QStringLiteral("2、Mosalune.exe\"") + mainShare + QStringLiteral("\"")}
        << QStringList{QStringLiteral("MSLUpdate.exe"), QStringLiteral("Mosalune.exe")}
        << QStringList{updShare, mainShare} << QString();

    // The heading and the push marker written without paragraphs of their
    // own: the cleaned list is "<p>A<p>B<p>" or "<p>A<p>B".
    const QString a = QStringLiteral("<p>1、a.exe(<a href=\"http://s/a\" target=\"_blank\">a</a>)</p>");
    const QString b = QStringLiteral("<p>2、b.dll(<a href=\"http://s/b\" target=\"_blank\">b</a>)</p>");
    QTest::newRow("list with final mark")
        << (QStringLiteral("更新文件及地址：") + a + b + QStringLiteral("<p>消息推送：开最新完整版"))
        << QStringList{QStringLiteral("1、a.exe\"http://s/a\""), QStringLiteral("2、b.dll\"http://s/b\"")}
        << QStringList{QStringLiteral("a.exe"), QStringLiteral("b.dll")}
        << QStringList{QStringLiteral("http://s/a"), QStringLiteral("http://s/b")} << QString();
    QTest::newRow("list without final mark drops the last entry")
        << (QStringLiteral("更新文件及地址：") + a + b + QStringLiteral("消息推送：开最新完整版"))
        << QStringList{QStringLiteral("1、a.exe\"http://s/a\"")} << QStringList{QStringLiteral("a.exe")}
        << QStringList{QStringLiteral("http://s/a")} << QString();

    ReleasePage paren;
    paren.files = QStringList{fileEntry(1, QStringLiteral("Mosalune(x64).exe"),
                                        QStringLiteral("http://s/x?a=(1)"))};
    QTest::newRow("every ( of the section is lost")
        << paren.build() << QStringList{QStringLiteral("1、Mosalunex64).exe\"http://s/x?a=1)\"")}
        << QStringList{QStringLiteral("Mosalunex64).exe")} << QStringList{QStringLiteral("http://s/x?a=1)")}
        << QString();

    ReleasePage wide;
    wide.files = QStringList{fileEntry(10, QStringLiteral("Mosalune.exe"), QStringLiteral("http://s/10"))};
    QTest::newRow("three characters before the name")
        << wide.build() << QStringList{QStringLiteral("10、Mosalune.exe\"http://s/10\"")}
        << QStringList{QStringLiteral("、Mosalune.exe")} << QStringList{QStringLiteral("http://s/10")}
        << QString();

    ReleasePage none;
    none.files = QStringList{para(QStringLiteral("本次没有文件"))};
    QTest::newRow("paragraph without quotes")
        << none.build() << QStringList() << QStringList() << QStringList()
        << QStringLiteral("FileEntries.quotes");
    QTest::newRow("no entry after the heading")
        << QStringLiteral("<p>更新文件及地址：<p>暂无消息推送：开最新完整版") << QStringList() << QStringList()
        << QStringList() << QString();
    QTest::newRow("heading right before the push")
        << QStringLiteral("<p><strong>更新文件及地址：</strong></p>消息推送：开最新完整版") << QStringList()
        << QStringList() << QStringList() << QStringLiteral("FileEntries.start");

    ReleasePage oneQuote;
    oneQuote.files.append(QStringLiteral("<p>3、c.exe(<a href=\"http://s/c>c</a>)</p>"));
    QTest::newRow("one bad entry fails the whole list")
        << oneQuote.build() << QStringList() << QStringList() << QStringList()
        << QStringLiteral("FileEntries.quotes");

    ReleasePage noHeading;
    noHeading.files.prepend(para(QStringLiteral("文件：")));
    QString noHeadingPage = noHeading.build();
    noHeadingPage.replace(QStringLiteral("更新文件及地址："), QStringLiteral("下载地址"));
    QTest::newRow("missing heading") << noHeadingPage << QStringList() << QStringList()
                                     << QStringList() << QStringLiteral("更新文件及地址：");
    QString noPush = editor.build();
    noPush.replace(QStringLiteral("消息推送："), QStringLiteral("消息推送:"));
    QTest::newRow("missing push marker (ASCII colon)")
        << noPush << QStringList() << QStringList() << QStringList() << QStringLiteral("消息推送：");
    QTest::newRow("push marker inside the heading")
        << QStringLiteral("<p>消息推送：开</p><p>更新文件及地址：</p><p>最新完整版") << QStringList()
        << QStringList() << QStringList() << QStringLiteral("FileEntries.order");

    const QList<std::pair<const char *, QString>> unsafe{
        {"parent folder", QStringLiteral("../Mosalune.exe")},
        {"sub-folder", QStringLiteral("bin/Mosalune.exe")},
        {"backslash", QStringLiteral("..\\..\\Windows\\evil.dll")},
        {"drive", QStringLiteral("C:evil.exe")},
        {"dot dot", QStringLiteral("..")},
        {"dot", QStringLiteral(".")},
        {"empty", QString()},
        {"tab", QStringLiteral("a\tb.exe")},
        {"right-to-left override", QStringLiteral("photo\u202Eexe.jpg")},
        {"zero-width space", QStringLiteral("Mosalune\u200B.exe")},
        {"zero-width joiner", QStringLiteral("Mosa\u200Dlune.exe")},
        {"byte-order mark", QStringLiteral("\uFEFFMosalune.exe")},
        {"line separator", QStringLiteral("a\u2028b.exe")},
        {"paragraph separator", QStringLiteral("a\u2029b.exe")},
        {"leading space", QStringLiteral(" Mosalune.exe")},
        {"trailing space", QStringLiteral("Mosalune.exe ")},
        {"ideographic space at the end", QStringLiteral("Mosalune.exe\u3000")},
        {"trailing dot", QStringLiteral("Mosalune.exe.")},
        {"256 bytes", QString(256, QLatin1Char('a'))},
        {"86 Chinese characters (258 bytes)", QString(86, QChar(0x6587))},
        {"less than", QStringLiteral("a<b.exe")},
        {"greater than", QStringLiteral("a>b.exe")},
        {"pipe", QStringLiteral("a|b.exe")},
        {"question mark", QStringLiteral("a?.exe")},
        {"asterisk", QStringLiteral("*.exe")},
        {"CON", QStringLiteral("CON")},
        {"nul with extension", QStringLiteral("nul.txt")},
        {"COM1", QStringLiteral("COM1.dll")},
        {"lpt9", QStringLiteral("lpt9")},
    };
    for (const auto &[tag, name] : unsafe) {
        ReleasePage page;
        page.files.append(fileEntry(3, name, QStringLiteral("http://s/evil")));
        QTest::newRow(qPrintable(QStringLiteral("unsafe name: ") + QLatin1String(tag)))
            << page.build() << QStringList() << QStringList() << QStringList()
            << QStringLiteral("FileEntries.name");
    }
    // Names close to those refused stay fine.
    for (const QString &name : {QString(255, QLatin1Char('a')), QString(85, QChar(0x6587)),
                                QStringLiteral("CONSOLE.txt"), QStringLiteral("COM10.dll"),
                                QStringLiteral("说明 文件.txt"), QStringLiteral("a.b.c")}) {
        ReleasePage page;
        page.files = QStringList{fileEntry(3, name, QStringLiteral("http://s/ok"))};
        QTest::newRow(qPrintable(QStringLiteral("fine name: ") + name.left(20)))
            << page.build() << QStringList{QStringLiteral("3、%1\"http://s/ok\"").arg(name)}
            << QStringList{name} << QStringList{QStringLiteral("http://s/ok")} << QString();
    }
    // One file twice, however the list spells it, and the length bound.
    const QList<std::tuple<const char *, QStringList, QString>> lists{
        {"a name twice", {"a.dll", "b.dll", "a.dll"}, "FileEntries.duplicate"},
        {"the updater and its new name", {"MSLUpdate.exe", "NewMSLUpdate.exe"}, "FileEntries.duplicate"},
        {"names differing in case", {"Mosalune.exe", "mosalune.exe", "NewMSLUpdate.exe"}, QString()},
        {"the longest list", {}, QString()},
        {"one entry too many", {}, "FileEntries.count"}};
    for (auto [tag, listed, rule] : lists) {
        if (listed.isEmpty())
            for (int i = 0; i < common::kMaxFileEntries + (rule.isEmpty() ? 0 : 1); ++i)
                listed << QStringLiteral("f%1.txt").arg(i);
        ReleasePage page;
        page.files.clear();
        QStringList displays, shares;
        for (const QString &name : std::as_const(listed)) {
            shares << QStringLiteral("http://s/") + name;
            page.files << fileEntry(1, name, shares.last());
            displays << QStringLiteral("1、%1\"%2\"").arg(name, shares.last());
        }
        if (!rule.isEmpty())
            displays = listed = shares = QStringList();
        QTest::newRow(tag) << page.build() << displays << listed << shares << rule;
    }
    QTest::newRow("quote among the first two characters")
        << QStringLiteral("更新文件及地址：<p>1\"http://s/a\" x<p>消息推送：开最新完整版") << QStringList()
        << QStringList() << QStringList() << QStringLiteral("FileEntries.name");
}

void TstReleasePage::fileEntries()
{
    QFETCH(QString, page);
    QFETCH(QStringList, displays);
    QFETCH(QStringList, names);
    QFETCH(QStringList, shares);
    QFETCH(QString, rule);
    QList<common::FileEntry> entries;
    QCOMPARE(ruleOf([&] { entries = common::FileEntries(page); }), rule);
    QStringList gotDisplays;
    QStringList gotNames;
    QStringList gotShares;
    for (const common::FileEntry &entry : entries) {
        gotDisplays << entry.displayEntry;
        gotNames << entry.fileName;
        gotShares << entry.shareAddress;
        // The download window takes the name from the display entry again.
        QCOMPARE(common::EntryFileName(entry.displayEntry), entry.fileName);
    }
    QCOMPARE(gotDisplays, displays);
    QCOMPARE(gotNames, names);
    QCOMPARE(gotShares, shares);
}

void TstReleasePage::directAddress_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("rule");

    QTest::newRow("&amp; made plain")
        << pagebuilder::sharePage(QStringLiteral("https://dl.example/f/9?k=ab&amp;t=1&amp;n=MSLUpdate.exe"))
        << QStringLiteral("https://dl.example/f/9?k=ab&t=1&n=MSLUpdate.exe") << QString();
    QTest::newRow("spaces around the address")
        << QStringLiteral("保存至网盘<a href=\"  http://dl/x  \"   id=\"d\">")
        << QStringLiteral("http://dl/x") << QString();
    QTest::newRow("href before the button is not used")
        << QStringLiteral("<a href=\"http://wrong\" id=\"a\">保存至网盘</a><a href=\"http://dl/y\" id=\"b\">")
        << QStringLiteral("http://dl/y") << QString();
    QTest::newRow("another attribute stays in the address")
        << QStringLiteral("保存至网盘<a href=\"http://dl/z\" class=\"btn\" id=\"d\">")
        << QStringLiteral("http://dl/z class=btn") << QString();
    QTest::newRow("single quotes read a later attribute")
        << QStringLiteral("保存至网盘<a href='http://dl/q' id='d'>下载</a><div class=\"foot\" id=\"f\">")
        << QStringLiteral("foot") << QString();
    QTest::newRow("single quotes and no double quote after")
        << QStringLiteral("保存至网盘<a href='http://dl/q' id='d'>下载</a>") << QString()
        << QStringLiteral("DirectAddress.quote");
    QTest::newRow("no save marker") << QStringLiteral("<a href=\"http://dl/x\" id=\"d\">") << QString()
                                    << QStringLiteral("保存至网盘");
    QTest::newRow("href only before the marker")
        << QStringLiteral("<a href=\"http://dl/x\" id=\"d\">保存至网盘</a>") << QString()
        << QStringLiteral("href");
    QTest::newRow("no id after the address")
        << QStringLiteral("保存至网盘<a href=\"http://dl/x\" name=\"d\">") << QString()
        << QStringLiteral("id=\"");
    QTest::newRow("empty address") << QStringLiteral("保存至网盘<a href=\" \" id=\"d\">") << QString()
                                   << QStringLiteral("DirectAddress.empty");
    QTest::newRow("address of a line break and spaces")
        << QStringLiteral("保存至网盘href=\"\n       \"id=\"dm") << QString()
        << QStringLiteral("DirectAddress.empty");
}

void TstReleasePage::directAddress()
{
    QFETCH(QString, page);
    QFETCH(QString, address);
    QFETCH(QString, rule);
    QString got;
    QCOMPARE(ruleOf([&] { got = common::DirectAddress(page); }), rule);
    QCOMPARE(got, address);
}

void TstReleasePage::readPush_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("pushSwitch");
    QTest::addColumn<QString>("pushMessage");
    QTest::addColumn<bool>("on");
    QTest::addColumn<QString>("rule");

    ReleasePage editor;
    QTest::newRow("editor page")
        << editor.build() << QStringLiteral("开")
        << QStringLiteral("<p>欢迎使用Mosalune<p>新版已发布，请及时更新<p>") << true << QString();
    ReleasePage off;
    off.pushSwitch = QStringLiteral("关");
    QTest::newRow("switch off still cuts the text")
        << off.build() << QStringLiteral("关")
        << QStringLiteral("<p>欢迎使用Mosalune<p>新版已发布，请及时更新<p>") << false << QString();
    QTest::newRow("markup between colon and switch is the switch")
        << QStringLiteral("<p><strong>消息推送：</strong>开</p><p>x</p><p>最新完整版")
        << QStringLiteral("<") << QStringLiteral("/strong>开<p>x<p>") << false << QString();
    QTest::newRow("end right after the switch") << QStringLiteral("消息推送：开最新完整版")
                                                << QStringLiteral("开") << QString() << true
                                                << QString();
    QTest::newRow("other markup stays")
        << QStringLiteral("消息推送：开<p><br><em>注意</em></p>最新完整版") << QStringLiteral("开")
        << QStringLiteral("<p><br><em>注意</em>") << true << QString();
    QTest::newRow("no push marker") << QStringLiteral("<p>消息：开</p><p>最新完整版") << QString()
                                    << QString() << false << QStringLiteral("消息推送：");
    QTest::newRow("no end marker") << QStringLiteral("<p>消息推送：开</p><p>x</p>") << QString()
                                   << QString() << false << QStringLiteral("最新完整版");
    QTest::newRow("end inside the switch")
        << QStringLiteral("消息推送：最新完整版") << QString() << QString() << false
        << QStringLiteral("Push.order");
    QTest::newRow("end before the marker")
        << QStringLiteral("<title>最新完整版</title><p>消息推送：开</p>") << QString() << QString()
        << false << QStringLiteral("Push.order");
}

void TstReleasePage::readPush()
{
    QFETCH(QString, page);
    QFETCH(QString, pushSwitch);
    QFETCH(QString, pushMessage);
    QFETCH(bool, on);
    QFETCH(QString, rule);
    common::PushSection push;
    QCOMPARE(ruleOf([&] { push = common::ReadPush(page); }), rule);
    QCOMPARE(push.pushSwitch, pushSwitch);
    QCOMPARE(push.pushMessage, pushMessage);
    QCOMPARE(push.isOn(), on);
}

void TstReleasePage::dialogText_data()
{
    QTest::addColumn<QString>("pushMessage");
    QTest::addColumn<QString>("text");

    QTest::newRow("editor paragraphs") << QStringLiteral("<p>欢迎使用<p>请及时更新<p>")
                                       << (QStringLiteral("欢迎使用") + kCrLf + QStringLiteral("请及时更新"));
    QTest::newRow("text before the first mark is dropped")
        << QStringLiteral("A<p>B<p>CCC") << (QStringLiteral("B") + kCrLf + QStringLiteral("C"));
    QTest::newRow("paragraphs with their own line breaks")
        << (QStringLiteral("<p>A") + kCrLf + QStringLiteral("<p>B") + kCrLf)
        << (QStringLiteral("A") + kCrLf + kCrLf + QStringLiteral("B"));
    QTest::newRow("no mark: shown unchanged")
        << (QStringLiteral("第一行") + kCrLf + QStringLiteral("第二行"))
        << (QStringLiteral("第一行") + kCrLf + QStringLiteral("第二行"));
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("ends right after its only mark") << QStringLiteral("x<p>") << QString();
    QTest::newRow("exactly four characters") << QStringLiteral("<p>ab") << QString();
    QTest::newRow("five characters") << QStringLiteral("<p>abc") << QStringLiteral("a");
}

void TstReleasePage::dialogText()
{
    QFETCH(QString, pushMessage);
    QFETCH(QString, text);
    QCOMPARE(common::DialogText(pushMessage), text);
}

QTEST_APPLESS_MAIN(TstReleasePage)
#include "tst_releasepage.moc"
