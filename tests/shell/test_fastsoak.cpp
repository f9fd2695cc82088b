// The fast soak: TARNAVEL_FASTSOAK_SEED repeats a run ("random" draws a seed and prints it);
// TARNAVEL_FASTSOAK_OPS sets its length.

#include "support/shell/fastsoak.h"

#include <QApplication>
#include <QRandomGenerator>
#include <QTest>

class TestFastSoak : public QObject
{
    Q_OBJECT
private slots:
    void invariantsHoldOverAHundredThousandOperations();
};

void TestFastSoak::invariantsHoldOverAHundredThousandOperations()
{
    const QByteArray seedText = qgetenv("TARNAVEL_FASTSOAK_SEED");
    bool fixed = false;
    quint32 seed = seedText.toUInt(&fixed);
    if (!fixed)
        seed = seedText == "random" ? QRandomGenerator::global()->generate() : 20261207u;
    bool given = false;
    const int operations = qEnvironmentVariableIntValue("TARNAVEL_FASTSOAK_OPS", &given);
    qInfo("fast soak: seed %u (TARNAVEL_FASTSOAK_SEED=%u repeats it)", seed, seed);
    const FastSoakResult result = runFastSoak(seed, given ? operations : 100000);
    if (!result.failure.isEmpty()) {
        for (const QString& line : result.journal)
            qInfo("%s", qPrintable(line));
        QFAIL(qPrintable(result.failure));
    }
    qInfo("fast soak: %d operations, %d cables pulled, %d connects, %d boxes, peak RSS %lld KiB",
          result.operations, result.pulls, result.connects, result.boxes, result.peakRssKiB);
    QVERIFY(result.pulls > 0 && result.connects > 0);
}

int main(int argc, char* argv[])
{
    qputenv("QTEST_FUNCTION_TIMEOUT", "900000");
    QApplication app(argc, argv);
    TestFastSoak test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_fastsoak.moc"
