#include "common/errors.h"
#include "common/texthelpers.h"

#include <QTest>

class TstTextHelpers : public QObject
{
    Q_OBJECT

private slots:
    void decodeUtf8_data();
    void decodeUtf8();
    void removeAll_data();
    void removeAll();
    void removeAllRefusesEmptyPattern();
    void inStr_data();
    void inStr();
    void cutting_data();
    void cutting();
};

void TstTextHelpers::decodeUtf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("ascii has no trailing zeros") << QByteArray("abc") << QStringLiteral("abc");
    QTest::newRow("3-byte sequence is one unit")
        << QByteArray("\xe6\x9b\xb4") << QString(QChar(0x66f4));
    QTest::newRow("4-byte sequence is a surrogate pair")
        << QByteArray("a\xf0\x9f\x98\x80z")
        << (QStringLiteral("a") + QChar(0xd83d) + QChar(0xde00) + QStringLiteral("z"));
    QTest::newRow("marker survives decoding")
        << QByteArray("\xe6\xb6\x88\xe6\x81\xaf\xe6\x8e\xa8\xe9\x80\x81\xef\xbc\x9a\xe5\xbc\x80")
        << QStringLiteral("消息推送：开");
    QTest::newRow("stray continuation byte replaced")
        << QByteArray("Ver\x80" "13") << (QStringLiteral("Ver") + QChar(0xfffd) + QStringLiteral("13"));
    // Every byte of a sequence cut short by the end of the body is replaced;
    // none is held back waiting for more.
    QTest::newRow("sequence cut short at the end")
        << QByteArray("ok\xe6\x9b") << (QStringLiteral("ok") + QChar(0xfffd) + QChar(0xfffd));
    QTest::newRow("embedded zero byte kept") << QByteArray("a\0b", 3)
                                            << (QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
    QTest::newRow("byte order mark kept")
        << QByteArray("\xef\xbb\xbfVer") << (QString(QChar(0xfeff)) + QStringLiteral("Ver"));
}

void TstTextHelpers::decodeUtf8()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    const QByteArray before = bytes;
    const QString decoded = common::DecodeUtf8(bytes);
    QCOMPARE(decoded, text);
    QCOMPARE(decoded.size(), text.size());
    QCOMPARE(bytes, before);
}

void TstTextHelpers::removeAll_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("expected");

    QTest::newRow("occurrence formed by the cut") << QStringLiteral("aabbx") << QStringLiteral("ab")
                                                  << QStringLiteral("x");
    QTest::newRow("three levels deep") << QStringLiteral("aaabbbx") << QStringLiteral("ab")
                                       << QStringLiteral("x");
    QTest::newRow("absent pattern") << QStringLiteral("abc") << QStringLiteral("xyz")
                                    << QStringLiteral("abc");
    QTest::newRow("two entities in a row") << QStringLiteral("a&nbsp;&nbsp;b")
                                           << QStringLiteral("&nbsp;") << QStringLiteral("ab");
    QTest::newRow("case matters") << QStringLiteral("<P>x<p>") << QStringLiteral("<p>")
                                  << QStringLiteral("<P>x");
    QTest::newRow("entity rebuilt from pieces")
        << QStringLiteral("&amp;amp;") << QStringLiteral("amp;") << QStringLiteral("&");
    QTest::newRow("whole text") << QStringLiteral("</p></p>") << QStringLiteral("</p>")
                                << QString();
    QTest::newRow("deeply nested")
        << (QString(20000, QLatin1Char('a')) + QString(20000, QLatin1Char('b')) + QStringLiteral("x"))
        << QStringLiteral("ab") << QStringLiteral("x");
    QTest::newRow("two occurrences meet after a cut")
        << QStringLiteral("aaabaab") << QStringLiteral("aab") << QStringLiteral("a");
    QTest::newRow("nested markup") << QStringLiteral("<p>&nb&nbsp;sp;&nbsp;x</p>")
                                   << QStringLiteral("&nbsp;") << QStringLiteral("<p>x</p>");
    // Patterns that overlap themselves: each pass takes the occurrences from
    // the left without overlap, then the passes repeat.
    QTest::newRow("self-overlapping, one pass") << QStringLiteral("ababa") << QStringLiteral("aba")
                                                << QStringLiteral("ba");
    QTest::newRow("self-overlapping, two passes")
        << QStringLiteral("aababa") << QStringLiteral("aba") << QString();
    QTest::newRow("self-overlapping run") << QStringLiteral("aaaaa") << QStringLiteral("aa")
                                          << QStringLiteral("a");
    QTest::newRow("surrogate halves are code units")
        << (QStringLiteral("x") + QChar(0xd83d) + QChar(0xde00)) << QString(QChar(0xd83d))
        << (QStringLiteral("x") + QChar(0xde00));
}

void TstTextHelpers::removeAll()
{
    QFETCH(QString, text);
    QFETCH(QString, pattern);
    QFETCH(QString, expected);
    common::RemoveAll(text, pattern);
    QCOMPARE(text, expected);
}

void TstTextHelpers::removeAllRefusesEmptyPattern()
{
    QString text = QStringLiteral("abc");
    QVERIFY_THROWS_EXCEPTION(common::RunError, common::RemoveAll(text, QString()));
    QCOMPARE(text, QStringLiteral("abc"));
}

void TstTextHelpers::inStr_data()
{
    QTest::addColumn<qsizetype>("start");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<qsizetype>("position");

    const QString page = QStringLiteral("Verdana Ver13.04.20");
    QTest::newRow("first is 1") << qsizetype(1) << page << QStringLiteral("Ver") << qsizetype(1);
    QTest::newRow("from a later start") << qsizetype(2) << page << QStringLiteral("Ver")
                                        << qsizetype(9);
    QTest::newRow("start on the match") << qsizetype(9) << page << QStringLiteral("Ver")
                                        << qsizetype(9);
    QTest::newRow("absent is 0") << qsizetype(1) << page << QStringLiteral("ver") << qsizetype(0);
    QTest::newRow("start past the end") << qsizetype(40) << page << QStringLiteral("Ver")
                                        << qsizetype(0);
    QTest::newRow("at the very end") << qsizetype(1) << QStringLiteral("abVer")
                                     << QStringLiteral("Ver") << qsizetype(3);
}

void TstTextHelpers::inStr()
{
    QFETCH(qsizetype, start);
    QFETCH(QString, text);
    QFETCH(QString, pattern);
    QFETCH(qsizetype, position);
    QCOMPARE(common::inStr(start, text, pattern), position);
}

// Each row cuts "abcdef" with one operation; an empty expectation marked
// with fails = true means the operation must throw.
void TstTextHelpers::cutting_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<qsizetype>("a");
    QTest::addColumn<qsizetype>("b");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("fails");

    QTest::newRow("mid inside") << "mid" << qsizetype(2) << qsizetype(3) << "bcd" << false;
    QTest::newRow("mid past the end") << "mid" << qsizetype(5) << qsizetype(11) << "ef" << false;
    QTest::newRow("mid beyond the text") << "mid" << qsizetype(8) << qsizetype(2) << "" << false;
    QTest::newRow("mid zero length") << "mid" << qsizetype(3) << qsizetype(0) << "" << false;
    QTest::newRow("mid from 0 fails") << "mid" << qsizetype(0) << qsizetype(2) << "" << true;
    QTest::newRow("mid negative length fails")
        << "mid" << qsizetype(1) << qsizetype(-1) << "" << true;
    QTest::newRow("mid to the end") << "midrest" << qsizetype(4) << qsizetype(0) << "def" << false;
    QTest::newRow("left") << "left" << qsizetype(2) << qsizetype(0) << "ab" << false;
    QTest::newRow("left longer than text") << "left" << qsizetype(9) << qsizetype(0) << "abcdef"
                                           << false;
    QTest::newRow("left negative fails") << "left" << qsizetype(-1) << qsizetype(0) << "" << true;
    QTest::newRow("right") << "right" << qsizetype(2) << qsizetype(0) << "ef" << false;
    QTest::newRow("right longer than text") << "right" << qsizetype(8) << qsizetype(0)
                                            << "abcdef" << false;
    QTest::newRow("right negative fails") << "right" << qsizetype(-2) << qsizetype(0) << ""
                                          << true;
    QTest::newRow("search from 0 fails") << "inStr" << qsizetype(0) << qsizetype(0) << "" << true;
}

void TstTextHelpers::cutting()
{
    QFETCH(QString, operation);
    QFETCH(qsizetype, a);
    QFETCH(qsizetype, b);
    QFETCH(QString, expected);
    QFETCH(bool, fails);

    const QString text = QStringLiteral("abcdef");
    const auto run = [&]() -> QString {
        if (operation == QLatin1String("mid"))
            return common::mid(text, a, b);
        if (operation == QLatin1String("midrest"))
            return common::mid(text, a);
        if (operation == QLatin1String("left"))
            return common::left(text, a);
        if (operation == QLatin1String("right"))
            return common::right(text, a);
        return QString::number(common::inStr(a, text, QStringLiteral("a")));
    };
    if (fails) {
        QVERIFY_THROWS_EXCEPTION(common::RunError, run());
    } else {
        QCOMPARE(run(), expected);
    }
}

QTEST_APPLESS_MAIN(TstTextHelpers)
#include "tst_texthelpers.moc"
