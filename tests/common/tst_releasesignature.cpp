// Signed releases, checked with throwaway keys that the real minisign makes
// here and signatures it writes, so that the reader follows the tool's
// files rather than our idea of them.
#include "common/releasesignature.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TstReleaseSignature : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QByteArray run(const QStringList &args, const QString &out = {})
    {
        QProcess p;
        p.start(QStringLiteral("minisign"), args);
        p.closeWriteChannel();
        if (!p.waitForFinished(20000) || p.exitCode() != 0)
            qFatal("minisign %s failed: %s", qPrintable(args.join(' ')), p.readAllStandardError().constData());
        return out.isEmpty() ? QByteArray() : file(out);
    }
    QByteArray file(const QString &name) { QFile f(m_dir.filePath(name)); f.open(QIODevice::ReadOnly); return f.readAll(); }
    QString keyLine(const QString &key) { return QString::fromLatin1(file(key + ".pub").split('\n').value(1)); }
    void write(const QString &name, const QByteArray &b) { QFile f(m_dir.filePath(name)); f.open(QIODevice::WriteOnly); f.write(b); }

private slots:
    void initTestCase()
    {
        for (const QString &key : {QStringLiteral("a"), QStringLiteral("b")})
            run({"-G", "-W", "-p", m_dir.filePath(key + ".pub"), "-s", m_dir.filePath(key + ".key")});
    }
    void verify_data()
    {
        const QByteArray exe = QCryptographicHash::hash("exe", QCryptographicHash::Sha256).toHex();
        const QByteArray help = QCryptographicHash::hash("help", QCryptographicHash::Sha256).toHex();
        const QByteArray sums = exe + "  Mosalune.exe\n" + help + " *帮助.txt\n";
        QTest::addColumn<QByteArray>("signedSums");
        QTest::addColumn<QStringList>("signing");  // key, then extra minisign arguments
        QTest::addColumn<QByteArray>("servedSums");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<int>("fault");
        const QStringList both{"Mosalune.exe", "帮助.txt"};
        const QStringList comment{"-t", "Mosalune 13.04.21"}, a = QStringList{"a"} + comment;
        const QByteArray twice = sums + exe + "  Mosalune.exe\n", oneSpace = exe + " Mosalune.exe\n";
        const QByteArray changed = QByteArray(sums).replace(0, 1, exe.startsWith('0') ? "1" : "0");
        using F = common::SignatureFault;
        QTest::newRow("prehashed") << sums << a << sums << both << int(F::None);
        QTest::newRow("legacy") << sums << QStringList{"a", "-l"} + comment << sums << both << int(F::None);
        QTest::newRow("another key") << sums << QStringList{"b"} + comment << sums << both << int(F::OtherKey);
        QTest::newRow("changed after signing") << sums << a << changed << both << int(F::BadSignature);
        QTest::newRow("another version") << sums << QStringList{"a", "-t", "Mosalune 13.04.20"} << sums << both << int(F::OtherVersion);
        QTest::newRow("comment with more") << sums << QStringList{"a", "-t", "Mosalune 13.04.21 "} << sums << both << int(F::OtherVersion);
        QTest::newRow("a file without its line") << sums << a << sums << both + QStringList{"MSLUpdate.exe"} << int(F::ListMismatch);
        QTest::newRow("a signed file the page lacks") << sums << a << sums << QStringList{"帮助.txt"} << int(F::ListMismatch);
        QTest::newRow("a file twice") << twice << a << twice << both << int(F::ListMismatch);
        QTest::newRow("one space") << oneSpace << a << oneSpace << QStringList{"Mosalune.exe"} << int(F::Unreadable);
    }
    void verify()
    {
        QFETCH(QByteArray, signedSums);
        QFETCH(QStringList, signing);
        QFETCH(QByteArray, servedSums);
        QFETCH(QStringList, listed);
        QFETCH(int, fault);
        write("SHA256SUMS", signedSums);
        const QByteArray signature = run(QStringList{"-S", "-s", m_dir.filePath(signing.first() + ".key"),
                                                     "-m", m_dir.filePath("SHA256SUMS")} + signing.mid(1),
                                         "SHA256SUMS.minisig");
        const auto verifyWith = [&](const QString &key, const QByteArray &sig) {
            return common::VerifyRelease(key, servedSums, sig, "13.04.21", listed);
        };
        const common::ReleaseCheck check = verifyWith(keyLine("a"), signature);
        QCOMPARE(int(check.fault), fault);
        QCOMPARE(check.reason.isEmpty(), check.ok());
        if (check.ok())
            QCOMPARE(check.sha256.value("帮助.txt"), QCryptographicHash::hash("help", QCryptographicHash::Sha256));
        // The trusted comment is bound by the global signature.
        QList<QByteArray> lines = signature.split('\n');
        lines[2] = "trusted comment: Mosalune 13.04.21";
        if (fault == int(common::SignatureFault::OtherVersion))
            QCOMPARE(verifyWith(keyLine("a"), lines.join('\n')).fault, common::SignatureFault::BadSignature);
        lines.removeAt(3);
        QCOMPARE(verifyWith(keyLine("a"), lines.join('\n')).fault, common::SignatureFault::Unreadable);
        QCOMPARE(verifyWith("RWQ" + keyLine("b").mid(3, 10), signature).fault, common::SignatureFault::BadKey);
    }
};

QTEST_GUILESS_MAIN(TstReleaseSignature)
#include "tst_releasesignature.moc"
