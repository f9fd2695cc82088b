#include "config/valnumber.h"

#include <QTest>

class TestSettingsVal : public QObject
{
    Q_OBJECT
private slots:
    void leadingNumber_data();
    void leadingNumber();
    void sixteenBitRange_data();
    void sixteenBitRange();
};

namespace {
constexpr qint64 kOutOfRange = std::numeric_limits<qint64>::min();
}

void TestSettingsVal::leadingNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("expected"); // kOutOfRange: beyond qint32

    QTest::newRow("digits") << "9600" << qint64(9600);
    QTest::newRow("leading zeros") << "00012" << qint64(12);
    QTest::newRow("blank then digits, letters stop") << " 12abc" << qint64(12);
    QTest::newRow("letters first") << "abc" << qint64(0);
    QTest::newRow("empty") << "" << qint64(0);
    QTest::newRow("blanks inside") << "1 2" << qint64(12);
    QTest::newRow("tab and line feed skipped") << "\t\n1\t2\n3" << qint64(123);
    QTest::newRow("carriage return stops") << "\r12" << qint64(0);
    QTest::newRow("plus") << "+7" << qint64(7);
    QTest::newRow("minus then blank") << "- 7" << qint64(-7);
    QTest::newRow("two signs") << "--7" << qint64(0);
    QTest::newRow("sign alone") << "-" << qint64(0);
    QTest::newRow("point alone") << "." << qint64(0);
    QTest::newRow("comma stops") << "1,5" << qint64(1);
    QTest::newRow("hex prefix is not a number") << "&H10" << qint64(0);
    QTest::newRow("half down to even") << "2.5" << qint64(2);
    QTest::newRow("half up to even") << "3.5" << qint64(4);
    QTest::newRow("half of zero") << ".5" << qint64(0);
    QTest::newRow("one and a half") << "1.5" << qint64(2);
    QTest::newRow("negative half to even") << "-2.5" << qint64(-2);
    QTest::newRow("negative half away") << "-3.5" << qint64(-4);
    QTest::newRow("negative small") << "-0.4" << qint64(0);
    QTest::newRow("just above half") << "2.5000000000000000001" << qint64(3);
    QTest::newRow("just below half") << "2.4999999999999999999" << qint64(2);
    QTest::newRow("small fraction") << "0.05" << qint64(0);
    QTest::newRow("fraction rounds up") << "0.51" << qint64(1);
    QTest::newRow("second point stops") << "1.2.9" << qint64(1);
    QTest::newRow("exponent") << "1e9" << qint64(1000000000);
    QTest::newRow("upper-case exponent") << "2E3" << qint64(2000);
    QTest::newRow("negative exponent") << "15e-1" << qint64(2);
    QTest::newRow("negative exponent to even") << "25e-1" << qint64(2);
    QTest::newRow("fraction and exponent") << "123.4e1" << qint64(1234);
    QTest::newRow("small fraction, exponent") << "0.0005e4" << qint64(5);
    QTest::newRow("exponent with blank") << "1e 2" << qint64(100);
    QTest::newRow("exponent without digits") << "1e" << qint64(1);
    QTest::newRow("exponent sign without digits") << "1e+" << qint64(1);
    QTest::newRow("exponent stops at point") << "1e2.5" << qint64(100);
    QTest::newRow("D is not an exponent") << "1d2" << qint64(1);
    QTest::newRow("tiny") << "1e-400" << qint64(0);
    QTest::newRow("zero, huge exponent") << "0e400" << qint64(0);
    QTest::newRow("qint32 max") << "2147483647" << qint64(2147483647);
    QTest::newRow("qint32 min") << "-2147483648" << qint64(-2147483648LL);
    QTest::newRow("beyond qint32") << "2147483648" << kOutOfRange;
    QTest::newRow("rounds beyond qint32") << "2147483647.5" << kOutOfRange;
    QTest::newRow("many digits") << "99999999999999999999" << kOutOfRange;
    QTest::newRow("huge exponent") << "1e400" << kOutOfRange;
    QTest::newRow("saturated exponent") << "1e99999999999999999999" << kOutOfRange;
}

void TestSettingsVal::leadingNumber()
{
    QFETCH(QString, text);
    QFETCH(qint64, expected);
    const std::optional<qint32> value = roundedVal(text);
    if (expected == kOutOfRange) {
        QVERIFY2(!value, qPrintable(QString::number(value.value_or(0))));
    } else {
        QVERIFY(value);
        QCOMPARE(qint64(*value), expected);
    }
}

void TestSettingsVal::sixteenBitRange_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<int>("expected");

    QTest::newRow("max") << "32767" << true << 32767;
    QTest::newRow("min") << "-32768" << true << -32768;
    QTest::newRow("one above") << "32768" << false << 0;
    QTest::newRow("one below") << "-32769" << false << 0;
    QTest::newRow("rounds above") << "32767.5" << false << 0;
    QTest::newRow("rounds down to max") << "32766.5" << true << 32766;
    QTest::newRow("negative half to even min") << "-32768.5" << true << -32768;
    QTest::newRow("forty thousand") << "40000" << false << 0;
    QTest::newRow("exponent too large") << "1e9" << false << 0;
    QTest::newRow("no number") << "abc" << true << 0;
}

void TestSettingsVal::sixteenBitRange()
{
    QFETCH(QString, text);
    QFETCH(bool, fits);
    QFETCH(int, expected);
    const std::optional<qint16> value = roundedValInt16(text);
    QCOMPARE(value.has_value(), fits);
    if (fits)
        QCOMPARE(int(*value), expected);
}

QTEST_GUILESS_MAIN(TestSettingsVal)
#include "test_settingsval.moc"
