#include "platform/shell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using platform::SystemShell;

class TstShell : public QObject
{
    Q_OBJECT

private slots:
    void explorerAddress_data();
    void explorerAddress();
    void explorerOpensTheAddress_data();
    void explorerOpensTheAddress();
    void startsProgramDetached();
    void relativeProgramPath();
    void quotedArguments();
    void missingProgram_data();
    void missingProgram();
};

void TstShell::explorerAddress_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<bool>("isExplorer");
    QTest::addColumn<QString>("address");

    const QString page = QStringLiteral("http://mosalune.invalid/release.html");
    QTest::newRow("as the forms write it") << QStringLiteral("explorer.exe ") + page << true << page;
    QTest::newRow("query and fragment kept")
            << QStringLiteral("explorer.exe http://h.invalid/a?b=1&c=%20d#e") << true
            << QStringLiteral("http://h.invalid/a?b=1&c=%20d#e");
    QTest::newRow("other case") << QStringLiteral("EXPLORER.EXE ") + page << true << page;
    QTest::newRow("more blanks") << QStringLiteral("explorer.exe   ") + page + u' ' << true << page;
    QTest::newRow("quoted") << QStringLiteral("explorer.exe \"") + page + u'"' << true << page;
    QTest::newRow("no address") << QStringLiteral("explorer.exe") << true << QString();
    QTest::newRow("other program") << QStringLiteral("/bin/echo ") + page << false << QString();
    QTest::newRow("longer name") << QStringLiteral("explorer.exe2 ") + page << false << QString();
    QTest::newRow("not at the start") << QStringLiteral(" explorer.exe ") + page << false << QString();
    QTest::newRow("path to it") << QStringLiteral("C:\\Windows\\explorer.exe ") + page << false
                                << QString();
}

void TstShell::explorerAddress()
{
    QFETCH(QString, commandLine);
    QFETCH(bool, isExplorer);
    QFETCH(QString, address);

    const std::optional<QString> result = platform::explorerAddress(commandLine);
    QCOMPARE(result.has_value(), isExplorer);
    if (isExplorer)
        QCOMPARE(*result, address);
}

void TstShell::explorerOpensTheAddress_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<bool>("openerResult");

    QTest::newRow("release page") << QStringLiteral("explorer.exe http://mosalune.invalid/release.html")
                                  << QUrl(QStringLiteral("http://mosalune.invalid/release.html")) << true;
    QTest::newRow("with query")
            << QStringLiteral("explorer.exe http://h.invalid/p?x=1&y=%E4%B8%AD")
            << QUrl(QStringLiteral("http://h.invalid/p?x=1&y=%E4%B8%AD")) << true;
    QTest::newRow("local folder") << QStringLiteral("explorer.exe /tmp")
                                  << QUrl::fromLocalFile(QStringLiteral("/tmp")) << true;
    QTest::newRow("nothing to open it with")
            << QStringLiteral("explorer.exe http://mosalune.invalid/")
            << QUrl(QStringLiteral("http://mosalune.invalid/")) << false;
}

void TstShell::explorerOpensTheAddress()
{
    QFETCH(QString, commandLine);
    QFETCH(QUrl, url);
    QFETCH(bool, openerResult);

    QList<QUrl> opened;
    SystemShell shell([&](const QUrl &address) {
        opened.append(address);
        return openerResult;
    });
    QCOMPARE(shell.run(commandLine), openerResult);
    QCOMPARE(opened, QList<QUrl>{url});
}

void TstShell::startsProgramDetached()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString started = dir.filePath(QStringLiteral("started"));
    const QString finished = dir.filePath(QStringLiteral("finished"));
    SystemShell shell([](const QUrl &) { return false; });

    // The program outlives the call: run() must return while it still sleeps.
    const QString commandLine = QStringLiteral("/bin/sh -c \"touch '%1'; sleep 2; touch '%2'\"")
                                        .arg(started, finished);
    QVERIFY(shell.run(commandLine));
    QVERIFY(!QFileInfo::exists(finished));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(started), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(finished), 10000);
}

void TstShell::relativeProgramPath()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile script(dir.filePath(QStringLiteral("make-mark")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\ntouch \"$1\"\n");
    script.close();
    QVERIFY(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));

    const QString previous = QDir::currentPath();
    const auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });
    QVERIFY(QDir::setCurrent(dir.path()));
    SystemShell shell;
    QVERIFY(shell.run(QStringLiteral("./make-mark mark")));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dir.filePath(QStringLiteral("mark"))), 10000);
}

void TstShell::quotedArguments()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString spaced = dir.filePath(QStringLiteral("a file with blanks"));
    SystemShell shell;
    QVERIFY(shell.run(QStringLiteral("touch \"%1\"").arg(spaced)));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(spaced), 10000);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("a"))));
}

void TstShell::missingProgram_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::newRow("absolute path") << QStringLiteral("/nonexistent/MSLUpdate.exe");
    QTest::newRow("relative path") << QStringLiteral("./no-such-program-here --flag");
    QTest::newRow("not on the path") << QStringLiteral("no-such-program-mosalune");
    QTest::newRow("empty") << QString();
    QTest::newRow("only blanks") << QStringLiteral("   ");
}

void TstShell::missingProgram()
{
    QFETCH(QString, commandLine);
    SystemShell shell([](const QUrl &) { return true; });
    QVERIFY(!shell.run(commandLine));
}

QTEST_MAIN(TstShell)
#include "tst_shell.moc"
