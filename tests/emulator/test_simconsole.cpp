#include "emulator/readermodel.h"
#include "emulator/readertext.h"
#include "emulator/simconsole.h"
#include "emulator/simserver.h"
#include "link/protocol/frame.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The console on a server whose device is not open: commands act on the model, and frames
// they send are dropped (and logged) for want of a host.
class TestSimConsole : public QObject
{
    Q_OBJECT
private slots:
    void faultCommands_data();
    void faultCommands();
    void faultOff();
    void refused_data();
    void refused();
    void typeCommand();
    void cardAndSwipe();
    void swipeDoesNotUseUpTheArmWhenRefused();
    void loadDeck();
    void autoSwipeSetting();
    void lampsAndStatus();
    void helpAndQuit();
    void parseForcedReply_data();
    void parseForcedReply();
};

void TestSimConsole::faultCommands_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("faults");
    QTest::newRow("corrupt") << QStringLiteral("fault corrupt 3") << QStringLiteral("corrupt 3");
    QTest::newRow("split") << QStringLiteral("fault split 4") << QStringLiteral("split 4");
    QTest::newRow("split off") << QStringLiteral("fault split 0") << QStringLiteral("no faults");
    QTest::newRow("silent") << QStringLiteral("fault silent kn") << QStringLiteral("silent \"kn\"");
    QTest::newRow("silent none") << QStringLiteral("fault silent") << QStringLiteral("no faults");
    QTest::newRow("force code") << QStringLiteral("fault force 3")
                                << QStringLiteral("force \"l3\" x1");
    QTest::newRow("force status, count")
        << QStringLiteral("FAULT force l4 2") << QStringLiteral("force \"l4\" x2");
    QTest::newRow("force off") << QStringLiteral("fault force off") << QStringLiteral("no faults");
    QTest::newRow("swipe read error")
        << QStringLiteral("fault swipe-error read") << QStringLiteral("swipe-error read");
    QTest::newRow("swipe no data")
        << QStringLiteral("fault swipe-error nodata") << QStringLiteral("swipe-error nodata");
    QTest::newRow("swipe write error")
        << QStringLiteral("fault swipe-error write") << QStringLiteral("swipe-error write");
}

void TestSimConsole::faultCommands()
{
    QFETCH(QString, line);
    QFETCH(QString, faults);
    ReaderModel model;
    SimServer server(model);
    SimConsole console(server);
    QString output;
    QVERIFY2(console.execute(line, &output), qPrintable(output));
    QCOMPARE(faultsText(model), faults);
    QCOMPARE(output, QStringLiteral("faults: ") + faults);
}

void TestSimConsole::faultOff()
{
    ReaderModel model;
    SimServer server(model);
    SimConsole console(server);
    QString output;
    QVERIFY(console.execute(QStringLiteral("fault corrupt 2"), &output));
    QVERIFY(console.execute(QStringLiteral("fault swipe-error write"), &output));
    QVERIFY(console.execute(QStringLiteral("fault"), &output));
    QCOMPARE(output, QStringLiteral("faults: corrupt 2, swipe-error write"));
    QVERIFY(console.execute(QStringLiteral("fault off"), &output));
    QCOMPARE(faultsText(model), QStringLiteral("no faults"));
}

void TestSimConsole::refused_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("unknown command") << QStringLiteral("frobnicate");
    QTest::newRow("unknown fault") << QStringLiteral("fault gremlins");
    QTest::newRow("corrupt without count") << QStringLiteral("fault corrupt");
    QTest::newRow("corrupt negative") << QStringLiteral("fault corrupt -1");
    QTest::newRow("split letters") << QStringLiteral("fault split many");
    QTest::newRow("force nothing") << QStringLiteral("fault force");
    QTest::newRow("force bad count") << QStringLiteral("fault force 3 x");
    QTest::newRow("swipe-error kind") << QStringLiteral("fault swipe-error sometimes");
    QTest::newRow("type too big") << QStringLiteral("type 10");
    QTest::newRow("type letters") << QStringLiteral("type eight");
    QTest::newRow("card 0") << QStringLiteral("card 0");
    QTest::newRow("card past the deck") << QStringLiteral("card 4");
    QTest::newRow("swipe past the deck") << QStringLiteral("swipe 9");
    QTest::newRow("load nothing") << QStringLiteral("load");
    QTest::newRow("load missing file") << QStringLiteral("load /nonexistent/deck.txt");
    QTest::newRow("auto letters") << QStringLiteral("auto soon");
}

void TestSimConsole::refused()
{
    QFETCH(QString, line);
    ReaderModel model;
    SimServer server(model);
    SimConsole console(server);
    QString output;
    QVERIFY(!console.execute(line, &output));
    QVERIFY2(output.startsWith(QLatin1String("error: ")), qPrintable(output));
    // Nothing changed.
    QCOMPARE(faultsText(model), QStringLiteral("no faults"));
    QCOMPARE(model.type(), ReaderModel::kDefaultType);
    QCOMPARE(model.currentCard(), 0);
    QCOMPARE(server.autoSwipeMs(), -1);
    QVERIFY(!console.quitRequested());
}

void TestSimConsole::typeCommand()
{
    ReaderModel model;
    SimServer server(model);
    SimConsole console(server);
    QString output;
    QVERIFY(console.execute(QStringLiteral("type 2"), &output));
    QCOMPARE(output, QStringLiteral("reader type 2"));
    QCOMPARE(model.receive(buildFrame("k")), buildFrame("k2"));
    QVERIFY(console.execute(QStringLiteral("type"), &output));
    QCOMPARE(output, QStringLiteral("reader type 2"));
}

void TestSimConsole::cardAndSwipe()
{
    ReaderModel model;
    SimServer server(model);
    SimConsole console(server);
    QString output;
    QVERIFY(console.execute(QStringLiteral("swipe"), &output));
    QVERIFY2(output.contains(QLatin1String("not armed")), qPrintable(output));
    QVERIFY(console.execute(QStringLiteral("card 3"), &output));
    QCOMPARE(output, QStringLiteral("card 3 \"Blank card\" is in the slot"));
    QCOMPARE(model.currentCard(), 2);
    model.receive(buildFrame("n"));
    QVERIFY(console.execute(QStringLiteral("swipe 2"), &output));
    QCOMPARE(output, QStringLiteral("sent status lP: card read"));
    QCOMPARE(model.currentCard(), 1);
    QCOMPARE(model.receive(buildFrame("E")), buildFrame("E" + model.deck().at(1).tracks[1]));
    QVERIFY(console.execute(QStringLiteral("cards"), &output));
    QVERIFY2(output.contains(QLatin1String("* 2: Track 2 only")), qPrintable(output));
}

void TestSimConsole::swipeDoesNotUseUpTheArmWhenRefused()
{
    ReaderModel model;
    SimServer server(model);
    SimConsole console(server);
    QString output;
    model.receive(buildFrame("n"));
    QVERIFY(!console.execute(QStringLiteral("swipe 7"), &output));
    QVERIFY(model.isArmed());
}

void TestSimConsole::loadDeck()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("deck.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Only card]\n2=123456\n");
    file.close();
    const QString badPath = dir.filePath(QStringLiteral("bad.txt"));
    QFile bad(badPath);
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("[A]\n7=x\n");
    bad.close();

    ReaderModel model;
    SimServer server(model);
    SimConsole console(server);
    QString output;
    QVERIFY(console.execute(QStringLiteral("card 2"), &output));
    QVERIFY2(console.execute(QStringLiteral("load ") + path, &output), qPrintable(output));
    QCOMPARE(model.deck().size(), 1);
    QCOMPARE(model.currentCard(), 0);
    QCOMPARE(model.deck().at(0).tracks[1], QByteArray("123456"));
    QVERIFY(!console.execute(QStringLiteral("load ") + badPath, &output));
    QVERIFY2(output.contains(QLatin1String("line 2")), qPrintable(output));
    QCOMPARE(model.deck().at(0).name, QStringLiteral("Only card"));
}

void TestSimConsole::autoSwipeSetting()
{
    ReaderModel model;
    SimServer server(model);
    SimConsole console(server);
    QString output;
    QVERIFY(console.execute(QStringLiteral("auto 600"), &output));
    QCOMPARE(server.autoSwipeMs(), 600);
    QVERIFY(console.execute(QStringLiteral("auto off"), &output));
    QCOMPARE(server.autoSwipeMs(), -1);
}

void TestSimConsole::lampsAndStatus()
{
    ReaderModel model;
    SimServer server(model);
    SimConsole console(server);
    QString output;
    QVERIFY(console.execute(QStringLiteral("lamps"), &output));
    QCOMPARE(output, QStringLiteral("lamps: all off"));
    model.receive(buildFrame("`1") + buildFrame("`3"));
    QVERIFY(console.execute(QStringLiteral("lamps"), &output));
    QCOMPARE(output, QStringLiteral("lamps: green, yellow on"));
    model.receive(buildFrame("A;1?") + buildFrame("n"));
    QVERIFY(console.execute(QStringLiteral("status"), &output));
    QVERIFY2(output.contains(QLatin1String("reader type 8, armed")), qPrintable(output));
    QVERIFY2(output.contains(QLatin1String("write data loaded, ISO on Track 2: \";1?\"")),
             qPrintable(output));
    QVERIFY2(output.contains(QLatin1String("lamps: green, yellow on")), qPrintable(output));
}

void TestSimConsole::helpAndQuit()
{
    ReaderModel model;
    SimServer server(model);
    SimConsole console(server);
    QString output;
    QVERIFY(console.execute(QStringLiteral("   "), &output));
    QVERIFY(output.isEmpty());
    QVERIFY(console.execute(QStringLiteral("help"), &output));
    for (const char* word :
         {"swipe", "cards", "load", "type", "fault corrupt", "fault split", "fault silent",
          "fault force", "fault swipe-error", "fault off", "lamps", "quit"})
        QVERIFY2(output.contains(QLatin1String(word)), word);
    QVERIFY(!console.quitRequested());
    QVERIFY(console.execute(QStringLiteral("quit"), &output));
    QVERIFY(console.quitRequested());
}

void TestSimConsole::parseForcedReply_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("code") << QStringLiteral("3") << QByteArray("l3");
    QTest::newRow("status") << QStringLiteral("l3") << QByteArray("l3");
    QTest::newRow("lone l") << QStringLiteral("l") << QByteArray("l");
    QTest::newRow("letter code") << QStringLiteral("A") << QByteArray("lA");
    QTest::newRow("other body") << QStringLiteral("kX") << QByteArray("kX");
}

void TestSimConsole::parseForcedReply()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, body);
    QCOMPARE(::parseForcedReply(text), body);
}

QTEST_GUILESS_MAIN(TestSimConsole)
#include "test_simconsole.moc"
