#include "cards/cardmethods.h"
#include "cards/trackdecode.h"
#include "link/protocol/commands.h"
#include "platform/messagebox.h"
#include "support/scriptedmessagebox.h"

#include <QTest>

class TestCardMethods : public QObject
{
    Q_OBJECT
private slots:
    void table_data();
    void table();
    void unknownIndex();
    void helpTexts_data();
    void helpTexts();
    void checkTrackData_data();
    void checkTrackData();
    void invalidCharacterBox();
    void formatWarningBox_data();
    void formatWarningBox();
};

void TestCardMethods::table_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("accepted");
    QTest::newRow("0") << 0 << "ISO on Track &1" << 76 << 1
                       << "ISO on Track 1 takes the characters from space to _";
    QTest::newRow("1") << 1 << "ISO on Track &2" << 37 << 2
                       << "ISO on Track 2 takes 0-9 : ; < = > ?";
    QTest::newRow("2") << 2 << "ISO on Track &3" << 104 << 0
                       << "ISO on Track 3 takes 0-9 : ; < = > ?";
    QTest::newRow("3") << 3 << "IBM &4700 on Track 2" << 0 << 0
                       << "IBM 4700 on Track 2 takes only characters of one byte";
    QTest::newRow("4") << 4 << "Track 1 &ISO on Track 3" << 0 << 1
                       << "Track 1 ISO on Track 3 takes only characters of one byte";
}

void TestCardMethods::table()
{
    QFETCH(int, index);
    QFETCH(QString, caption);
    QFETCH(int, limit);
    QFETCH(int, format);
    QFETCH(QString, accepted);
    const CardMethodId method = *CardMethodId::fromIndex(index);
    QCOMPARE(QString::fromLatin1(method.row().caption), caption);
    // The window's caption and link's name are the same method.
    QCOMPARE(caption.remove(QLatin1Char('&')), method.name());
    QCOMPARE(method.row().lengthLimit, limit);
    QCOMPARE(method.row().trackFormat, format);
    QCOMPARE(acceptedCharactersText(method), accepted);
}

void TestCardMethods::unknownIndex()
{
    for (int index : {-1, 5, 32767})
        QVERIFY(!CardMethodId::fromIndex(index));
}

void TestCardMethods::helpTexts_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ISO on Track 1")
        << 0
        << QStringLiteral("ISO on Track 1\r\n"
                          "--------------\r\n"
                          "\r\n"
                          "76 characters long consisting of:\r\n"
                          "  SPACE, !, \", #, $, %, \r\n"
                          "  &, ', (, ), *, +, COMMA, \r\n"
                          "  -, ., /, 0 - 9, :, ;, <, \r\n"
                          "  =, >, ?, @, A - Z, \r\n"
                          "  [, \\, ], ^, _\r\n"
                          "\r\n"
                          "All characters are special except: 0-9 and A-Z\r\n"
                          "\r\n"
                          "Field Seperator: ^\r\n"
                          "Start Sentinel: %\r\n"
                          "End Sentinel: ?");
    QTest::newRow("ISO on Track 2") << 1
                                    << QStringLiteral("ISO on Track 2\r\n"
                                                      "--------------\r\n"
                                                      "\r\n"
                                                      "37 characters long consisting of:\r\n"
                                                      "  0 - 9, :, ;, <, =, >, ?\r\n"
                                                      "\r\n"
                                                      "All characters are special except: 0-9\r\n"
                                                      "\r\n"
                                                      "Field Seperator: =\r\n"
                                                      "Start Sentinel: ;\r\n"
                                                      "End Sentinel: ?");
    QTest::newRow("ISO on Track 3") << 2
                                    << QStringLiteral("ISO on Track 3\r\n"
                                                      "--------------\r\n"
                                                      "\r\n"
                                                      "104 characters long consisting of:\r\n"
                                                      "  0 - 9, :, ;, <, =, >, ?\r\n"
                                                      "\r\n"
                                                      "All characters are special except: 0-9\r\n"
                                                      "\r\n"
                                                      "Field Seperator: =\r\n"
                                                      "Start Sentinel: ;\r\n"
                                                      "End Sentinel: ?");
    QTest::newRow("IBM 4700 on Track 2") << 3
                                         << QStringLiteral("IBM 4700 on Track 2\r\n"
                                                           "-------------------\r\n"
                                                           "\r\n"
                                                           "No information is available on "
                                                           "this mode.");
    QTest::newRow("Track 1 ISO on Track 3") << 4
                                            << QStringLiteral("Track 1 ISO on Track 3\r\n"
                                                              "----------------------\r\n"
                                                              "\r\n"
                                                              "No information is available on "
                                                              "this mode.");
}

void TestCardMethods::helpTexts()
{
    QFETCH(int, index);
    QFETCH(QString, expected);
    const CardMethodId method = *CardMethodId::fromIndex(index);
    const QString text = helpText(method);
    for (qsizetype at = 0; at < qMin(text.size(), expected.size()); ++at) {
        if (text.at(at) != expected.at(at))
            QFAIL(qPrintable(QStringLiteral("differs at %1: U+%2 instead of U+%3")
                                 .arg(at)
                                 .arg(text.at(at).unicode(), 4, 16, QLatin1Char('0'))
                                 .arg(expected.at(at).unicode(), 4, 16, QLatin1Char('0'))));
    }
    QCOMPARE(text.size(), expected.size());
    // The underline is exactly as long as the name above it.
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.at(1).size(), method.name().size());
    QCOMPARE(lines.at(0), method.name());
}

// Outcome kinds of a check.
enum BoxKind { NoBox, InvalidBox, WarningBox };

void TestCardMethods::checkTrackData_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("data");
    QTest::addColumn<int>("answer"); // -1: no box expected to need an answer
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("named"); // the offending character or the method name

    const QString zeros36(36, QLatin1Char('0'));
    const QString ones36(36, QLatin1Char('1'));
    const QString ones37(37, QLatin1Char('1'));
    const QString ones40(40, QLatin1Char('1'));
    const QString euro(QChar(0x20AC));
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");

    QTest::newRow("t2 36 chars gets one 0")
        << "A" << ones36 << -1 << true << ones36 + "0" << int(NoBox) << "";
    QTest::newRow("t2 37 chars unchanged")
        << "A" << ones37 << -1 << true << ones37 << int(NoBox) << "";
    QTest::newRow("t2 40 chars never cut")
        << "A" << ones40 << -1 << true << ones40 << int(NoBox) << "";
    QTest::newRow("t2 too long still checked beyond 37")
        << "A" << ones40 + "/" << int(mb::IDOK) << false << ones40 + "/" << int(InvalidBox) << "/";
    QTest::newRow("t1 empty padded to 76")
        << "1"
        << "" << -1 << true << QString(76, QLatin1Char('0')) << int(NoBox) << "";
    QTest::newRow("t2 empty padded to 37")
        << "A"
        << "" << -1 << true << QString(37, QLatin1Char('0')) << int(NoBox) << "";
    QTest::newRow("t3 empty padded to 104")
        << "Q"
        << "" << -1 << true << QString(104, QLatin1Char('0')) << int(NoBox) << "";
    QTest::newRow("t1 bounds space and underscore")
        << "1"
        << " _" << -1 << true << " _" + QString(74, QLatin1Char('0')) << int(NoBox) << "";
    QTest::newRow("t1 every accepted character")
        << "1"
        << QStringLiteral(" !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_")
        << -1 << true
        << QStringLiteral(" !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_") +
               QString(12, QLatin1Char('0'))
        << int(NoBox) << "";
    QTest::newRow("t1 lower-case letter")
        << "1"
        << "AB c" << int(mb::IDOK) << false << "AB c" + QString(72, QLatin1Char('0'))
        << int(InvalidBox) << "c";
    QTest::newRow("t1 grave accent 96")
        << "1"
        << "%B`?" << int(mb::IDOK) << false << "%B`?" + QString(72, QLatin1Char('0'))
        << int(InvalidBox) << "`";
    QTest::newRow("t1 control 31") << "1" << QString(QChar(31)) << int(mb::IDOK) << false
                                   << QString(QChar(31)) + QString(75, QLatin1Char('0'))
                                   << int(InvalidBox) << QString(QChar(31));
    QTest::newRow("t1 tab") << "1"
                            << "\t" << int(mb::IDOK) << false
                            << "\t" + QString(75, QLatin1Char('0')) << int(InvalidBox) << "\t";
    QTest::newRow("t1 Latin-1 letter 233") << "1" << QString(QChar(0xE9)) << int(mb::IDOK) << false
                                           << QString(QChar(0xE9)) + QString(75, QLatin1Char('0'))
                                           << int(InvalidBox) << QString(QChar(0xE9));
    QTest::newRow("t2 bounds 0 and ?")
        << "A"
        << "0?" << -1 << true << "0?" + QString(35, QLatin1Char('0')) << int(NoBox) << "";
    QTest::newRow("t2 slash 47") << "A"
                                 << "12/" << int(mb::IDOK) << false
                                 << "12/" + QString(34, QLatin1Char('0')) << int(InvalidBox) << "/";
    QTest::newRow("t2 at sign 64")
        << "A"
        << "@" << int(mb::IDOK) << false << "@" + zeros36 << int(InvalidBox) << "@";
    QTest::newRow("t2 letter") << "A"
                               << ";12B" << int(mb::IDOK) << false
                               << ";12B" + QString(33, QLatin1Char('0')) << int(InvalidBox) << "B";
    QTest::newRow("t2 space") << "A"
                              << " " << int(mb::IDOK) << false << " " + zeros36 << int(InvalidBox)
                              << " ";
    QTest::newRow("t3 letter") << "Q"
                               << "z" << int(mb::IDOK) << false
                               << "z" + QString(103, QLatin1Char('0')) << int(InvalidBox) << "z";
    QTest::newRow("t3 at sign") << "Q"
                                << "9@" << int(mb::IDOK) << false
                                << "9@" + QString(102, QLatin1Char('0')) << int(InvalidBox) << "@";
    QTest::newRow("first offender only")
        << "A"
        << "1/x@" << int(mb::IDOK) << false << "1/x@" + QString(33, QLatin1Char('0'))
        << int(InvalidBox) << "/";
    QTest::newRow("read command 5 takes track 1 branch")
        << "5"
        << "a" << int(mb::IDOK) << false << "a" + QString(75, QLatin1Char('0')) << int(InvalidBox)
        << "a";
    QTest::newRow("read command E takes track 2 branch")
        << "E" << ones36 << -1 << true << ones36 + "0" << int(NoBox) << "";
    QTest::newRow("read command U takes track 3 branch")
        << "U"
        << "" << -1 << true << QString(104, QLatin1Char('0')) << int(NoBox) << "";
    QTest::newRow("read command D warns")
        << "D"
        << "x" << int(mb::IDYES) << true << "x" << int(WarningBox) << "IBM 4700 on Track 2";
    QTest::newRow("read command % warns")
        << "%"
        << "x" << int(mb::IDNO) << false << "x" << int(WarningBox) << "Track 1 ISO on Track 3";
    QTest::newRow("only the first character of the command")
        << "A5" << ones36 << -1 << true << ones36 + "0" << int(NoBox) << "";
    QTest::newRow("command is case-sensitive") << "a"
                                               << "abc" << -1 << true << "abc" << int(NoBox) << "";
    QTest::newRow("unknown command")
        << "Z"
        << "a/" + euro << -1 << true << "a/" + euro << int(NoBox) << "";
    QTest::newRow("empty command") << ""
                                   << "xyz" << -1 << true << "xyz" << int(NoBox) << "";
    QTest::newRow("IBM warning on empty data yes")
        << "@"
        << "" << int(mb::IDYES) << true << "" << int(WarningBox) << "IBM 4700 on Track 2";
    QTest::newRow("IBM warning no")
        << "@"
        << "12" << int(mb::IDNO) << false << "12" << int(WarningBox) << "IBM 4700 on Track 2";
    QTest::newRow("T1 on T3 warning on empty data yes")
        << "!"
        << "" << int(mb::IDYES) << true << "" << int(WarningBox) << "Track 1 ISO on Track 3";
    QTest::newRow("T1 on T3 data kept as typed")
        << "!"
        << "ab`~" + QString(QChar(0xFF)) << int(mb::IDYES) << true << "ab`~" + QString(QChar(0xFF))
        << int(WarningBox) << "Track 1 ISO on Track 3";
    QTest::newRow("non-Latin-1 method 0")
        << "1"
        << "AB" + euro << int(mb::IDOK) << false << "AB" + euro + QString(73, QLatin1Char('0'))
        << int(InvalidBox) << euro;
    QTest::newRow("non-Latin-1 method 1")
        << "A" << euro << int(mb::IDOK) << false << euro + zeros36 << int(InvalidBox) << euro;
    QTest::newRow("non-Latin-1 method 2")
        << "Q" << euro << int(mb::IDOK) << false << euro + QString(103, QLatin1Char('0'))
        << int(InvalidBox) << euro;
    QTest::newRow("non-Latin-1 method 3 before the warning")
        << "@"
        << "12" + euro << int(mb::IDOK) << false << "12" + euro << int(InvalidBox) << euro;
    QTest::newRow("non-Latin-1 method 4 before the warning")
        << "!" << euro << int(mb::IDOK) << false << euro << int(InvalidBox) << euro;
    QTest::newRow("character beyond the basic plane named whole")
        << "@"
        << "x" + emoji + "y" << int(mb::IDOK) << false << "x" + emoji + "y" << int(InvalidBox)
        << emoji;
}

void TestCardMethods::checkTrackData()
{
    QFETCH(QString, command);
    QFETCH(QString, data);
    QFETCH(int, answer);
    QFETCH(bool, result);
    QFETCH(QString, after);
    QFETCH(int, box);
    QFETCH(QString, named);

    ScriptedMessageBox messages;
    if (answer >= 0)
        messages.answer(answer);
    QCOMPARE(CheckTrackData(command, data, messages), result);
    QCOMPARE(data, after);
    QCOMPARE(messages.pending(), 0);
    if (box == NoBox) {
        QCOMPARE(messages.shown.size(), 0);
        return;
    }
    QCOMPARE(messages.shown.size(), 1);
    const ScriptedMessageBox::Box& shown = messages.shown.first();
    if (box == InvalidBox) {
        QCOMPARE(shown.title, QStringLiteral("Quorvex Tarnavel - Invalid Character"));
        QCOMPARE(shown.text, QStringLiteral("An invalid character (\"") + named +
                                 QStringLiteral("\") was found.  Please correct this."));
        QCOMPARE(shown.buttons, mb::OK);
    } else {
        QCOMPARE(shown.title, QStringLiteral("Quorvex Tarnavel - Format WARNING"));
        QVERIFY(shown.text.contains(QLatin1Char('"') + named + QLatin1Char('"')));
        QCOMPARE(shown.buttons, mb::YesNo);
    }
    QCOMPARE(shown.icon, mb::Exclamation);
}

void TestCardMethods::invalidCharacterBox()
{
    ScriptedMessageBox messages;
    messages.answer(mb::IDOK);
    QString data = QStringLiteral("12a");
    QVERIFY(!CheckTrackData(QStringLiteral("1"), data, messages));
    QCOMPARE(messages.shown.size(), 1);
    QCOMPARE(messages.shown.first().text,
             QStringLiteral("An invalid character (\"a\") was found.  Please correct this."));
    QCOMPARE(messages.shown.first().defaultResult, 0);
}

void TestCardMethods::formatWarningBox_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("name");
    QTest::newRow("IBM 4700") << "@"
                              << "IBM 4700 on Track 2";
    QTest::newRow("Track 1 ISO on Track 3") << "!"
                                            << "Track 1 ISO on Track 3";
}

void TestCardMethods::formatWarningBox()
{
    QFETCH(QString, command);
    QFETCH(QString, name);
    ScriptedMessageBox messages;
    messages.answer(mb::IDYES);
    QString data = QStringLiteral("anything");
    QVERIFY(CheckTrackData(command, data, messages));
    QCOMPARE(messages.shown.size(), 1);
    const ScriptedMessageBox::Box& shown = messages.shown.first();
    QCOMPARE(shown.text,
             QStringLiteral("Unable to check format \"") + name +
                 QStringLiteral("\" for correctness.  Ensure that the data is of the correct "
                                "characters and length.\r\n\r\nAre you sure you want to "
                                "continue?"));
    QCOMPARE(shown.title, QStringLiteral("Quorvex Tarnavel - Format WARNING"));
    QCOMPARE(shown.buttons, mb::YesNo);
    QCOMPARE(shown.icon, mb::Exclamation);
    QCOMPARE(shown.defaultResult, int(mb::IDYES));
    QCOMPARE(data, QStringLiteral("anything"));
}

QTEST_GUILESS_MAIN(TestCardMethods)
#include "test_cardmethods.moc"
