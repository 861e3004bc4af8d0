// The signed file list: with a release key nothing is trusted unless the
// maker's signature beside the page verifies for its version and files, and
// each body then has its line's hash. Throwaway keys are made here by the
// real minisign.

#include "updater/signedlist.h"

#include "common/errors.h"
#include "common/inet.h"
#include "fixtureserver.h"
#include "support/pagebuilder.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

} // namespace

class TstSignedList : public QObject
{
    Q_OBJECT
    QTemporaryDir m_keys;
    FixtureServer m_server;

    bool minisign(const QStringList &arguments)
    {
        QProcess process;
        process.start(QStringLiteral("minisign"), arguments);
        process.closeWriteChannel();
        return process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit
               && process.exitCode() == 0;
    }
    QString publicKey(const QString &name)
    {
        QFile file(m_keys.filePath(name + ".pub"));
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().split('\n').value(1))
                                              : QString();
    }

private slots:
    void initTestCase();
    void load_data();
    void load();
};

void TstSignedList::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    for (const QString &key : {QStringLiteral("maker"), QStringLiteral("other")})
        QVERIFY(minisign({"-G", "-W", "-p", m_keys.filePath(key + ".pub"), "-s", m_keys.filePath(key + ".key")}));
}

void TstSignedList::load_data()
{
    QTest::addColumn<QString>("key");     // the build's key; empty: an unsigned build
    QTest::addColumn<QString>("signer");  // who signed; empty: no signature served
    QTest::addColumn<QString>("comment"); // the trusted comment signed
    QTest::addColumn<bool>("loads");
    const QString version = QStringLiteral("Mosalune 13.04.21");
    QTest::newRow("signed by the maker") << "maker" << "maker" << version << true;
    QTest::newRow("unsigned build, nothing served") << QString() << QString() << version << true;
    QTest::newRow("signed with another key") << "maker" << "other" << version << false;
    QTest::newRow("signed for another version") << "maker" << "maker" << "Mosalune 13.04.20" << false;
    QTest::newRow("no signature beside the page") << "maker" << QString() << version << false;
}

void TstSignedList::load()
{
    QFETCH(QString, key);
    QFETCH(QString, signer);
    QFETCH(QString, comment);
    QFETCH(bool, loads);
    const QString folder = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-');
    const QString page = pagebuilder::ReleasePage().build();
    m_server.writeFile(folder + "/release.html", page.toUtf8());
    const QByteArray sums = sha256("updater").toHex() + "  MSLUpdate.exe\n" + sha256("main").toHex()
                            + "  Mosalune.exe\n";
    const QString sumsPath = m_server.writeFile(folder + "/SHA256SUMS", sums);
    if (!signer.isEmpty())
        QVERIFY(minisign({"-S", "-s", m_keys.filePath(signer + ".key"), "-m", sumsPath, "-t", comment}));

    common::Inet inet;
    mslupdate::SignedList list;
    const QString realKey = key.isEmpty() ? QString() : publicKey(key);
    QString reason;
    try {
        list.load(inet, realKey, m_server.address("/" + folder + "/release.html"), page);
    } catch (const common::RunError &error) {
        reason = error.message();
    }
    QCOMPARE(reason.isEmpty(), loads);
    if (!loads)
        return;
    // A signed list holds every body to its own line; an unsigned build
    // holds nothing to anything.
    const bool checks = !key.isEmpty();
    QVERIFY(list.matches(0, sha256("updater")));
    QVERIFY(list.matches(1, sha256("main")));
    QCOMPARE(list.matches(0, sha256("main")), !checks);
    QCOMPARE(list.matches(2, sha256("main")), !checks);
}

QTEST_GUILESS_MAIN(TstSignedList)
#include "tst_signedlist.moc"
