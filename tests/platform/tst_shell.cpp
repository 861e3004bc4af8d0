#include "platform/shell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using platform::SystemShell;

class TstShell : public QObject
{
    Q_OBJECT

private slots:
    void opensTheReleasePage_data();
    void opensTheReleasePage();
    void startsProgramDetached();
    void relativeProgramPath();
    void pathWithBlanks();
    void missingProgram_data();
    void missingProgram();

private:
    static bool writeScript(const QString &path, const QByteArray &body);
};

bool TstShell::writeScript(const QString &path, const QByteArray &body)
{
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly) || script.write("#!/bin/sh\n" + body) < 0)
        return false;
    script.close();
    return script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
}

void TstShell::opensTheReleasePage_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QList<QUrl>>("opened"); // what the opener was asked to open
    QTest::addColumn<bool>("openerResult");

    QTest::newRow("release page") << QStringLiteral("http://mosalune.invalid/release.html")
                                  << QList<QUrl>{QUrl(QStringLiteral("http://mosalune.invalid/release.html"))}
                                  << true;
    QTest::newRow("with query") << QStringLiteral("http://h.invalid/p?x=1&y=%E4%B8%AD")
                                << QList<QUrl>{QUrl(QStringLiteral("http://h.invalid/p?x=1&y=%E4%B8%AD"))}
                                << true;
    QTest::newRow("blanks around") << QStringLiteral("  http://mosalune.invalid/ ")
                                   << QList<QUrl>{QUrl(QStringLiteral("http://mosalune.invalid/"))} << true;
    QTest::newRow("local folder") << QStringLiteral("/tmp")
                                  << QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp"))} << true;
    QTest::newRow("nothing to open it with")
            << QStringLiteral("http://mosalune.invalid/")
            << QList<QUrl>{QUrl(QStringLiteral("http://mosalune.invalid/"))} << false;
    QTest::newRow("no address") << QString() << QList<QUrl>() << false;
}

void TstShell::opensTheReleasePage()
{
    QFETCH(QString, page);
    QFETCH(QList<QUrl>, opened);
    QFETCH(bool, openerResult);

    QList<QUrl> asked;
    SystemShell shell([&](const QUrl &address) {
        asked.append(address);
        return openerResult;
    });
    platform::AppInfo app;
    app.releasePageUrl = page;
    QCOMPARE(platform::openReleasePage(shell, app), openerResult);
    QCOMPARE(asked, opened);
}

void TstShell::startsProgramDetached()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString started = dir.filePath(QStringLiteral("started"));
    const QString finished = dir.filePath(QStringLiteral("finished"));
    const QString program = dir.filePath(QStringLiteral("program"));
    QVERIFY(writeScript(program, QStringLiteral("touch '%1'; sleep 2; touch '%2'\n")
                                         .arg(started, finished).toUtf8()));
    SystemShell shell([](const QUrl &) { return false; });

    // The program outlives the call: startProgram() must return while it
    // still sleeps.
    QVERIFY(shell.startProgram(program));
    QVERIFY(!QFileInfo::exists(finished));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(started), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(finished), 10000);
}

void TstShell::relativeProgramPath()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeScript(dir.filePath(QStringLiteral("make-mark")), "touch mark\n"));

    const QString previous = QDir::currentPath();
    const auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });
    QVERIFY(QDir::setCurrent(dir.path()));
    SystemShell shell;
    QVERIFY(shell.startProgram(QStringLiteral("./make-mark")));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dir.filePath(QStringLiteral("mark"))), 10000);
}

void TstShell::pathWithBlanks()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("a folder")));
    const QString mark = dir.filePath(QStringLiteral("mark"));
    QVERIFY(writeScript(dir.filePath(QStringLiteral("a folder/the program")),
                        QStringLiteral("touch '%1'\n").arg(mark).toUtf8()));
    SystemShell shell;
    QVERIFY(shell.startProgram(dir.filePath(QStringLiteral("a folder/the program"))));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(mark), 10000);
}

void TstShell::missingProgram_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("absolute path") << QStringLiteral("/nonexistent/MSLUpdate.exe");
    QTest::newRow("relative path") << QStringLiteral("./no-such-program-here");
    QTest::newRow("not on the path") << QStringLiteral("no-such-program-mosalune");
    QTest::newRow("empty") << QString();
    QTest::newRow("only blanks") << QStringLiteral("   ");
}

void TstShell::missingProgram()
{
    QFETCH(QString, path);
    SystemShell shell([](const QUrl &) { return true; });
    QVERIFY(!shell.startProgram(path));
}

QTEST_MAIN(TstShell)
#include "tst_shell.moc"
