#include "config/appsettings.h"
#include "config/includedude.h"
#include "config/settingsio.h"
#include "emulator/readermodel.h"
#include "emulator/simserver.h"
#include "platform/fsutil.h"
#include "platform/paths.h"
#include "platform/qtserialport.h"
#include "platform/regfilestore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

using namespace store;

namespace {

const QByteArray kSection = "[HKEY_CURRENT_USER\\Software\\Quorvex\\Quorvex Tarnavel]";

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray settingsFile(const QByteArray& valueLines)
{
    return "REGEDIT4\n\n" + kSection + "\n" + valueLines;
}

int mode(const QString& path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

QList<int> fields(const AppSettings& s)
{
    return {s.CommPort, s.BaudRate, s.Parity, s.DataBits, s.StopBits, s.DefType, s.Timeout};
}

// The lines of one section, without the header.
QList<QByteArray> sectionLines(const QByteArray& file, const QByteArray& header)
{
    QList<QByteArray> lines;
    bool inside = false;
    for (const QByteArray& line : file.split('\n')) {
        if (line.startsWith('['))
            inside = line == header;
        else if (inside && !line.isEmpty())
            lines.append(line);
    }
    return lines;
}

QByteArray dword(qint32 number)
{
    QByteArray data(4, '\0');
    for (int i = 0; i < 4; ++i)
        data[i] = char((quint32(number) >> (8 * i)) & 0xFF);
    return data;
}

// The test program doubles as the other programs that share the store.
int runChild(const QStringList& args)
{
    if (args.size() < 2)
        return 64;
    RegFileStore fileStore(args.at(1));
    Key key = 0;
    if (fileStore.createKey(HKEY_CURRENT_USER, settingsKeyPath(), 0x3F, &key) != ERROR_SUCCESS)
        return 1;
    const QString mode = args.at(0);
    if (mode == QLatin1String("write") && args.size() == 4) {
        for (int i = 0; i < args.at(3).toInt(); ++i) {
            if (fileStore.setValue(key, args.at(2) + QString::number(i), REG_DWORD, dword(i)) !=
                ERROR_SUCCESS)
                return 1;
        }
        return 0;
    }
    if (mode == QLatin1String("hold") && args.size() == 3) {
        // Stops inside the save, the lock held and the new file not yet in place, until a line
        // arrives on stdin.
        fileStore.setBeforeCommit([] {
            std::fputs("holding\n", stdout);
            std::fflush(stdout);
            char line[16];
            if (!std::fgets(line, sizeof line, stdin))
                return;
        });
        return fileStore.setValue(key, args.at(2), REG_DWORD, dword(1)) == ERROR_SUCCESS ? 0 : 1;
    }
    if (mode == QLatin1String("try") && args.size() == 3) {
        fileStore.setLockTimeout(0);
        const long status = fileStore.setValue(key, args.at(2), REG_DWORD, dword(1));
        return status == ERROR_SUCCESS ? 0 : status == RegFileStore::ERROR_LOCK_VIOLATION ? 2 : 1;
    }
    return 64;
}

} // namespace

class TestRegFileStore : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void emptyStoreLoadsDefaultsAndWritesNothing();
    void saveWritesExactlySevenDwords();
    void minusOneStoredAsFfffffff();
    void loadFromFileValues_data();
    void loadFromFileValues();
    void onlyPresentValuesTaken();
    void valueKinds_data();
    void valueKinds();
    void unknownValuesSurviveRewrite();
    void textRoundTrip_data();
    void textRoundTrip();
    void escapedNameAndTextInFile();
    void keyPathsIgnoreCaseAndKeepSpelling();
    void queryReportsSizesLikeTheRegistry();
    void accessRightsEnforced();
    void machineRootDoesNotExist();
    void unknownHandlesRefused();
    void readsSeeOtherWriters();
    void corruptFile_data();
    void corruptFile();
    void unchangedSaveLeavesFileAlone();
    void saveStaysWithinTheBound_data();
    void saveStaysWithinTheBound();
    void onlyRegularFilesUsed_data();
    void onlyRegularFilesUsed();
    void readFailureNamesTheCause_data();
    void readFailureNamesTheCause();
    void settingsAreOneReadAndOneRewrite();
    void noHomeMeansNoStore_data();
    void noHomeMeansNoStore();
    void fileAndDirectoryArePrivate();
    void folderModeLeftAsItIs_data();
    void folderModeLeftAsItIs();
    void interruptedSaveLeavesOldFile();
    void lockKeepsOtherWritersOut();
    void concurrentSavesKeepBothValues();

private:
    QString childProgram() const { return QCoreApplication::applicationFilePath(); }
    bool startHolding(QProcess& child, const QString& name);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestRegFileStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("config/quorvex-tarnavel/user.reg"));
}

void TestRegFileStore::emptyStoreLoadsDefaultsAndWritesNothing()
{
    RegFileStore fileStore(m_path);
    AppSettings settings;
    LoadSettings(settings, fileStore, settingsKeyPath());
    QCOMPARE(fields(settings), (QList<int>{1, 9600, 0, 7, 1, 1, 10}));
    QVERIFY(!QFileInfo::exists(m_path));
    QVERIFY(!QFileInfo::exists(QFileInfo(m_path).absolutePath()));
}

void TestRegFileStore::saveWritesExactlySevenDwords()
{
    RegFileStore fileStore(m_path);
    AppSettings settings;
    settings.Timeout = 20; // only one field differs from the defaults
    SaveSettings(settings, fileStore, settingsKeyPath());

    const QByteArray text = readAll(m_path);
    QVERIFY(text.startsWith("REGEDIT4\n"));
    const QList<QByteArray> lines = sectionLines(text, kSection);
    const QByteArray expected = "\"BaudRate\"=dword:00002580\n"
                                "\"CommPort\"=dword:00000001\n"
                                "\"DataBits\"=dword:00000007\n"
                                "\"DefType\"=dword:00000001\n"
                                "\"Parity\"=dword:00000000\n"
                                "\"StopBits\"=dword:00000001\n"
                                "\"Timeout\"=dword:00000014";
    QCOMPARE(lines.join('\n'), expected);
    // No other section holds values.
    QCOMPARE(text.count("=dword:"), 7);
    QCOMPARE(text.count('='), 7);

    AppSettings loaded;
    loaded.Timeout = 1;
    LoadSettings(loaded, fileStore, settingsKeyPath());
    QCOMPARE(fields(loaded), fields(settings));
}

void TestRegFileStore::minusOneStoredAsFfffffff()
{
    RegFileStore fileStore(m_path);
    AppSettings settings;
    settings.BaudRate = -1;
    settings.DataBits = -32768;
    SaveSettings(settings, fileStore, settingsKeyPath());
    const QList<QByteArray> lines = sectionLines(readAll(m_path), kSection);
    QVERIFY(lines.contains("\"BaudRate\"=dword:ffffffff"));
    QVERIFY(lines.contains("\"DataBits\"=dword:ffff8000"));

    AppSettings loaded;
    LoadSettings(loaded, fileStore, settingsKeyPath());
    QCOMPARE(int(loaded.BaudRate), -1);
    QCOMPARE(int(loaded.DataBits), -32768);
}

void TestRegFileStore::loadFromFileValues_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("timeout");

    QTest::newRow("dword") << QByteArray("\"Timeout\"=dword:00000005") << 5;
    QTest::newRow("upper-case dword") << QByteArray("\"Timeout\"=dword:0000001F") << 31;
    QTest::newRow("short dword") << QByteArray("\"Timeout\"=dword:7") << 7;
    QTest::newRow("minus one") << QByteArray("\"Timeout\"=dword:ffffffff") << -1;
    QTest::newRow("dword 40000 keeps default") << QByteArray("\"Timeout\"=dword:00009c40") << 10;
    QTest::newRow("text 9600") << QByteArray("\"Timeout\"=\"9600\"") << 9600;
    QTest::newRow("text blank 12abc") << QByteArray("\"Timeout\"=\" 12abc\"") << 12;
    QTest::newRow("text abc") << QByteArray("\"Timeout\"=\"abc\"") << 0;
    QTest::newRow("empty text keeps default") << QByteArray("\"Timeout\"=\"\"") << 10;
    QTest::newRow("text 2.5") << QByteArray("\"Timeout\"=\"2.5\"") << 2;
    QTest::newRow("text 3.5") << QByteArray("\"Timeout\"=\"3.5\"") << 4;
    QTest::newRow("text 1 2") << QByteArray("\"Timeout\"=\"1 2\"") << 12;
    QTest::newRow("text 1e9 keeps default") << QByteArray("\"Timeout\"=\"1e9\"") << 10;
    QTest::newRow("text with NUL") << QByteArray("\"Timeout\"=hex(1):31,32,00,33,34") << 12;
    QTest::newRow("raw bytes keep default") << QByteArray("\"Timeout\"=hex:05,00,00,00") << 10;
    QTest::newRow("expandable text keeps default") << QByteArray("\"Timeout\"=hex(2):35,00") << 10;
    QTest::newRow("integer of bytes") << QByteArray("\"Timeout\"=hex(4):06,00,00,00") << 6;
    QTest::newRow("unknown kind keeps default") << QByteArray("\"Timeout\"=qword:5") << 10;
    QTest::newRow("name in other case") << QByteArray("\"TIMEOUT\"=dword:00000003") << 3;
    QTest::newRow("later line wins") << QByteArray("\"Timeout\"=dword:1\n\"Timeout\"=dword:2") << 2;
    QTest::newRow("windows line ends") << QByteArray("\"Timeout\"=dword:00000004\r") << 4;
}

void TestRegFileStore::loadFromFileValues()
{
    QFETCH(QByteArray, line);
    QFETCH(int, timeout);
    writeAll(m_path, settingsFile(line + '\n'));
    RegFileStore fileStore(m_path);
    AppSettings settings;
    LoadSettings(settings, fileStore, settingsKeyPath());
    QCOMPARE(int(settings.Timeout), timeout);
    QCOMPARE(int(settings.BaudRate), 9600);
}

void TestRegFileStore::onlyPresentValuesTaken()
{
    writeAll(m_path, settingsFile("\"Timeout\"=dword:00000005\n"));
    RegFileStore fileStore(m_path);
    AppSettings settings;
    LoadSettings(settings, fileStore, settingsKeyPath());
    QCOMPARE(fields(settings), (QList<int>{1, 9600, 0, 7, 1, 1, 5}));
}

void TestRegFileStore::valueKinds_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("data"); // as the store reports it

    QTest::newRow("text") << QByteArray("\"V\"=\"ab\"") << "V" << 1 << QByteArray("ab\0", 3);
    QTest::newRow("escaped text") << QByteArray("\"V\"=\"a\\\\b\\\"c\"") << "V" << 1
                                  << QByteArray("a\\b\"c\0", 6);
    QTest::newRow("default value") << QByteArray("@=\"d\"") << "" << 1 << QByteArray("d\0", 2);
    QTest::newRow("blanks around =")
        << QByteArray("\"V\" = dword:00000010") << "V" << 4 << dword(16);
    QTest::newRow("binary") << QByteArray("\"V\"=hex:01,ff") << "V" << 3
                            << QByteArray("\x01\xff", 2);
    QTest::newRow("empty binary") << QByteArray("\"V\"=hex:") << "V" << 3 << QByteArray();
    QTest::newRow("multi text") << QByteArray("\"V\"=hex(7):61,00,00") << "V" << 7
                                << QByteArray("a\0\0", 3);
    QTest::newRow("64-bit") << QByteArray("\"V\"=hex(b):01,00,00,00,00,00,00,00") << "V" << 11
                            << QByteArray("\x01\0\0\0\0\0\0\0", 8);
    QTest::newRow("continued bytes")
        << QByteArray("\"V\"=hex:01,02,\\\n  03") << "V" << 3 << QByteArray("\x01\x02\x03", 3);
    QTest::newRow("integer of wrong length")
        << QByteArray("\"V\"=hex(4):01,00") << "V" << 3 << QByteArray("\x01\0", 2);
    QTest::newRow("nine hex digits")
        << QByteArray("\"V\"=dword:123456789") << "V" << 3 << QByteArray("dword:123456789");
    QTest::newRow("dword not hex")
        << QByteArray("\"V\"=dword:0x12") << "V" << 3 << QByteArray("dword:0x12");
    QTest::newRow("unterminated text")
        << QByteArray("\"V\"=\"abc") << "V" << 3 << QByteArray("\"abc");
    QTest::newRow("unknown escape")
        << QByteArray("\"V\"=\"a\\nb\"") << "V" << 3 << QByteArray("\"a\\nb\"");
    QTest::newRow("deletion mark") << QByteArray("\"V\"=-") << "V" << 3 << QByteArray("-");
    QTest::newRow("dword ending in backslash")
        << QByteArray("\"V\"=dword:0000000a\\") << "V" << 3 << QByteArray("dword:0000000a\\");
}

void TestRegFileStore::valueKinds()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, name);
    QFETCH(int, type);
    QFETCH(QByteArray, data);
    writeAll(m_path, settingsFile(line + '\n'));
    RegFileStore fileStore(m_path);
    Key key = 0;
    QCOMPARE(fileStore.openKey(HKEY_CURRENT_USER, settingsKeyPath(), 0x3F, &key),
             long(ERROR_SUCCESS));
    int gotType = -1;
    QByteArray got;
    unsigned size = 1000;
    QCOMPARE(fileStore.queryValue(key, name, &gotType, &got, &size), long(ERROR_SUCCESS));
    QCOMPARE(gotType, type);
    QCOMPARE(got.toHex(' '), data.toHex(' '));
    QCOMPARE(size, unsigned(data.size()));
    fileStore.closeKey(key);
}

void TestRegFileStore::unknownValuesSurviveRewrite()
{
    const QByteArray unknown = "\"Timeout\"=hex:05,00,00,00,01,02,03,04,05,06,07,08,09,0a,\\\r\n"
                               "  0b,0c\r\n"
                               "; a note someone left\n"
                               "\"List\"=hex(7):61,00,00,00\n"
                               "\"Later\"=qword:17";
    const QByteArray other = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"X\"=\"y\"";
    const QByteArray original =
        "REGEDIT4\n; written by hand\n\n" + kSection + "\n" + unknown + "\n\n" + other + "\n";
    writeAll(m_path, original);

    RegFileStore fileStore(m_path);
    AppSettings settings;
    LoadSettings(settings, fileStore, settingsKeyPath());
    QCOMPARE(int(settings.Timeout), 10);

    QVERIFY(IncludeDude::WriteKeyValue(fileStore, HKEY_CURRENT_USER, settingsKeyPath(),
                                       QStringLiteral("CommPort"), QVariant(2),
                                       REG_DWORD) == ERROR_SUCCESS);
    QVERIFY(IncludeDude::WriteKeyValue(fileStore, HKEY_CURRENT_USER,
                                       QStringLiteral("Software\\New"), QStringLiteral("N"),
                                       QVariant(QStringLiteral("v")), REG_SZ) == ERROR_SUCCESS);
    const QByteArray rewritten = readAll(m_path);
    QVERIFY2(rewritten.contains(kSection + "\n" + unknown + "\n\"CommPort\"=dword:00000002\n"),
             rewritten.constData());
    QVERIFY(rewritten.contains("\n" + other + "\n"));
    QVERIFY(rewritten.startsWith("REGEDIT4\n; written by hand\n"));
    QVERIFY(rewritten.contains("[HKEY_CURRENT_USER\\Software\\New]\n\"N\"=\"v\"\n"));

    // A save replaces an unreadable value under the same name with a readable one.
    SaveSettings(settings, fileStore, settingsKeyPath());
    const QList<QByteArray> lines = sectionLines(readAll(m_path), kSection);
    QVERIFY(lines.contains("\"Timeout\"=dword:0000000a"));
    QVERIFY(!readAll(m_path).contains("hex:05"));
    QVERIFY(lines.contains("\"List\"=hex(7):61,00,00,00"));
    QVERIFY(lines.contains("\"Later\"=qword:17"));
}

void TestRegFileStore::textRoundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("plain") << "Name" << QByteArray("text") << QByteArray("\"Name\"=\"text\"");
    QTest::newRow("backslash and quote") << "Path" << QByteArray("C:\\dir\\\"q\"")
                                         << QByteArray("\"Path\"=\"C:\\\\dir\\\\\\\"q\\\"\"");
    QTest::newRow("quote in name")
        << "a\"b\\c" << QByteArray("x") << QByteArray("\"a\\\"b\\\\c\"=\"x\"");
    QTest::newRow("ends with backslash")
        << "E" << QByteArray("dir\\") << QByteArray("\"E\"=\"dir\\\\\"");
    QTest::newRow("Latin-1 byte") << "L" << QByteArray("caf\xe9")
                                  << QByteArray("\"L\"=\"caf\xe9\"");
    QTest::newRow("empty") << "Empty" << QByteArray() << QByteArray("\"Empty\"=\"\"");
    QTest::newRow("NUL inside") << "Z"
                                << QByteArray("12\0"
                                              "34",
                                              5)
                                << QByteArray("\"Z\"=hex(1):31,32,00,33,34");
    QTest::newRow("line break inside")
        << "B" << QByteArray("a\r\nb") << QByteArray("\"B\"=hex(1):61,0d,0a,62");
    QTest::newRow("default value") << "" << QByteArray("d") << QByteArray("@=\"d\"");
}

void TestRegFileStore::textRoundTrip()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, line);
    {
        RegFileStore writer(m_path);
        Key key = 0;
        QCOMPARE(writer.createKey(HKEY_CURRENT_USER, QStringLiteral("Software\\T\\"), 0x3F, &key),
                 long(ERROR_SUCCESS));
        QCOMPARE(writer.setValue(key, name, REG_SZ, text), long(ERROR_SUCCESS));
        QCOMPARE(writer.closeKey(key), long(ERROR_SUCCESS));
    }
    QCOMPARE(sectionLines(readAll(m_path), "[HKEY_CURRENT_USER\\Software\\T]"),
             QList<QByteArray>{line});

    RegFileStore reader(m_path);
    Key key = 0;
    QCOMPARE(reader.openKey(HKEY_CURRENT_USER, QStringLiteral("Software\\T"), 0x3F, &key),
             long(ERROR_SUCCESS));
    int type = 0;
    QByteArray data;
    unsigned size = 1000;
    QCOMPARE(reader.queryValue(key, name, &type, &data, &size), long(ERROR_SUCCESS));
    QCOMPARE(type, int(REG_SZ));
    QCOMPARE(data.toHex(' '), (text + '\0').toHex(' '));

    QVariant value;
    QCOMPARE(IncludeDude::ReadValue(reader, key, name, &value), long(ERROR_SUCCESS));
    QCOMPARE(value.toString(), QString::fromLatin1(text + '\0'));
}

void TestRegFileStore::escapedNameAndTextInFile()
{
    writeAll(m_path, settingsFile("\"Odd \\\"\\\\ name\"=\"\\\\\\\"7\"\n"));
    RegFileStore fileStore(m_path);
    QCOMPARE(IncludeDude::ReadKeyValue(fileStore, HKEY_CURRENT_USER, settingsKeyPath(),
                                       QStringLiteral("odd \"\\ NAME")),
             QStringLiteral("\\\"7"));
}

void TestRegFileStore::keyPathsIgnoreCaseAndKeepSpelling()
{
    RegFileStore fileStore(m_path);
    QCOMPARE(IncludeDude::CreateKey(fileStore, HKEY_CURRENT_USER, settingsKeyPath()),
             long(ERROR_SUCCESS));
    QCOMPARE(sectionLines(readAll(m_path), kSection), QList<QByteArray>());
    QVERIFY(readAll(m_path).contains(kSection + "\n"));

    Key key = 0;
    QCOMPARE(fileStore.openKey(HKEY_CURRENT_USER,
                               QStringLiteral("SOFTWARE\\quorvex\\QUORVEX TARNAVEL"), 0x3F, &key),
             long(ERROR_SUCCESS));
    QCOMPARE(fileStore.setValue(key, QStringLiteral("X"), REG_DWORD, dword(1)),
             long(ERROR_SUCCESS));
    fileStore.closeKey(key);
    QVERIFY(sectionLines(readAll(m_path), kSection).contains("\"X\"=dword:00000001"));

    // Levels above exist without a section of their own; a new key keeps their spelling.
    QCOMPARE(fileStore.openKey(HKEY_CURRENT_USER, QStringLiteral("software"), 0x3F, &key),
             long(ERROR_SUCCESS));
    fileStore.closeKey(key);
    QCOMPARE(fileStore.openKey(HKEY_CURRENT_USER, QString(), 0x3F, &key), long(ERROR_SUCCESS));
    fileStore.closeKey(key);
    QCOMPARE(IncludeDude::CreateKey(fileStore, HKEY_CURRENT_USER,
                                    QStringLiteral("software\\QUORVEX\\Other")),
             long(ERROR_SUCCESS));
    QVERIFY(readAll(m_path).contains("[HKEY_CURRENT_USER\\Software\\Quorvex\\Other]\n"));
    QCOMPARE(fileStore.openKey(HKEY_CURRENT_USER, QStringLiteral("Software\\Quorvex\\Missing"),
                               0x3F, &key),
             long(ERROR_FILE_NOT_FOUND));
    QCOMPARE(key, Key(0));
    QCOMPARE(fileStore.openKey(HKEY_CURRENT_USER, QStringLiteral("Software\\Quorv"), 0x3F, &key),
             long(ERROR_FILE_NOT_FOUND));
}

void TestRegFileStore::queryReportsSizesLikeTheRegistry()
{
    writeAll(m_path, settingsFile("\"T\"=\"abcd\"\n\"D\"=dword:00000001\n"));
    RegFileStore fileStore(m_path);
    Key key = 0;
    QCOMPARE(fileStore.openKey(HKEY_CURRENT_USER, settingsKeyPath(), 0x3F, &key),
             long(ERROR_SUCCESS));
    int type = 0;
    unsigned size = 0;
    QCOMPARE(fileStore.queryValue(key, QStringLiteral("T"), &type, nullptr, &size),
             long(ERROR_SUCCESS));
    QCOMPARE(type, int(REG_SZ));
    QCOMPARE(size, 5u); // the terminating NUL counts

    QByteArray data;
    size = 3;
    QCOMPARE(fileStore.queryValue(key, QStringLiteral("T"), nullptr, &data, &size),
             long(ERROR_MORE_DATA));
    QCOMPARE(size, 5u);
    QCOMPARE(fileStore.queryValue(key, QStringLiteral("D"), &type, nullptr, &size),
             long(ERROR_SUCCESS));
    QCOMPARE(type, int(REG_DWORD));
    QCOMPARE(size, 4u);
    QCOMPARE(fileStore.queryValue(key, QStringLiteral("Missing"), &type, nullptr, &size),
             long(ERROR_FILE_NOT_FOUND));
    QCOMPARE(fileStore.queryValue(key, QStringLiteral("T"), nullptr, &data, nullptr),
             RegFileStore::ERROR_INVALID_PARAMETER);
    fileStore.closeKey(key);
}

void TestRegFileStore::accessRightsEnforced()
{
    writeAll(m_path, settingsFile("\"T\"=\"1\"\n"));
    RegFileStore fileStore(m_path);
    Key readOnly = 0;
    QCOMPARE(fileStore.openKey(HKEY_CURRENT_USER, settingsKeyPath(), 0x1, &readOnly),
             long(ERROR_SUCCESS));
    QCOMPARE(fileStore.setValue(readOnly, QStringLiteral("T"), REG_SZ, "2"),
             long(ERROR_ACCESS_DENIED));
    Key writeOnly = 0;
    QCOMPARE(fileStore.openKey(HKEY_CURRENT_USER, settingsKeyPath(), 0x2, &writeOnly),
             long(ERROR_SUCCESS));
    unsigned size = 0;
    QCOMPARE(fileStore.queryValue(writeOnly, QStringLiteral("T"), nullptr, nullptr, &size),
             long(ERROR_ACCESS_DENIED));
    QCOMPARE(readAll(m_path), settingsFile("\"T\"=\"1\"\n"));
}

void TestRegFileStore::machineRootDoesNotExist()
{
    const QByteArray original =
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSInfo]\n"
        "\"Path\"=\"/usr/bin/true\"\n";
    writeAll(m_path, original);
    RegFileStore fileStore(m_path);
    Key key = 123;
    QCOMPARE(fileStore.openKey(HKEY_LOCAL_MACHINE,
                               QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSInfo"), 0x3F,
                               &key),
             long(ERROR_FILE_NOT_FOUND));
    QCOMPARE(key, Key(0));
    QCOMPARE(fileStore.openKey(HKEY_LOCAL_MACHINE, QString(), 0x3F, &key),
             long(ERROR_FILE_NOT_FOUND));
    QCOMPARE(IncludeDude::ReadKeyValue(fileStore, HKEY_LOCAL_MACHINE,
                                       QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSInfo"),
                                       QStringLiteral("Path")),
             QString());
    QVERIFY(IncludeDude::CreateKey(fileStore, HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\X")) !=
            ERROR_SUCCESS);
    QVERIFY(IncludeDude::WriteKeyValue(fileStore, HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\X"),
                                       QStringLiteral("V"), QVariant(1),
                                       REG_DWORD) != ERROR_SUCCESS);
    QCOMPARE(readAll(m_path), original);
    // A machine section in the file does not make a user key either.
    QCOMPARE(
        fileStore.openKey(HKEY_CURRENT_USER, QStringLiteral("SOFTWARE\\Microsoft"), 0x3F, &key),
        long(ERROR_FILE_NOT_FOUND));
}

void TestRegFileStore::unknownHandlesRefused()
{
    RegFileStore fileStore(m_path);
    unsigned size = 0;
    QCOMPARE(fileStore.queryValue(0, QStringLiteral("T"), nullptr, nullptr, &size),
             long(ERROR_INVALID_HANDLE));
    QCOMPARE(fileStore.setValue(0, QStringLiteral("T"), REG_SZ, "1"), long(ERROR_INVALID_HANDLE));
    QCOMPARE(fileStore.closeKey(77), long(ERROR_INVALID_HANDLE));
    Key key = 0;
    QCOMPARE(fileStore.createKey(HKEY_CURRENT_USER, QStringLiteral("K"), 0x3F, &key),
             long(ERROR_SUCCESS));
    QCOMPARE(fileStore.closeKey(key), long(ERROR_SUCCESS));
    QCOMPARE(fileStore.closeKey(key), long(ERROR_INVALID_HANDLE));
    QCOMPARE(fileStore.setValue(key, QStringLiteral("T"), REG_SZ, "1"), long(ERROR_INVALID_HANDLE));
    QCOMPARE(fileStore.openKey(Root(0x80000003u), QStringLiteral("K"), 0x3F, &key),
             long(ERROR_INVALID_HANDLE));
    QCOMPARE(fileStore.createKey(HKEY_CURRENT_USER, QStringLiteral("bad\nname"), 0x3F, &key),
             RegFileStore::ERROR_INVALID_PARAMETER);
}

void TestRegFileStore::readsSeeOtherWriters()
{
    RegFileStore first(m_path);
    RegFileStore second(m_path);
    Key mine = 0;
    QCOMPARE(first.createKey(HKEY_CURRENT_USER, settingsKeyPath(), 0x3F, &mine),
             long(ERROR_SUCCESS));
    Key theirs = 0;
    QCOMPARE(second.openKey(HKEY_CURRENT_USER, settingsKeyPath(), 0x3F, &theirs),
             long(ERROR_SUCCESS));
    QCOMPARE(first.setValue(mine, QStringLiteral("A"), REG_DWORD, dword(1)), long(ERROR_SUCCESS));
    QCOMPARE(second.setValue(theirs, QStringLiteral("B"), REG_DWORD, dword(2)),
             long(ERROR_SUCCESS));

    unsigned size = 0;
    QCOMPARE(first.queryValue(mine, QStringLiteral("B"), nullptr, nullptr, &size),
             long(ERROR_SUCCESS));
    QCOMPARE(second.queryValue(theirs, QStringLiteral("A"), nullptr, nullptr, &size),
             long(ERROR_SUCCESS));

    // An edit by hand is seen at the next read as well.
    writeAll(m_path, settingsFile("\"Timeout\"=dword:00000009\n"));
    QCOMPARE(IncludeDude::ReadKeyValue(first, HKEY_CURRENT_USER, settingsKeyPath(),
                                       QStringLiteral("Timeout")),
             QStringLiteral("9"));
    QCOMPARE(first.queryValue(mine, QStringLiteral("A"), nullptr, nullptr, &size),
             long(ERROR_FILE_NOT_FOUND));
}

void TestRegFileStore::corruptFile_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("no header") << QByteArray("[HKEY_CURRENT_USER\\Software]\n\"A\"=dword:1\n");
    QTest::newRow("other header") << QByteArray("Windows Registry Editor Version 5.00\n");
    QTest::newRow("stray line") << settingsFile("\"Timeout\"=dword:00000005\nrubbish\n");
    QTest::newRow("value before any section") << QByteArray("REGEDIT4\n\"A\"=dword:1\n");
    QTest::newRow("open section") << QByteArray("REGEDIT4\n[HKEY_CURRENT_USER\\Software\n");
    QTest::newRow("unclosed name") << settingsFile("\"Timeout=dword:00000005\n");
    QTest::newRow("no equals sign") << settingsFile("\"Timeout\" dword:00000005\n");
    QTest::newRow("binary junk") << QByteArray("\x00\x01\x02\xff\xfe", 5);
    QTest::newRow("blank line only") << QByteArray("\n");
    QTest::newRow("bytes continued into a header")
        << settingsFile("\"Timeout\"=hex:0a,\\\n[HKEY_CURRENT_USER\\Software\\Other]\n");
    QTest::newRow("larger than the bound") << settingsFile(
        "\"Timeout\"=dword:00000005\n;" + QByteArray(int(RegFileStore::kMaxFileSize), 'x') + "\n");
}

void TestRegFileStore::corruptFile()
{
    QFETCH(QByteArray, bytes);
    writeAll(m_path, bytes);
    RegFileStore fileStore(m_path);

    // Reading acts as an empty store and leaves the file alone.
    AppSettings settings;
    LoadSettings(settings, fileStore, settingsKeyPath());
    QCOMPARE(fields(settings), (QList<int>{1, 9600, 0, 7, 1, 1, 10}));
    Key key = 0;
    QCOMPARE(fileStore.openKey(HKEY_CURRENT_USER, QStringLiteral("Software"), 0x3F, &key),
             long(ERROR_FILE_NOT_FOUND));
    QCOMPARE(readAll(m_path), bytes);

    settings.Timeout = 3;
    SaveSettings(settings, fileStore, settingsKeyPath());
    const QDir dir(QFileInfo(m_path).absolutePath());
    const QStringList aside = dir.entryList({QStringLiteral("user.reg.corrupt-*")}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^user\\.reg\\.corrupt-\\d{8}-\\d{6}$"))
                 .match(aside.first())
                 .hasMatch(),
             qPrintable(aside.first()));
    QCOMPARE(readAll(dir.filePath(aside.first())), bytes);

    AppSettings loaded;
    LoadSettings(loaded, fileStore, settingsKeyPath());
    QCOMPARE(int(loaded.Timeout), 3);
    QCOMPARE(sectionLines(readAll(m_path), kSection).size(), 7);

    // A second corrupt file gets a name of its own.
    writeAll(m_path, bytes);
    SaveSettings(settings, fileStore, settingsKeyPath());
    QCOMPARE(dir.entryList({QStringLiteral("user.reg.corrupt-*")}, QDir::Files).size(), 2);
}

void TestRegFileStore::unchangedSaveLeavesFileAlone()
{
    RegFileStore fileStore(m_path);
    SaveSettings(AppSettings{}, fileStore, settingsKeyPath());
    struct stat before;
    QCOMPARE(::stat(QFile::encodeName(m_path).constData(), &before), 0);
    SaveSettings(AppSettings{}, fileStore, settingsKeyPath());
    QCOMPARE(IncludeDude::CreateKey(fileStore, HKEY_CURRENT_USER, settingsKeyPath()),
             long(ERROR_SUCCESS));
    struct stat after;
    QCOMPARE(::stat(QFile::encodeName(m_path).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);

    AppSettings changed;
    changed.Parity = 2;
    SaveSettings(changed, fileStore, settingsKeyPath());
    QCOMPARE(::stat(QFile::encodeName(m_path).constData(), &after), 0);
    QVERIFY(after.st_ino != before.st_ino); // replaced as a whole, never written in place
}

void TestRegFileStore::saveStaysWithinTheBound_data()
{
    QTest::addColumn<int>("past"); // bytes the save would take the file beyond the bound
    QTest::newRow("up to the bound") << 0;
    QTest::newRow("one byte past") << 1;
}

void TestRegFileStore::saveStaysWithinTheBound()
{
    QFETCH(int, past);
    const auto padded = [](qsizetype size) {
        const QByteArray start = settingsFile("\"Timeout\"=dword:00000005\n;");
        return start + QByteArray(size - start.size() - 1, 'x') + '\n';
    };
    AppSettings settings;
    settings.Timeout = 3;
    writeAll(m_path, padded(1000));
    RegFileStore probe(m_path);
    SaveSettings(settings, probe, settingsKeyPath());
    const qsizetype growth = readAll(m_path).size() - 1000;
    QVERIFY(growth > 0);

    const QByteArray before = padded(RegFileStore::kMaxFileSize - growth + past);
    writeAll(m_path, before);
    RegFileStore fileStore(m_path);
    const store::Failure failure = SaveSettings(settings, fileStore, settingsKeyPath());
    AppSettings loaded;
    LoadSettings(loaded, fileStore, settingsKeyPath());
    const QByteArray after = readAll(m_path);
    QCOMPARE(QDir(QFileInfo(m_path).absolutePath()).entryList(QDir::Files),
             (QStringList{QStringLiteral("user.reg"), QStringLiteral("user.reg.lock")}));
    if (past == 0) {
        QCOMPARE(int(failure.cause), int(store::Cause::None));
        QCOMPARE(after.size(), RegFileStore::kMaxFileSize);
        QCOMPARE(fields(loaded), fields(settings));
        return;
    }
    QCOMPARE(int(failure.cause), int(store::Cause::TooLarge));
    QCOMPARE(failure.file, m_path);
    QCOMPARE(after, before);
    QCOMPARE(int(loaded.Timeout), 5);
    // A single value too long for the room left is refused with a status of its own.
    QCOMPARE(IncludeDude::WriteKeyValue(fileStore, HKEY_CURRENT_USER, settingsKeyPath(),
                                        QStringLiteral("Name"),
                                        QVariant(QString(growth, QLatin1Char('y'))), REG_SZ),
             RegFileStore::ERROR_FILE_TOO_LARGE);
    QCOMPARE(readAll(m_path), before);
    LoadSettings(loaded, fileStore, settingsKeyPath());
    QCOMPARE(int(loaded.Timeout), 5);
}

void TestRegFileStore::onlyRegularFilesUsed_data()
{
    QTest::addColumn<QString>("target"); // of a link at user.reg; "" makes a FIFO there
    QTest::newRow("FIFO") << "";
    QTest::newRow("link to /dev/zero") << "/dev/zero";
    QTest::newRow("dangling link") << "nowhere";
    QTest::newRow("link to a regular file") << "elsewhere.reg";
}

void TestRegFileStore::onlyRegularFilesUsed()
{
    QFETCH(QString, target);
    const bool fifo = target.isEmpty();
    const bool regular = target.endsWith(QLatin1String(".reg"));
    if (!target.startsWith(QLatin1Char('/')))
        target = m_dir->filePath(target);
    if (regular)
        writeAll(target, settingsFile("\"Timeout\"=dword:00000005\n"));
    QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()));
    QVERIFY(fifo ? ::mkfifo(QFile::encodeName(m_path).constData(), 0600) == 0
                 : QFile::link(target, m_path));

    // A FIFO is never opened (it would block), and nothing is written through.
    RegFileStore fileStore(m_path);
    AppSettings settings;
    LoadSettings(settings, fileStore, settingsKeyPath());
    QCOMPARE(int(settings.Timeout), regular ? 5 : 10);
    settings.Timeout = 3;
    QCOMPARE(int(SaveSettings(settings, fileStore, settingsKeyPath()).cause),
             int(regular ? store::Cause::None : store::Cause::NotAFile));
    QCOMPARE(QFileInfo(m_path).isSymLink(), !fifo);
    QCOMPARE(QFileInfo(m_path).dir().entryList({QStringLiteral("user.reg*")},
                                               QDir::AllEntries | QDir::System),
             (QStringList{QStringLiteral("user.reg")} << QStringLiteral("user.reg.lock")));
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("nowhere"))));
    if (regular)
        QVERIFY(sectionLines(readAll(target), kSection).contains("\"Timeout\"=dword:00000003"));
}

void TestRegFileStore::readFailureNamesTheCause_data()
{
    QTest::addColumn<QString>("make"); // what stands at user.reg
    QTest::addColumn<int>("cause");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("timeout"); // what the read still gives the window

    const int none = int(store::Cause::None);
    QTest::newRow("no file: a fresh machine") << "none" << none << QString() << 10;
    QTest::newRow("a file that reads") << "good" << none << QString() << 5;
    QTest::newRow("1 MiB and one byte")
        << "large" << int(store::Cause::TooLarge)
        << "it is larger than 1 MiB, the most this program reads" << 10;
    QTest::newRow("garbage") << "garbage" << int(store::Cause::Unparsable)
                             << "it is not a settings file (text that begins with REGEDIT4)" << 10;
    QTest::newRow("a FIFO") << "fifo" << int(store::Cause::NotAFile)
                            << "it is a FIFO, not a regular file" << 10;
    QTest::newRow("a link to /dev/zero")
        << "zero" << int(store::Cause::NotAFile)
        << "it is a symbolic link to /dev/zero, a character device, not a regular file" << 10;
    QTest::newRow("a link to nowhere")
        << "dangling" << int(store::Cause::NotAFile)
        << "which cannot be reached (No such file or directory), not a regular file" << 10;
    QTest::newRow("writable by every user")
        << "0666" << int(store::Cause::Untrusted)
        << "every user may change it (mode 0666; chmod go-w mends that)" << 5;
    QTest::newRow("another user's") << "foreign" << int(store::Cause::Untrusted)
                                    << "it belongs to nobody (uid 65534), not to you" << 5;
}

// A file that is there but gives no settings, or a stranger's settings, is named with its
// cause; the values read stay what the window's design reads.
void TestRegFileStore::readFailureNamesTheCause()
{
    QFETCH(QString, make);
    QFETCH(int, cause);
    QFETCH(QString, reason);
    QFETCH(int, timeout);

    const QByteArray local = QFile::encodeName(m_path);
    const QByteArray good = settingsFile("\"Timeout\"=dword:00000005\n");
    QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()));
    if (make == QLatin1String("good") || make == QLatin1String("0666") ||
        make == QLatin1String("foreign"))
        writeAll(m_path, good);
    if (make == QLatin1String("large"))
        writeAll(m_path, good + ';' + QByteArray(int(RegFileStore::kMaxFileSize), 'x'));
    else if (make == QLatin1String("garbage"))
        writeAll(m_path, QByteArray("\x7f"
                                    "ELF\x02\x01",
                                    6));
    else if (make == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(local.constData(), 0600), 0);
    else if (make == QLatin1String("zero"))
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), m_path));
    else if (make == QLatin1String("dangling"))
        QVERIFY(QFile::link(QStringLiteral("nowhere"), m_path));
    else if (make == QLatin1String("0666"))
        QCOMPARE(::chmod(local.constData(), 0666), 0);
    else if (make == QLatin1String("foreign") && ::lchown(local.constData(), 65534, 65534) != 0)
        QSKIP("giving a file to another user takes root");

    RegFileStore fileStore(m_path);
    AppSettings settings;
    const store::Failure failure = LoadSettings(settings, fileStore, settingsKeyPath());
    QCOMPARE(int(failure.cause), cause);
    QCOMPARE(int(settings.Timeout), timeout);
    if (cause == int(store::Cause::None))
        return;
    QCOMPARE(failure.file, m_path);
    QVERIFY2(failure.reason.contains(reason), qPrintable(failure.reason));
    QVERIFY2(loadFailureText(failure).startsWith(QStringLiteral("the settings file %1 cannot be "
                                                                "used: ")
                                                     .arg(m_path)),
             qPrintable(loadFailureText(failure)));
}

void TestRegFileStore::settingsAreOneReadAndOneRewrite()
{
    RegFileStore fileStore(m_path);
    int rewrites = 0;
    fileStore.setBeforeCommit([&rewrites] { ++rewrites; });
    AppSettings settings;
    settings.Timeout = 30;
    // A lock file left empty by a program killed while taking it is taken over at once.
    writeAll(m_path + QStringLiteral(".lock"), QByteArray());
    fileStore.setLockTimeout(0);
    SaveSettings(settings, fileStore, settingsKeyPath());
    QCOMPARE(rewrites, 1);
    const int reads = fileStore.fileReads();
    AppSettings loaded;
    LoadSettings(loaded, fileStore, settingsKeyPath());
    QCOMPARE(fields(loaded), fields(settings));
    QCOMPARE(fileStore.fileReads(), reads + 1);

    // A lock that is held fails the whole save, and the file stays as it was.
    QProcess holder;
    QVERIFY(startHolding(holder, QStringLiteral("Held")));
    const QByteArray before = readAll(m_path);
    settings.BaudRate = 1200;
    QCOMPARE(int(SaveSettings(settings, fileStore, settingsKeyPath()).cause),
             int(store::Cause::Locked));
    QCOMPARE(readAll(m_path), before);
    holder.write("go\n");
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(60000));
    SaveSettings(settings, fileStore, settingsKeyPath());
    const QList<QByteArray> lines = sectionLines(readAll(m_path), kSection);
    QVERIFY(lines.contains("\"BaudRate\"=dword:000004b0"));
    QVERIFY(lines.contains("\"Held\"=dword:00000001"));
}

void TestRegFileStore::noHomeMeansNoStore_data()
{
    QTest::addColumn<QByteArray>("xdg"); // "-": unset
    QTest::addColumn<QByteArray>("home");
    QTest::addColumn<QString>("directory");
    QTest::newRow("XDG_CONFIG_HOME")
        << QByteArray("/x/") << QByteArray("/h") << "/x/quorvex-tarnavel";
    QTest::newRow("relative XDG_CONFIG_HOME")
        << QByteArray("x") << QByteArray("/h") << "/h/.config/quorvex-tarnavel";
    QTest::newRow("no home") << QByteArray("-") << QByteArray("-") << "";
    QTest::newRow("relative HOME") << QByteArray("") << QByteArray("h") << "";
}

void TestRegFileStore::noHomeMeansNoStore()
{
    QFETCH(QByteArray, xdg);
    QFETCH(QByteArray, home);
    QFETCH(QString, directory);
    const QByteArray saved[] = {qgetenv("XDG_CONFIG_HOME"), qgetenv("HOME")};
    const auto set = [](const char* name, const QByteArray& value) {
        value == "-" ? qunsetenv(name) : qputenv(name, value);
    };
    set("XDG_CONFIG_HOME", xdg);
    set("HOME", home);
    const QStringList paths = {configDirectory(), portsDirectory(), userStorePath()};
    QtSerialPort port;
    port.setCommPort(3);
    ReaderModel model;
    SimServer server(model);
    QString error;
    const bool linked = directory.isEmpty() && server.open(&error) && server.linkAsCom(3, &error);
    const QString device = port.devicePath();
    set("XDG_CONFIG_HOME", saved[0].isEmpty() ? QByteArray("-") : saved[0]);
    set("HOME", saved[1]);

    const QStringList expected = {directory, directory + QStringLiteral("/ports"),
                                  directory + QStringLiteral("/user.reg")};
    QCOMPARE(paths, directory.isEmpty() ? QStringList(3, QString()) : expected);
    if (!directory.isEmpty())
        return;
    QCOMPARE(device, QStringLiteral("/dev/ttyS2"));
    QVERIFY2(!linked && error.contains(QLatin1String("HOME")), qPrintable(error));
    RegFileStore fileStore(paths.at(2));
    const store::Failure failure = SaveSettings(AppSettings{}, fileStore, settingsKeyPath());
    QCOMPARE(int(failure.cause), int(store::Cause::NoFile));
    QCOMPARE(failure.file, QString());
    QVERIFY(IncludeDude::CreateKey(fileStore, HKEY_CURRENT_USER, settingsKeyPath()) !=
            ERROR_SUCCESS);
    AppSettings loaded;
    loaded.Timeout = 3;
    LoadSettings(loaded, fileStore, settingsKeyPath());
    QCOMPARE(int(loaded.Timeout), 3);
}

void TestRegFileStore::fileAndDirectoryArePrivate()
{
    const QString directory = QFileInfo(m_path).absolutePath();
    RegFileStore fileStore(m_path);
    SaveSettings(AppSettings{}, fileStore, settingsKeyPath());
    QCOMPARE(mode(m_path), 0600);
    QCOMPARE(mode(directory), 0700);
    QCOMPARE(mode(QFileInfo(directory).absolutePath()), 0700); // every level made here

    // So is the store's folder when it was there before.
    QVERIFY(::chmod(QFile::encodeName(directory).constData(), 0755) == 0);
    SaveSettings(AppSettings{}, fileStore, settingsKeyPath());
    QCOMPARE(mode(directory), 0700);

    // A file left readable by others is tightened by the next save.
    QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0644) == 0);
    AppSettings changed;
    changed.Timeout = 1;
    SaveSettings(changed, fileStore, settingsKeyPath());
    QCOMPARE(mode(m_path), 0600);
}

void TestRegFileStore::folderModeLeftAsItIs_data()
{
    QTest::addColumn<QString>("why");
    QTest::newRow("a file system with fixed modes") << "chmod refused";
    QTest::newRow("a link to a folder of dotfiles") << "link";
}

// A folder of the user's own whose mode cannot or must not be changed still takes the save.
void TestRegFileStore::folderModeLeftAsItIs()
{
    QFETCH(QString, why);
    const QString directory = QFileInfo(m_path).absolutePath();
    const QString real = why == QLatin1String("link") ? m_dir->filePath("dotfiles") : directory;
    QVERIFY(QDir().mkpath(real) && QDir().mkpath(QFileInfo(directory).absolutePath()));
    QVERIFY(real == directory || QFile::link(real, directory));
    QVERIFY(::chmod(QFile::encodeName(real).constData(), 0755) == 0);
    const fsutil::ScopedFaults fixedModes([&](fsutil::Step step, const QByteArray&) {
        return why == QLatin1String("chmod refused") && step == fsutil::Step::Chmod ? EPERM : 0;
    });
    RegFileStore fileStore(m_path);
    AppSettings settings;
    settings.Timeout = 3;
    SaveSettings(settings, fileStore, settingsKeyPath());
    QCOMPARE(fileStore.lastFailure().cause, store::Cause::None);
    AppSettings loaded;
    LoadSettings(loaded, fileStore, settingsKeyPath());
    QCOMPARE(loaded.Timeout, 3);
    QCOMPARE(mode(real), 0755);
}

bool TestRegFileStore::startHolding(QProcess& child, const QString& name)
{
    child.setProgram(childProgram());
    child.setArguments({QStringLiteral("--store-child"), QStringLiteral("hold"), m_path, name});
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start();
    if (!child.waitForStarted())
        return false;
    while (!child.canReadLine()) {
        if (!child.waitForReadyRead(60000))
            return false;
    }
    return child.readLine() == "holding\n";
}

void TestRegFileStore::interruptedSaveLeavesOldFile()
{
    RegFileStore fileStore(m_path);
    AppSettings settings;
    settings.Timeout = 4;
    SaveSettings(settings, fileStore, settingsKeyPath());
    const QByteArray before = readAll(m_path);

    QProcess child;
    QVERIFY(startHolding(child, QStringLiteral("Interrupted")));
    // The child is inside its save: new contents written out, lock held, file not replaced.
    QCOMPARE(readAll(m_path), before);
    child.kill();
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(readAll(m_path), before);
    const QDir dir(QFileInfo(m_path).absolutePath());
    const QStringList leftover = {QStringLiteral("user.reg.saving-*")};
    QCOMPARE(dir.entryList(leftover, QDir::Files).size(), 1);
    writeAll(m_path + QStringLiteral(".backup"), before); // the user's own, never removed

    // The dead program's lock does not block the next save, which removes its leftovers.
    AppSettings loaded;
    LoadSettings(loaded, fileStore, settingsKeyPath());
    QCOMPARE(int(loaded.Timeout), 4);
    fileStore.setLockTimeout(0);
    QCOMPARE(IncludeDude::WriteKeyValue(fileStore, HKEY_CURRENT_USER, settingsKeyPath(),
                                        QStringLiteral("Timeout"), QVariant(6), REG_DWORD),
             long(ERROR_SUCCESS));
    const QByteArray after = readAll(m_path);
    QVERIFY(after.contains("\"Timeout\"=dword:00000006"));
    QVERIFY(!after.contains("Interrupted"));
    QCOMPARE(dir.entryList(leftover, QDir::Files), QStringList());
    QCOMPARE(readAll(m_path + QStringLiteral(".backup")), before);
}

void TestRegFileStore::lockKeepsOtherWritersOut()
{
    RegFileStore fileStore(m_path);
    QCOMPARE(IncludeDude::CreateKey(fileStore, HKEY_CURRENT_USER, settingsKeyPath()),
             long(ERROR_SUCCESS));

    QProcess holder;
    QVERIFY(startHolding(holder, QStringLiteral("First")));

    // While one save is under way another program's save cannot start ...
    QProcess other;
    other.setProcessChannelMode(QProcess::ForwardedChannels);
    other.start(childProgram(), {QStringLiteral("--store-child"), QStringLiteral("try"), m_path,
                                 QStringLiteral("Second")});
    QVERIFY(other.waitForFinished(60000));
    QCOMPARE(other.exitCode(), 2);
    // ... nor can this one's.
    fileStore.setLockTimeout(0);
    QCOMPARE(IncludeDude::WriteKeyValue(fileStore, HKEY_CURRENT_USER, settingsKeyPath(),
                                        QStringLiteral("Third"), QVariant(3), REG_DWORD),
             RegFileStore::ERROR_LOCK_VIOLATION);

    holder.write("go\n");
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(60000));
    QCOMPARE(holder.exitStatus(), QProcess::NormalExit);
    QCOMPARE(holder.exitCode(), 0);

    other.start(childProgram(), {QStringLiteral("--store-child"), QStringLiteral("try"), m_path,
                                 QStringLiteral("Second")});
    QVERIFY(other.waitForFinished(60000));
    QCOMPARE(other.exitCode(), 0);
    const QList<QByteArray> lines = sectionLines(readAll(m_path), kSection);
    QVERIFY(lines.contains("\"First\"=dword:00000001"));
    QVERIFY(lines.contains("\"Second\"=dword:00000001"));
}

void TestRegFileStore::concurrentSavesKeepBothValues()
{
    const int count = 40;
    QProcess a;
    QProcess b;
    for (QProcess* child : {&a, &b}) {
        child->setProcessChannelMode(QProcess::ForwardedChannels);
        child->start(childProgram(),
                     {QStringLiteral("--store-child"), QStringLiteral("write"), m_path,
                      child == &a ? QStringLiteral("A") : QStringLiteral("B"),
                      QString::number(count)});
    }
    for (QProcess* child : {&a, &b}) {
        QVERIFY(child->waitForFinished(120000));
        QCOMPARE(child->exitStatus(), QProcess::NormalExit);
        QCOMPARE(child->exitCode(), 0);
    }

    RegFileStore fileStore(m_path);
    Key key = 0;
    QCOMPARE(fileStore.openKey(HKEY_CURRENT_USER, settingsKeyPath(), 0x3F, &key),
             long(ERROR_SUCCESS));
    for (const QString& prefix : {QStringLiteral("A"), QStringLiteral("B")}) {
        for (int i = 0; i < count; ++i) {
            QVariant value;
            QCOMPARE(IncludeDude::ReadValue(fileStore, key, prefix + QString::number(i), &value),
                     long(ERROR_SUCCESS));
            QCOMPARE(value, QVariant(qint32(i)));
        }
    }
    fileStore.closeKey(key);
    const QByteArray text = readAll(m_path);
    QCOMPARE(text.count(kSection), 1);
    QCOMPARE(sectionLines(text, kSection).size(), 2 * count);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--store-child") == 0)
        return runChild(app.arguments().mid(2));
    TestRegFileStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_regfilestore.moc"
