#include "emulator/deck.h"

#include <QTest>

class TestDeck : public QObject
{
    Q_OBJECT
private slots:
    void deckParses();
    void deckErrors_data();
    void deckErrors();
};

void TestDeck::deckParses()
{
    const QByteArray text = "# my deck\r\n"
                            "\n"
                            "[First card]\r\n"
                            "1=%HELLO^ ^\r\n"
                            "  2 = ;123=45?\n"
                            "[]\n"
                            "3=  spaced  \n";
    QList<ReaderCard> deck;
    QString error;
    QVERIFY2(parseDeck(text, &deck, &error), qPrintable(error));
    QCOMPARE(deck.size(), 2);
    QCOMPARE(deck.at(0).name, QStringLiteral("First card"));
    QCOMPARE(deck.at(0).tracks[0], QByteArray("%HELLO^ ^"));
    QCOMPARE(deck.at(0).tracks[1], QByteArray(" ;123=45?"));
    QCOMPARE(deck.at(0).tracks[2], QByteArray());
    QCOMPARE(deck.at(1).name, QStringLiteral("Card 2"));
    QCOMPARE(deck.at(1).tracks[2], QByteArray("  spaced  "));
}

void TestDeck::deckErrors_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("empty") << QByteArray("# nothing\n") << QStringLiteral("no cards");
    QTest::newRow("data before card") << QByteArray("1=abc\n[A]\n") << QStringLiteral("line 1");
    QTest::newRow("unknown track") << QByteArray("[A]\n4=abc\n") << QStringLiteral("line 2");
    QTest::newRow("no equals") << QByteArray("[A]\nabc\n") << QStringLiteral("line 2");
    QTest::newRow("twice") << QByteArray("[A]\n1=a\n1=b\n") << QStringLiteral("line 3");
    QTest::newRow("unclosed name") << QByteArray("[A\n") << QStringLiteral("line 1");
    QTest::newRow("too long") << QByteArray("[A]\n2=").append(513, '1') << QStringLiteral("line 2");
}

void TestDeck::deckErrors()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QList<ReaderCard> deck;
    QString why;
    QVERIFY(!parseDeck(text, &deck, &why));
    QVERIFY2(why.contains(error), qPrintable(why));
    QVERIFY(deck.isEmpty());
}

QTEST_GUILESS_MAIN(TestDeck)
#include "test_deck.moc"
