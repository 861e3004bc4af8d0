#include "fixtureserver.h"
#include "support/pagebuilder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using pagebuilder::fileEntry;
using pagebuilder::ReleasePage;

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runTool(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral(MOSALUNE_TOOLS_DIR "/mosalune-page"), args);
    Run run;
    if (!process.waitForStarted(10000) || !process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(3000);
        run.err = "did not run to the end";
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return QString();
    return path;
}

QStringList sortedKeys(const QJsonObject &object)
{
    QStringList keys = object.keys();
    keys.sort();
    return keys;
}

const QStringList kReportKeys{QStringLiteral("changeLog"),   QStringLiteral("errors"),
                              QStringLiteral("files"),       QStringLiteral("pushMessage"),
                              QStringLiteral("pushSwitch"),  QStringLiteral("pushText"),
                              QStringLiteral("version")};

} // namespace

class TstPageTool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void samplePassesCheck();
    void checkJson_data();
    void checkJson();
    void exitCodes_data();
    void exitCodes();
    void share_data();
    void share();
    void checkOverHttp();
    void resolveOverHttp();

private:
    QTemporaryDir m_dir;
};

void TstPageTool::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QFile::exists(QStringLiteral(MOSALUNE_TOOLS_DIR "/mosalune-page")));
}

void TstPageTool::samplePassesCheck()
{
    const Run sample = runTool({QStringLiteral("sample")});
    QCOMPARE(sample.exitCode, 0);
    const QString path = writeFile(m_dir, QStringLiteral("sample.html"), sample.out);
    QVERIFY(!path.isEmpty());

    const Run text = runTool({QStringLiteral("check"), path});
    QCOMPARE(text.exitCode, 0);
    QVERIFY(QString::fromUtf8(text.out).contains(QStringLiteral("MSLUpdate.exe")));

    const Run json = runTool({QStringLiteral("check"), QStringLiteral("--json"), path});
    QCOMPARE(json.exitCode, 0);
    QJsonParseError parseError;
    const QJsonObject report = QJsonDocument::fromJson(json.out, &parseError).object();
    QCOMPARE(parseError.error, QJsonParseError::NoError);
    QCOMPARE(sortedKeys(report), kReportKeys);
    QVERIFY(report.value(QStringLiteral("errors")).toObject().isEmpty());
    QCOMPARE(report.value(QStringLiteral("version")).toString().size(), 8);
    QCOMPARE(report.value(QStringLiteral("pushSwitch")).toString(), QStringLiteral("开"));
    const QJsonArray files = report.value(QStringLiteral("files")).toArray();
    QVERIFY(!files.isEmpty());
    for (const QJsonValue &file : files) {
        const QString share = file.toObject().value(QStringLiteral("share")).toString();
        QVERIFY2(!share.contains(QStringLiteral("&amp;")), qPrintable(share));
    }
    const QStringList logLines =
        report.value(QStringLiteral("changeLog")).toString().split(QStringLiteral("\r\n"));
    QVERIFY(logLines.size() >= 2);
    QCOMPARE(logLines.first(), QStringLiteral("更新日志"));
    QVERIFY(!logLines.last().isEmpty());
}

void TstPageTool::checkJson_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QJsonObject>("values"); // keys whose values must match
    QTest::addColumn<QStringList>("failed");  // keys that must be null and in "errors"

    ReleasePage editor;
    const QJsonArray files{
        QJsonObject{{"entry", "1、MSLUpdate.exe\"https://share.example/s/upd?code=1&lang=zh\""},
                    {"name", "MSLUpdate.exe"},
                    {"share", "https://share.example/s/upd?code=1&lang=zh"}},
        QJsonObject{{"entry", "2、Mosalune.exe\"https://share.example/s/main?code=2&lang=zh\""},
                    {"name", "Mosalune.exe"},
                    {"share", "https://share.example/s/main?code=2&lang=zh"}}};
    QTest::newRow("editor page")
        << editor.build().toUtf8() << 0
        << QJsonObject{{"version", "13.04.21"},
                       {"changeLog", "更新日志\r\n修复了GIF 图片无法载入的问题\r\n切图速度提高一倍"},
                       {"files", files},
                       {"pushSwitch", "开"},
                       {"pushMessage", "<p>欢迎使用Mosalune<p>新版已发布，请及时更新<p>"},
                       {"pushText", "欢迎使用Mosalune\r\n新版已发布，请及时更新"}}
        << QStringList();

    QString noPush = editor.build();
    noPush.replace(QStringLiteral("消息推送："), QStringLiteral("消息推送:"));
    QTest::newRow("push marker with ASCII colon")
        << noPush.toUtf8() << 1 << QJsonObject{{"version", "13.04.21"}}
        << QStringList{"files", "pushMessage", "pushSwitch", "pushText"};

    ReleasePage unsafe;
    unsafe.files.append(fileEntry(3, QStringLiteral("../Mosalune.exe"), QStringLiteral("http://s/x")));
    QTest::newRow("unsafe file name") << unsafe.build().toUtf8() << 1
                                      << QJsonObject{{"pushSwitch", "开"}} << QStringList{"files"};

    ReleasePage twice, tooLong; // the updater listed twice; 101 entries
    twice.files.append(fileEntry(3, QStringLiteral("NewMSLUpdate.exe"), QStringLiteral("http://s/x")));
    for (int i = 0; i < 101; ++i)
        tooLong.files.append(fileEntry(1, QStringLiteral("f%1.txt").arg(i), QStringLiteral("http://s/x")));
    for (const ReleasePage &page : {twice, tooLong})
        QTest::newRow("refused list") << page.build().toUtf8() << 1 << QJsonObject{{"pushSwitch", "开"}} << QStringList{"files"};

    QTest::newRow("no version, log too short, empty list")
        << QStringLiteral("<p>更新日志</p><p>更新文件及地址：</p><p>消息推送：关</p><p>最新完整版")
               .toUtf8()
        << 1 << QJsonObject{{"files", QJsonArray()}, {"pushSwitch", "关"}, {"pushText", ""}}
        << QStringList{"version", "changeLog"};

    ReleasePage titled; // what follows the first "Ver" is no version: an error for the maker
    titled.head.replace(QStringLiteral("<title>"), QStringLiteral("<title>Ver "));
    QTest::newRow("Ver in the title") << titled.build().toUtf8() << 1 << QJsonObject() << QStringList{"version"};
    titled.head = ReleasePage().head, titled.version = QStringLiteral("<b>9</b>");
    QTest::newRow("markup as version") << titled.build().toUtf8() << 1 << QJsonObject() << QStringList{"version"};

    QByteArray broken = editor.build().toUtf8();
    broken.replace("切图", "\xe5\x88\x87\xff\xfe");
    QTest::newRow("malformed UTF-8 in the log")
        << broken << 0
        << QJsonObject{{"changeLog", QStringLiteral("更新日志\r\n修复了GIF 图片无法载入的问题\r\n切")
                                         + QChar(0xfffd) + QChar(0xfffd) + QStringLiteral("速度提高一倍")}}
        << QStringList();
    QTest::newRow("empty file") << QByteArray() << 1 << QJsonObject()
                                << QStringList{"version", "changeLog", "files", "pushMessage",
                                               "pushSwitch", "pushText"};
}

void TstPageTool::checkJson()
{
    QFETCH(QByteArray, page);
    QFETCH(int, exitCode);
    QFETCH(QJsonObject, values);
    QFETCH(QStringList, failed);

    const QString path = writeFile(m_dir, QStringLiteral("page.html"), page);
    QVERIFY(!path.isEmpty());
    const Run run = runTool({QStringLiteral("check"), QStringLiteral("--json"), path});
    QCOMPARE(run.exitCode, exitCode);
    QJsonParseError parseError;
    const QJsonObject report = QJsonDocument::fromJson(run.out, &parseError).object();
    QCOMPARE(parseError.error, QJsonParseError::NoError);
    QCOMPARE(sortedKeys(report), kReportKeys);
    for (auto it = values.begin(); it != values.end(); ++it)
        QCOMPARE(report.value(it.key()), it.value());
    const QJsonObject errors = report.value(QStringLiteral("errors")).toObject();
    QStringList errorKeys = errors.keys();
    QStringList expectedErrors = failed;
    expectedErrors.sort();
    QCOMPARE(errorKeys, expectedErrors);
    for (const QString &key : failed) {
        QVERIFY2(report.value(key).isNull(), qPrintable(key));
        QVERIFY(!errors.value(key).toString().isEmpty());
    }
}

void TstPageTool::exitCodes_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("inOutput"); // text the report or message must hold

    QTest::newRow("help") << QStringList{"--help"} << 0 << QStringLiteral("mosalune-page check");
    QTest::newRow("nothing") << QStringList() << 2 << QStringLiteral("缺少命令");
    QTest::newRow("unknown command") << QStringList{"frob"} << 2 << QStringLiteral("未知的命令");
    QTest::newRow("check without page") << QStringList{"check"} << 2 << QStringLiteral("缺少页面");
    QTest::newRow("two pages") << QStringList{"check", "@good", "@good"} << 2
                               << QStringLiteral("只能给出一个页面");
    QTest::newRow("unknown option") << QStringList{"check", "--bogus", "@good"} << 2
                                    << QStringLiteral("未知的选项");
    QTest::newRow("key without its value") << QStringList{"check", "@good", "--key"} << 2 << QStringLiteral("缺少公钥");
    QTest::newRow("resolve is for check only") << QStringList{"share", "--resolve", "@good"} << 2
                                               << QStringLiteral("未知的选项");
    QTest::newRow("sample takes nothing") << QStringList{"sample", "x"} << 2
                                          << QStringLiteral("不带参数");
    QTest::newRow("missing file") << QStringList{"check", "@missing"} << 2
                                  << QStringLiteral("不存在");
    QTest::newRow("folder") << QStringList{"check", "@dir"} << 2 << QStringLiteral("文件夹");
    QTest::newRow("good page") << QStringList{"check", "@good"} << 0
                               << QStringLiteral("各项都能正确读取");
    QTest::newRow("broken page names the marker") << QStringList{"check", "@bad"} << 1
                                                  << QStringLiteral("“最新完整版”");
    QTest::newRow("unreachable address")
        << QStringList{"check", "http://127.0.0.1:1/page.html"} << 2 << QStringLiteral("无法读取页面");
}

void TstPageTool::exitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, inOutput);

    ReleasePage good;
    QString bad = good.build();
    bad.replace(QStringLiteral("最新完整版"), QStringLiteral("完整版"));
    const QString goodPath = writeFile(m_dir, QStringLiteral("good.html"), good.build().toUtf8());
    const QString badPath = writeFile(m_dir, QStringLiteral("bad.html"), bad.toUtf8());
    for (QString &arg : args) {
        if (arg == QLatin1String("@good"))
            arg = goodPath;
        else if (arg == QLatin1String("@bad"))
            arg = badPath;
        else if (arg == QLatin1String("@missing"))
            arg = m_dir.filePath(QStringLiteral("missing.html"));
        else if (arg == QLatin1String("@dir"))
            arg = m_dir.path();
    }
    const Run run = runTool(args);
    QCOMPARE(run.exitCode, exitCode);
    const QString output = QString::fromUtf8(run.out + run.err);
    QVERIFY2(output.contains(inOutput), qPrintable(output));
}

void TstPageTool::share_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QJsonValue>("direct");

    QTest::newRow("share page") << pagebuilder::sharePage(QStringLiteral("https://dl.example/f?a=1&amp;b=2"))
                                << 0 << QJsonValue(QStringLiteral("https://dl.example/f?a=1&b=2"));
    QTest::newRow("no save marker") << QStringLiteral("<a href=\"http://x\" id=\"d\">") << 1
                                    << QJsonValue(QJsonValue::Null);
}

void TstPageTool::share()
{
    QFETCH(QString, page);
    QFETCH(int, exitCode);
    QFETCH(QJsonValue, direct);

    const QString path = writeFile(m_dir, QStringLiteral("share.html"), page.toUtf8());
    const Run run = runTool({QStringLiteral("share"), QStringLiteral("--json"), path});
    QCOMPARE(run.exitCode, exitCode);
    const QJsonObject json = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(json.value(QStringLiteral("direct")), direct);
    QCOMPARE(json.value(QStringLiteral("error")).isNull(), !direct.isNull());
}

void TstPageTool::checkOverHttp()
{
    FixtureServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    ReleasePage page;
    QVERIFY(!server.writeFile(QStringLiteral("release.html"), page.build().toUtf8()).isEmpty());

    // Through two redirects, as a moved page would be.
    const Run run = runTool({QStringLiteral("check"), QStringLiteral("--json"),
                             server.address(QStringLiteral("/redirect/2/release.html"))});
    QCOMPARE(run.exitCode, 0);
    const QJsonObject report = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(report.value(QStringLiteral("version")).toString(), QStringLiteral("13.04.21"));
    QCOMPARE(report.value(QStringLiteral("files")).toArray().size(), 2);

    const Run missing = runTool({QStringLiteral("check"), server.address(QStringLiteral("/status/404"))});
    QCOMPARE(missing.exitCode, 2);
    QVERIFY(!missing.err.isEmpty());
}

void TstPageTool::resolveOverHttp()
{
    FixtureServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    server.writeFile(QStringLiteral("s/upd.html"),
                     pagebuilder::sharePage(QStringLiteral("http://dl.example/upd?k=1&amp;n=MSLUpdate.exe"))
                         .toUtf8());
    server.writeFile(QStringLiteral("s/main.html"),
                     QByteArray("<html><body>\xe6\x96\x87\xe4\xbb\xb6\xe5\xb7\xb2\xe5\x88\xa0\xe9\x99\xa4</body></html>"));
    ReleasePage page;
    page.files = QStringList{
        fileEntry(1, QStringLiteral("MSLUpdate.exe"), server.address(QStringLiteral("/s/upd.html"))),
        fileEntry(2, QStringLiteral("Mosalune.exe"), server.address(QStringLiteral("/s/main.html"))),
        fileEntry(3, QStringLiteral("ReadMe.txt"), server.address(QStringLiteral("/s/gone.html")))};
    server.writeFile(QStringLiteral("release.html"), page.build().toUtf8());

    const Run run = runTool({QStringLiteral("check"), QStringLiteral("--resolve"),
                             QStringLiteral("--json"), server.address(QStringLiteral("/release.html"))});
    QCOMPARE(run.exitCode, 1);
    const QJsonObject report = QJsonDocument::fromJson(run.out).object();
    const QJsonArray resolved = report.value(QStringLiteral("resolved")).toArray();
    QCOMPARE(resolved.size(), 3);
    QCOMPARE(resolved.at(0).toObject().value(QStringLiteral("direct")).toString(),
             QStringLiteral("http://dl.example/upd?k=1&n=MSLUpdate.exe"));
    QVERIFY(resolved.at(1).toObject().value(QStringLiteral("direct")).isNull());
    QVERIFY(resolved.at(1).toObject().value(QStringLiteral("error")).toString().contains(
        QStringLiteral("保存至网盘")));
    QVERIFY(resolved.at(2).toObject().value(QStringLiteral("direct")).isNull());
    QVERIFY(!resolved.at(2).toObject().value(QStringLiteral("error")).toString().isEmpty());

    // The plain report names each direct address under its file.
    const Run text = runTool({QStringLiteral("check"), QStringLiteral("--resolve"),
                              server.address(QStringLiteral("/release.html"))});
    QCOMPARE(text.exitCode, 1);
    QVERIFY(QString::fromUtf8(text.out).contains(
        QStringLiteral("下载地址：http://dl.example/upd?k=1&n=MSLUpdate.exe")));
}

QTEST_GUILESS_MAIN(TstPageTool)
#include "tst_pagetool.moc"
