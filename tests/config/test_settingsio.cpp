#include "config/appsettings.h"
#include "config/includedude.h"
#include "config/settingsio.h"
#include "support/memorystore.h"

#include <QTest>

using namespace store;

namespace {

const QStringList kNames = {QStringLiteral("BaudRate"), QStringLiteral("CommPort"),
                            QStringLiteral("DataBits"), QStringLiteral("DefType"),
                            QStringLiteral("Parity"),   QStringLiteral("StopBits"),
                            QStringLiteral("Timeout")};

QByteArray dword(qint32 number)
{
    QByteArray data(4, '\0');
    for (int i = 0; i < 4; ++i)
        data[i] = char((quint32(number) >> (8 * i)) & 0xFF);
    return data;
}

QList<int> fields(const AppSettings& s)
{
    return {s.CommPort, s.BaudRate, s.Parity, s.DataBits, s.StopBits, s.DefType, s.Timeout};
}

const QList<int> kDefaults = {1, 9600, 0, 7, 1, 1, 10};

} // namespace

class TestSettingsIo : public QObject
{
    Q_OBJECT
private slots:
    void emptyStoreLoadsDefaults();
    void loadText_data();
    void loadText();
    void loadDword_data();
    void loadDword();
    void unsupportedTypeKeepsDefault_data();
    void unsupportedTypeKeepsDefault();
    void onlyPresentValuesTaken();
    void loadReadsEachNameOnceAndClosesKeys();
    void saveWritesSevenDwords();
    void saveCreatesMissingKey();
    void saveOverwritesTextValue();
    void saveGoesOnWhenStoreFails_data();
    void saveGoesOnWhenStoreFails();
    void writeKeyValueReturnsWriteStatus_data();
    void writeKeyValueReturnsWriteStatus();
    void readKeyValueEmptyOnFailure_data();
    void readKeyValueEmptyOnFailure();
    void readKeyValueText_data();
    void readKeyValueText();
    void readValueLeavesValueOnUnsupported_data();
    void readValueLeavesValueOnUnsupported();
    void writeValueBytes_data();
    void writeValueBytes();
    void createKeyClosesAndReportsStatus();
};

void TestSettingsIo::emptyStoreLoadsDefaults()
{
    MemoryStore memory;
    AppSettings settings;
    LoadSettings(settings, memory, settingsKeyPath());
    QCOMPARE(fields(settings), kDefaults);
    // Loading leaves a first run's store untouched.
    QVERIFY(!memory.hasKey(settingsKeyPath()));
    QCOMPARE(memory.count(MemoryStore::SetValue), 0);
    QCOMPARE(memory.count(MemoryStore::CreateKey), 0);
}

void TestSettingsIo::loadText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("expected");

    QTest::newRow("digits") << QByteArray("9600") << 9600;
    QTest::newRow("blank, digits, letters") << QByteArray(" 12abc") << 12;
    QTest::newRow("letters give zero") << QByteArray("abc") << 0;
    QTest::newRow("empty keeps default") << QByteArray("") << 10;
    QTest::newRow("2.5") << QByteArray("2.5") << 2;
    QTest::newRow("3.5") << QByteArray("3.5") << 4;
    QTest::newRow("blank inside") << QByteArray("1 2") << 12;
    QTest::newRow("NUL in the middle") << QByteArray("12\0"
                                                     "34",
                                                     5)
                                       << 12;
    QTest::newRow("NUL first keeps default") << QByteArray("\0"
                                                           "34",
                                                           3)
                                             << 10;
    QTest::newRow("negative") << QByteArray("-3") << -3;
    QTest::newRow("exponent out of range") << QByteArray("1e9") << 10;
    QTest::newRow("just out of range") << QByteArray("32768") << 10;
    QTest::newRow("exponent in range") << QByteArray("3e2") << 300;
}

void TestSettingsIo::loadText()
{
    QFETCH(QByteArray, text);
    QFETCH(int, expected);
    MemoryStore memory;
    memory.putText(settingsKeyPath(), QStringLiteral("Timeout"), text);
    AppSettings settings;
    LoadSettings(settings, memory, settingsKeyPath());
    QCOMPARE(int(settings.Timeout), expected);
    QCOMPARE(int(settings.BaudRate), 9600);
}

void TestSettingsIo::loadDword_data()
{
    QTest::addColumn<qint32>("stored");
    QTest::addColumn<int>("expected");

    QTest::newRow("9600") << qint32(9600) << 9600;
    QTest::newRow("minus one") << qint32(-1) << -1;
    QTest::newRow("max") << qint32(32767) << 32767;
    QTest::newRow("min") << qint32(-32768) << -32768;
    QTest::newRow("40000 keeps default") << qint32(40000) << 9600;
    QTest::newRow("-40000 keeps default") << qint32(-40000) << 9600;
    QTest::newRow("zero") << qint32(0) << 0;
}

void TestSettingsIo::loadDword()
{
    QFETCH(qint32, stored);
    QFETCH(int, expected);
    MemoryStore memory;
    memory.putDword(settingsKeyPath(), QStringLiteral("BaudRate"), stored);
    AppSettings settings;
    LoadSettings(settings, memory, settingsKeyPath());
    QCOMPARE(int(settings.BaudRate), expected);
}

void TestSettingsIo::unsupportedTypeKeepsDefault_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("binary") << 3 << QByteArray("\x05\x00\x00\x00", 4);
    QTest::newRow("expandable text") << 2 << QByteArray("5");
    QTest::newRow("multi text") << 7 << QByteArray("5\0\0", 3);
    QTest::newRow("none") << 0 << QByteArray("5");
    QTest::newRow("short integer") << int(REG_DWORD) << QByteArray("\x05\x00", 2);
    QTest::newRow("long integer") << int(REG_DWORD) << QByteArray("\x05\x00\x00\x00\x00", 5);
}

void TestSettingsIo::unsupportedTypeKeepsDefault()
{
    QFETCH(int, type);
    QFETCH(QByteArray, data);
    MemoryStore memory;
    memory.putValue(settingsKeyPath(), QStringLiteral("Timeout"), type, data);
    AppSettings settings;
    LoadSettings(settings, memory, settingsKeyPath());
    QCOMPARE(fields(settings), kDefaults);
}

void TestSettingsIo::onlyPresentValuesTaken()
{
    MemoryStore memory;
    memory.putDword(settingsKeyPath(), QStringLiteral("Timeout"), 5);
    AppSettings settings;
    LoadSettings(settings, memory, settingsKeyPath());
    QCOMPARE(fields(settings), (QList<int>{1, 9600, 0, 7, 1, 1, 5}));
}

void TestSettingsIo::loadReadsEachNameOnceAndClosesKeys()
{
    MemoryStore memory;
    for (const QString& name : kNames)
        memory.putDword(settingsKeyPath(), name.toUpper(), 2); // names match in any case
    AppSettings settings;
    LoadSettings(settings, memory, settingsKeyPath());
    QCOMPARE(fields(settings), (QList<int>{2, 2, 2, 2, 2, 2, 2}));

    QStringList opened, queried;
    for (const MemoryStore::Call& call : memory.calls) {
        if (call.operation == MemoryStore::OpenKey) {
            opened.append(call.target);
            QCOMPARE(call.access, 0x3Fu);
            QCOMPARE(call.status, long(ERROR_SUCCESS));
        } else if (call.operation == MemoryStore::QueryValue && !queried.endsWith(call.target)) {
            queried.append(call.target);
        }
    }
    QCOMPARE(opened, QStringList(kNames.size(), settingsKeyPath()));
    QCOMPARE(queried, kNames);
    QCOMPARE(memory.openKeyCount(), 0);
    // The load is one batch of the store, so a file store reads its file once.
    QCOMPARE(memory.batches, 1);
    QCOMPARE(memory.batchDepth, 0);
    for (const MemoryStore::Call& call : memory.calls)
        QCOMPARE(call.batchDepth, 1);
}

void TestSettingsIo::saveWritesSevenDwords()
{
    MemoryStore memory;
    memory.putDword(settingsKeyPath(), QStringLiteral("Timeout"), 10);
    AppSettings settings;
    settings.BaudRate = -1;
    settings.StopBits = 2;
    SaveSettings(settings, memory, settingsKeyPath());

    QCOMPARE(memory.valueNames(settingsKeyPath()), kNames);
    const QList<int> expected = {-1, 1, 7, 1, 0, 2, 10};
    for (qsizetype i = 0; i < kNames.size(); ++i) {
        const auto value = memory.value(settingsKeyPath(), kNames.at(i));
        QVERIFY(value);
        QCOMPARE(value->type, int(REG_DWORD));
        QCOMPARE(value->data.toHex(), dword(expected.at(i)).toHex());
    }
    QCOMPARE(memory.value(settingsKeyPath(), QStringLiteral("BaudRate"))->data.toHex(),
             QByteArray("ffffffff"));
    QCOMPARE(memory.openKeyCount(), 0);

    AppSettings loaded;
    LoadSettings(loaded, memory, settingsKeyPath());
    QCOMPARE(fields(loaded), fields(settings));
}

void TestSettingsIo::saveCreatesMissingKey()
{
    MemoryStore memory;
    SaveSettings(AppSettings{}, memory, settingsKeyPath());
    QVERIFY(memory.hasKey(settingsKeyPath()));
    QVERIFY(memory.hasKey(QStringLiteral("Software\\Quorvex")));
    QCOMPARE(memory.valueNames(settingsKeyPath()).size(), 7);

    // The first write finds no key, creates it and opens it again; the rest open it at once.
    QCOMPARE(memory.calls.size(), 6 + 6 * 3);
    QCOMPARE(memory.calls.at(0).operation, MemoryStore::OpenKey);
    QCOMPARE(memory.calls.at(0).status, long(ERROR_FILE_NOT_FOUND));
    QCOMPARE(memory.calls.at(1).operation, MemoryStore::CreateKey);
    QCOMPARE(memory.calls.at(1).access, 0x3Fu);
    QCOMPARE(memory.calls.at(1).target, settingsKeyPath());
    QCOMPARE(memory.calls.at(2).operation, MemoryStore::CloseKey);
    QCOMPARE(memory.calls.at(3).operation, MemoryStore::OpenKey);
    QCOMPARE(memory.calls.at(3).status, long(ERROR_SUCCESS));
    QCOMPARE(memory.calls.at(4).operation, MemoryStore::SetValue);
    QCOMPARE(memory.calls.at(4).target, QStringLiteral("BaudRate"));
    QCOMPARE(memory.count(MemoryStore::CreateKey), 1);
    QCOMPARE(memory.openKeyCount(), 0);
    // All seven in one batch of the store: one rewrite, all or none.
    QCOMPARE(memory.batches, 1);
    QCOMPARE(memory.batchDepth, 0);
    for (const MemoryStore::Call& call : memory.calls)
        QCOMPARE(call.batchDepth, 1);
}

void TestSettingsIo::saveOverwritesTextValue()
{
    MemoryStore memory;
    memory.putText(settingsKeyPath(), QStringLiteral("timeout"), "25");
    AppSettings settings;
    settings.Timeout = 3;
    SaveSettings(settings, memory, settingsKeyPath());
    const auto value = memory.value(settingsKeyPath(), QStringLiteral("Timeout"));
    QVERIFY(value);
    QCOMPARE(value->type, int(REG_DWORD));
    QCOMPARE(value->data.toHex(), dword(3).toHex());
    QCOMPARE(memory.valueNames(settingsKeyPath()).size(), 7);
}

void TestSettingsIo::saveGoesOnWhenStoreFails_data()
{
    QTest::addColumn<QList<int>>("failing");
    QTest::addColumn<bool>("writesFail");

    QTest::newRow("every operation")
        << QList<int>{MemoryStore::OpenKey, MemoryStore::CreateKey, MemoryStore::QueryValue,
                      MemoryStore::SetValue, MemoryStore::CloseKey}
        << true;
    QTest::newRow("writes") << QList<int>{MemoryStore::SetValue} << true;
    QTest::newRow("opening") << QList<int>{MemoryStore::OpenKey} << true;
    QTest::newRow("creation") << QList<int>{MemoryStore::CreateKey} << true;
    QTest::newRow("closing") << QList<int>{MemoryStore::CloseKey} << false;
}

void TestSettingsIo::saveGoesOnWhenStoreFails()
{
    QFETCH(QList<int>, failing);
    QFETCH(bool, writesFail);
    MemoryStore memory;
    for (int operation : failing)
        memory.failOn(MemoryStore::Operation(operation), ERROR_ACCESS_DENIED);
    AppSettings settings;
    settings.Timeout = 20;
    // A store that cannot tell why it failed still has the failure told.
    const store::Failure failure = SaveSettings(settings, memory, settingsKeyPath());
    QCOMPARE(int(failure.cause), int(writesFail ? Cause::Other : Cause::None));
    QCOMPARE(failure.reason.isEmpty(), !writesFail);

    // Every value is tried in turn whatever became of the one before.
    QStringList tried;
    for (const MemoryStore::Call& call : memory.calls) {
        if (call.operation == MemoryStore::SetValue) {
            tried.append(call.target);
            QCOMPARE(call.status != ERROR_SUCCESS, writesFail);
        }
    }
    QCOMPARE(tried, kNames);
    QCOMPARE(int(settings.Timeout), 20);
    QCOMPARE(memory.valueNames(settingsKeyPath()).size(), writesFail ? 0 : 7);
}

void TestSettingsIo::writeKeyValueReturnsWriteStatus_data()
{
    QTest::addColumn<int>("failing"); // -1: nothing fails
    QTest::addColumn<bool>("keyExists");
    QTest::addColumn<long>("status");
    QTest::addColumn<bool>("written");

    QTest::newRow("existing key") << -1 << true << long(ERROR_SUCCESS) << true;
    QTest::newRow("missing key is created") << -1 << false << long(ERROR_SUCCESS) << true;
    QTest::newRow("write refused")
        << int(MemoryStore::SetValue) << true << long(ERROR_ACCESS_DENIED) << false;
    // Without a key the write goes to no key, and the store's refusal is what comes back.
    QTest::newRow("open refused") << int(MemoryStore::OpenKey) << true << long(ERROR_INVALID_HANDLE)
                                  << false;
    QTest::newRow("creation refused")
        << int(MemoryStore::CreateKey) << false << long(ERROR_INVALID_HANDLE) << false;
    QTest::newRow("close refused")
        << int(MemoryStore::CloseKey) << true << long(ERROR_SUCCESS) << true;
}

void TestSettingsIo::writeKeyValueReturnsWriteStatus()
{
    QFETCH(int, failing);
    QFETCH(bool, keyExists);
    QFETCH(long, status);
    QFETCH(bool, written);
    MemoryStore memory;
    const QString path = QStringLiteral("Software\\A\\B\\");
    if (keyExists)
        memory.putDword(path, QStringLiteral("Other"), 1);
    if (failing >= 0)
        memory.failOn(MemoryStore::Operation(failing), ERROR_ACCESS_DENIED);
    QCOMPARE(IncludeDude::WriteKeyValue(memory, HKEY_CURRENT_USER, path, QStringLiteral("V"),
                                        QVariant(42), REG_DWORD),
             status);
    QCOMPARE(memory.value(path, QStringLiteral("V")).has_value(), written);
    if (written)
        QCOMPARE(memory.value(path, QStringLiteral("V"))->data.toHex(), dword(42).toHex());
}

void TestSettingsIo::readKeyValueEmptyOnFailure_data()
{
    QTest::addColumn<int>("failing"); // -1: nothing fails
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");

    const QString path = QStringLiteral("Software\\Quorvex\\Quorvex Tarnavel\\");
    QTest::newRow("open refused") << int(MemoryStore::OpenKey) << path << "Timeout";
    QTest::newRow("query refused") << int(MemoryStore::QueryValue) << path << "Timeout";
    QTest::newRow("missing key") << -1 << "Software\\Nobody"
                                 << "Timeout";
    QTest::newRow("missing value") << -1 << path << "Nothing";
    QTest::newRow("unsupported type") << -1 << path << "Raw";
}

void TestSettingsIo::readKeyValueEmptyOnFailure()
{
    QFETCH(int, failing);
    QFETCH(QString, path);
    QFETCH(QString, name);
    MemoryStore memory;
    memory.putText(settingsKeyPath(), QStringLiteral("Timeout"), "7");
    memory.putValue(settingsKeyPath(), QStringLiteral("Raw"), 3, "7");
    QCOMPARE(IncludeDude::ReadKeyValue(memory, HKEY_CURRENT_USER, settingsKeyPath(),
                                       QStringLiteral("Timeout")),
             QStringLiteral("7"));
    if (failing >= 0)
        memory.failOn(MemoryStore::Operation(failing), ERROR_ACCESS_DENIED);
    QCOMPARE(IncludeDude::ReadKeyValue(memory, HKEY_CURRENT_USER, path, name), QString());
    QCOMPARE(memory.openKeyCount(), 0);
}

void TestSettingsIo::readKeyValueText_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("expected");

    QTest::newRow("integer") << int(REG_DWORD) << dword(-5) << "-5";
    QTest::newRow("largest integer") << int(REG_DWORD) << dword(2147483647) << "2147483647";
    QTest::newRow("text") << int(REG_SZ) << QByteArray("abc") << "abc";
    QTest::newRow("text up to NUL") << int(REG_SZ) << QByteArray("abc\0def", 7) << "abc";
    QTest::newRow("Latin-1 byte") << int(REG_SZ) << QByteArray("caf\xE9")
                                  << QString::fromUtf8("café");
    QTest::newRow("empty text") << int(REG_SZ) << QByteArray() << "";
    QTest::newRow("text with its own NUL") << int(REG_SZ) << QByteArray("ab\0", 3) << "ab";
}

void TestSettingsIo::readKeyValueText()
{
    QFETCH(int, type);
    QFETCH(QByteArray, data);
    QFETCH(QString, expected);
    MemoryStore memory;
    memory.putValue(QStringLiteral("Software\\X"), QStringLiteral("V"), type, data);
    QCOMPARE(IncludeDude::ReadKeyValue(memory, HKEY_CURRENT_USER, QStringLiteral("Software\\X"),
                                       QStringLiteral("v")),
             expected);
}

void TestSettingsIo::readValueLeavesValueOnUnsupported_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<long>("status");

    QTest::newRow("binary") << 3 << QByteArray("\x01\x02\x03\x04", 4) << -1L;
    QTest::newRow("short integer") << int(REG_DWORD) << QByteArray("\x01\x02", 2) << -1L;
}

void TestSettingsIo::readValueLeavesValueOnUnsupported()
{
    QFETCH(int, type);
    QFETCH(QByteArray, data);
    QFETCH(long, status);
    MemoryStore memory;
    memory.putValue(QStringLiteral("K"), QStringLiteral("V"), type, data);
    Key key = 0;
    QCOMPARE(memory.openKey(HKEY_CURRENT_USER, QStringLiteral("K"), 0x3F, &key),
             long(ERROR_SUCCESS));
    QVariant value(QStringLiteral("untouched"));
    QCOMPARE(IncludeDude::ReadValue(memory, key, QStringLiteral("V"), &value), status);
    QCOMPARE(value, QVariant(QStringLiteral("untouched")));
    QCOMPARE(IncludeDude::ReadValue(memory, key, QStringLiteral("Missing"), &value),
             long(ERROR_FILE_NOT_FOUND));
    QCOMPARE(value, QVariant(QStringLiteral("untouched")));
    memory.closeKey(key);
}

void TestSettingsIo::writeValueBytes_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("written");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("text, one byte per character, no NUL")
        << int(REG_SZ) << QVariant(QString::fromUtf8("café")) << true << QByteArray("caf\xE9");
    QTest::newRow("number as text") << int(REG_SZ) << QVariant(12) << true << QByteArray("12");
    QTest::newRow("raw bytes as text")
        << int(REG_SZ) << QVariant(QByteArray("a\0b", 3)) << true << QByteArray("a\0b", 3);
    QTest::newRow("negative integer") << int(REG_DWORD) << QVariant(-2) << true << dword(-2);
    QTest::newRow("16-bit field") << int(REG_DWORD) << QVariant::fromValue(qint16(-32768)) << true
                                  << dword(-32768);
    QTest::newRow("other type writes nothing") << 3 << QVariant(5) << false << QByteArray();
}

void TestSettingsIo::writeValueBytes()
{
    QFETCH(int, type);
    QFETCH(QVariant, value);
    QFETCH(bool, written);
    QFETCH(QByteArray, data);
    MemoryStore memory;
    Key key = 0;
    QCOMPARE(memory.createKey(HKEY_CURRENT_USER, QStringLiteral("K"), 0x3F, &key),
             long(ERROR_SUCCESS));
    QCOMPARE(IncludeDude::WriteValue(memory, key, QStringLiteral("V"), type, value),
             long(ERROR_SUCCESS));
    const auto stored = memory.value(QStringLiteral("K"), QStringLiteral("V"));
    QCOMPARE(stored.has_value(), written);
    QCOMPARE(memory.count(MemoryStore::SetValue), written ? 1 : 0);
    if (written) {
        QCOMPARE(stored->type, type);
        QCOMPARE(stored->data.toHex(), data.toHex());
    }
}

void TestSettingsIo::createKeyClosesAndReportsStatus()
{
    MemoryStore memory;
    QCOMPARE(IncludeDude::CreateKey(memory, HKEY_CURRENT_USER, QStringLiteral("A\\B\\C\\")),
             long(ERROR_SUCCESS));
    QVERIFY(memory.hasKey(QStringLiteral("A\\B\\C")));
    QVERIFY(memory.hasKey(QStringLiteral("A\\B")));
    QCOMPARE(memory.openKeyCount(), 0);
    QCOMPARE(memory.count(MemoryStore::CloseKey), 1);

    memory.failOn(MemoryStore::CreateKey, ERROR_ACCESS_DENIED);
    QCOMPARE(IncludeDude::CreateKey(memory, HKEY_CURRENT_USER, QStringLiteral("D")),
             long(ERROR_ACCESS_DENIED));
    QVERIFY(!memory.hasKey(QStringLiteral("D")));
    QCOMPARE(memory.count(MemoryStore::CloseKey), 1); // no key to close
}

QTEST_GUILESS_MAIN(TestSettingsIo)
#include "test_settingsio.moc"
