#include "platform/writequeue.h"

#include <QTest>

#include <fcntl.h>
#include <numeric>
#include <unistd.h>

class TestWriteQueue : public QObject
{
    Q_OBJECT
private slots:
    void boundDropsTheOldestButTheFirst_data();
    void boundDropsTheOldestButTheFirst();
};

void TestWriteQueue::boundDropsTheOldestButTheFirst_data()
{
    QTest::addColumn<QList<int>>("sizes"); // piece i is made of the letter 'a' + i
    QTest::addColumn<QByteArray>("kept");
    QTest::newRow("within the bound") << QList<int>{40, 30, 30} << QByteArray("abc");
    QTest::newRow("oldest go") << QList<int>{60, 30, 30, 10} << QByteArray("acd");
    QTest::newRow("one after another") << QList<int>{60, 30, 30, 30} << QByteArray("ad");
    QTest::newRow("first and newest stay") << QList<int>{90, 90, 90} << QByteArray("ac");
}

void TestWriteQueue::boundDropsTheOldestButTheFirst()
{
    QFETCH(QList<int>, sizes);
    QFETCH(QByteArray, kept);
    // A pipe that takes no more until it is read.
    int fds[2];
    QCOMPARE(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    while (::write(fds[1], "", 1) > 0) {
    }
    WriteQueue queue(100);
    qsizetype droppedPieces = 0;
    qsizetype droppedBytes = 0;
    for (int i = 0; i < sizes.size(); ++i) {
        const WriteQueue::Dropped dropped = queue.append(QByteArray(sizes.at(i), char('a' + i)));
        droppedPieces += dropped.pieces;
        droppedBytes += dropped.bytes;
        QCOMPARE(queue.writeTo(fds[1]), WriteQueue::Result::Blocked);
    }
    QByteArray expected;
    for (const char letter : kept)
        expected += QByteArray(sizes.at(letter - 'a'), letter);
    QCOMPARE(droppedPieces, sizes.size() - kept.size());
    QCOMPARE(queue.bytes(), expected.size());
    QCOMPARE(droppedBytes + expected.size(),
             std::accumulate(sizes.begin(), sizes.end(), qsizetype(0)));

    QByteArray received;
    char buffer[4096];
    for (bool written = false;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n > 0) {
            received.append(buffer, int(n));
        } else if (!written) {
            QCOMPARE(queue.writeTo(fds[1]), WriteQueue::Result::Empty);
            written = true;
        } else {
            break;
        }
    }
    ::close(fds[0]);
    ::close(fds[1]);
    QCOMPARE(received.replace('\0', QByteArray()), expected);
}

QTEST_GUILESS_MAIN(TestWriteQueue)
#include "test_writequeue.moc"
