// The transaction engine against the emulated reader in-process.
#include "config/appsettings.h"
#include "link/protocol/frame.h"
#include "link/readerlink.h"
#include "support/emulated/loopbackport.h"
#include "support/link/manualpump.h"
#include "support/manualclock.h"
#include "support/scriptedmessagebox.h"

#include <QTest>

namespace {
struct Rig {
    AppSettings settings;
    LoopbackPort port;
    ManualClock clock;
    ManualPump pump{clock};
    ScriptedMessageBox boxes;
    ReaderLink link{port, clock, boxes, pump, settings};
    Rig() { pump.setLink(&link); }
};
} // namespace

class TestLinkEmulated : public QObject
{
    Q_OBJECT
private slots:
    void versionOfEachType_data();
    void versionOfEachType();
    void corruptedReplyIsFetchedAgain_data();
    void corruptedReplyIsFetchedAgain();
    void splitReplyIsAssembled();
    void silentReaderTimesOut();
    void swipeStatusBehindLeftoverComesThroughOneResend();
};

void TestLinkEmulated::versionOfEachType_data()
{
    QTest::addColumn<int>("type");
    for (int t = 0; t <= 9; ++t)
        QTest::addRow("type %d", t) << t;
}

void TestLinkEmulated::versionOfEachType()
{
    QFETCH(int, type);
    Rig rig;
    rig.port.model().setType(type);
    QVERIFY(rig.link.GetReaderType());
    QCOMPARE(int(rig.link.ReaderType()), type);
    QCOMPARE(rig.port.written, QList<QByteArray>{buildFrame("k")});
}

void TestLinkEmulated::corruptedReplyIsFetchedAgain_data()
{
    QTest::addColumn<int>("corrupted");
    QTest::newRow("once") << 1;
    QTest::newRow("three times") << 3;
}

void TestLinkEmulated::corruptedReplyIsFetchedAgain()
{
    QFETCH(int, corrupted);
    Rig rig;
    rig.port.model().setType(4);
    rig.port.model().setCorruptCount(corrupted);
    QVERIFY(rig.link.GetReaderType());
    QCOMPARE(int(rig.link.ReaderType()), 4);
    QList<QByteArray> expected{buildFrame("k")};
    for (int i = 0; i < corrupted; ++i)
        expected << buildFrame("o");
    QCOMPARE(rig.port.written, expected);
    QVERIFY(rig.boxes.shown.isEmpty());
}

void TestLinkEmulated::splitReplyIsAssembled()
{
    Rig rig;
    rig.port.model().setSplitSize(1);
    QVERIFY(rig.link.GetReaderType());
    QCOMPARE(rig.link.ReplyBuffer(), QByteArray("k8"));
    // Five bytes, one a poll: recognised on the poll that brought the check character.
    QCOMPARE(rig.pump.passes, 5);
}

void TestLinkEmulated::silentReaderTimesOut()
{
    Rig rig;
    rig.port.model().setSilentCommands("k");
    rig.boxes.answer(mb::IDNO);
    const qint64 start = rig.clock.ms();
    QVERIFY(!rig.link.GetReaderType());
    QCOMPARE(rig.clock.ms() - start, 10200);
    QCOMPARE(rig.boxes.shown.size(), 1);
    QVERIFY(rig.link.ReplyBuffer().isEmpty());
    QVERIFY(rig.link.WaitingForReply());
}

void TestLinkEmulated::swipeStatusBehindLeftoverComesThroughOneResend()
{
    Rig rig;
    rig.link.SendData("n");
    QCOMPARE(rig.link.WaitForReply(false), int(WAIT_REPLIED));
    QCOMPARE(rig.link.ReplyBuffer(), QByteArray("l0"));
    rig.link.awaitSwipe(); // the swipe wait sends nothing
    rig.pump.onPass = [&] {
        if (rig.pump.passes == 2)
            rig.port.swipe();
    };
    QCOMPARE(rig.link.WaitForReply(false), int(WAIT_REPLIED));
    QCOMPARE(rig.link.ReplyBuffer(), QByteArray("lP"));
    QCOMPARE(rig.port.written, (QList<QByteArray>{buildFrame("n"), buildFrame("o")}));
}

QTEST_GUILESS_MAIN(TestLinkEmulated)
#include "test_link_emulated.moc"
