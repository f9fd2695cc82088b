#include "config/appsettings.h"
#include "platform/apperror.h"
#include "platform/regfilestore.h"
#include "shell/sysinfo.h"
#include "support/recordingshell.h"
#include "support/scriptedmessagebox.h"

#include <QMap>
#include <QTemporaryDir>
#include <QTest>

namespace {
// The machine part of a registry: a few keys with raw values, counting opens and closes.
class MachineStore : public ISettingsStore
{
public:
    struct Value {
        int type;
        QByteArray data;
    };

    QMap<QString, QMap<QString, Value>> keys;
    int opens = 0;
    int closes = 0;
    QList<store::Root> roots;
    QList<unsigned> accessMasks;
    bool throwOnOpen = false;

    long openKey(store::Root root, const QString& path, unsigned access, store::Key* key) override
    {
        roots.append(root);
        accessMasks.append(access);
        if (throwOnOpen)
            throw AppError(5, QStringLiteral("store broke"));
        const auto found = keys.constFind(path);
        if (root != store::HKEY_LOCAL_MACHINE || found == keys.constEnd())
            return store::ERROR_FILE_NOT_FOUND;
        ++opens;
        m_open.insert(m_next, path);
        *key = m_next++;
        return store::ERROR_SUCCESS;
    }
    long createKey(store::Root, const QString&, unsigned, store::Key*) override
    {
        return store::ERROR_ACCESS_DENIED;
    }
    long queryValue(store::Key key, const QString& name, int* type, QByteArray* data,
                    unsigned* size) override
    {
        if (!m_open.contains(key))
            return store::ERROR_INVALID_HANDLE;
        const QMap<QString, Value>& values = keys[m_open.value(key)];
        const auto found = values.constFind(name);
        if (found == values.constEnd())
            return store::ERROR_FILE_NOT_FOUND;
        *type = found->type;
        const unsigned needed = unsigned(found->data.size());
        const bool fits = needed <= *size;
        *size = needed;
        if (!fits)
            return store::ERROR_MORE_DATA;
        if (data) {
            if (data->size() < found->data.size())
                data->resize(found->data.size());
            std::copy(found->data.begin(), found->data.end(), data->begin());
        }
        return store::ERROR_SUCCESS;
    }
    long setValue(store::Key, const QString&, int, const QByteArray&) override
    {
        return store::ERROR_ACCESS_DENIED;
    }
    long closeKey(store::Key key) override
    {
        ++closes;
        m_open.remove(key);
        return store::ERROR_SUCCESS;
    }

private:
    QMap<store::Key, QString> m_open;
    store::Key m_next = 1;
};

const QString kKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kLocationKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");

QByteArray dword(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xFF);
    return bytes;
}
} // namespace

class TestSysInfo : public QObject
{
    Q_OBJECT
private slots:
    void getKeyValue_data();
    void getKeyValue();
    void getKeyValueAsksForTheMachineRootWithFullAccess();
    void startSysInfo_data();
    void startSysInfo();
    void unavailableMessage();
    void fileStoreHasNoMachineRoot();
};

void TestSysInfo::getKeyValue_data()
{
    QTest::addColumn<bool>("haveKey");
    QTest::addColumn<bool>("haveValue");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("after");

    const QString old = QStringLiteral("old text");
    QTest::newRow("text stored with NUL") << true << true << 1 << QByteArray("C:\\Tools\0", 9)
                                          << old << true << QStringLiteral("C:\\Tools");
    QTest::newRow("text without NUL kept whole") << true << true << 1 << QByteArray("C:\\Tools")
                                                 << old << true << QStringLiteral("C:\\Tools");
    QTest::newRow("only a NUL") << true << true << 1 << QByteArray(1, '\0') << old << true
                                << QString();
    QTest::newRow("empty text") << true << true << 1 << QByteArray() << old << true << QString();
    QTest::newRow("number 261") << true << true << 4 << dword(261) << old << true
                                << QStringLiteral("&h000105");
    QTest::newRow("number with every byte")
        << true << true << 4 << dword(0x1A2B3C4D) << old << true << QStringLiteral("&h1A2B3C4D");
    QTest::newRow("number with low zero byte")
        << true << true << 4 << dword(0x01000000) << old << true << QStringLiteral("&h01000000");
    QTest::newRow("other type leaves the text")
        << true << true << 3 << QByteArray("\x01\x02", 2) << old << true << old;
    QTest::newRow("1024 bytes are read") << true << true << 1 << (QByteArray(1023, 'a') + '\0')
                                         << old << true << QString(1023, QLatin1Char('a'));
    QTest::newRow("1025 bytes are unreadable")
        << true << true << 1 << (QByteArray(1024, 'a') + '\0') << old << false << QString();
    QTest::newRow("value missing")
        << true << false << 1 << QByteArray() << old << false << QString();
    QTest::newRow("key missing") << false << false << 1 << QByteArray() << old << false
                                 << QString();
}

void TestSysInfo::getKeyValue()
{
    QFETCH(bool, haveKey);
    QFETCH(bool, haveValue);
    QFETCH(int, type);
    QFETCH(QByteArray, data);
    QFETCH(QString, before);
    QFETCH(bool, found);
    QFETCH(QString, after);

    MachineStore machine;
    if (haveKey)
        machine.keys[kKey];
    if (haveValue)
        machine.keys[kKey].insert(QStringLiteral("PATH"), {type, data});

    QString value = before;
    QCOMPARE(GetKeyValue(machine, store::HKEY_LOCAL_MACHINE, kKey, QStringLiteral("PATH"), value),
             found);
    QCOMPARE(value, after);
    QCOMPARE(machine.opens, haveKey ? 1 : 0);
    // Once opened, the key is closed on every path.
    QCOMPARE(machine.closes, machine.opens);
}

void TestSysInfo::getKeyValueAsksForTheMachineRootWithFullAccess()
{
    MachineStore machine;
    RecordingShell shell;
    ScriptedMessageBox messages;
    messages.answer(mb::IDOK);
    StartSysInfo(machine, shell, messages);
    QCOMPARE(machine.roots,
             QList<store::Root>({store::HKEY_LOCAL_MACHINE, store::HKEY_LOCAL_MACHINE}));
    QCOMPARE(machine.accessMasks, QList<unsigned>({0x2003Fu, 0x2003Fu}));
}

void TestSysInfo::startSysInfo_data()
{
    QTest::addColumn<QString>("msinfoPath");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QStringList>("existingFiles");
    QTest::addColumn<QStringList>("onPath");
    QTest::addColumn<bool>("startWorks");
    QTest::addColumn<bool>("storeThrows");
    QTest::addColumn<QString>("started");
    QTest::addColumn<bool>("searched");

    const QString msinfo = QStringLiteral("C:\\Program Files\\MSINFO\\MSINFO32.EXE");
    const QString folder = QStringLiteral("C:\\Shared\\MSINFO");
    const QString inFolder = folder + QStringLiteral("\\MSINFO32.EXE");

    QTest::newRow("first entry") << msinfo << folder << QStringList() << QStringList() << true
                                 << false << msinfo << false;
    QTest::newRow("second entry, file there")
        << QString() << folder << QStringList{inFolder} << QStringList() << true << false
        << inFolder << false;
    QTest::newRow("second entry, file missing")
        << QString() << folder << QStringList() << QStringList{QStringLiteral("hardinfo")} << true
        << false << QString() << false;
    QTest::newRow("no entries, first program on PATH")
        << QString() << QString() << QStringList()
        << QStringList{QStringLiteral("gnome-system-monitor"), QStringLiteral("kinfocenter")}
        << true << false << QStringLiteral("/usr/bin/kinfocenter") << true;
    QTest::newRow("no entries, hardinfo on PATH")
        << QString() << QString() << QStringList() << QStringList{QStringLiteral("hardinfo")}
        << true << false << QStringLiteral("/usr/bin/hardinfo") << true;
    QTest::newRow("no entries, nothing on PATH")
        << QString() << QString() << QStringList() << QStringList() << true << false << QString()
        << true;
    QTest::newRow("program does not start") << msinfo << QString() << QStringList() << QStringList()
                                            << false << false << msinfo << false;
    QTest::newRow("store throws") << msinfo << QString() << QStringList() << QStringList() << true
                                  << true << QString() << false;
}

void TestSysInfo::startSysInfo()
{
    QFETCH(QString, msinfoPath);
    QFETCH(QString, location);
    QFETCH(QStringList, existingFiles);
    QFETCH(QStringList, onPath);
    QFETCH(bool, startWorks);
    QFETCH(bool, storeThrows);
    QFETCH(QString, started);
    QFETCH(bool, searched);

    MachineStore machine;
    machine.throwOnOpen = storeThrows;
    if (!msinfoPath.isEmpty())
        machine.keys[kKey].insert(QStringLiteral("PATH"),
                                  {store::REG_SZ, msinfoPath.toLatin1() + '\0'});
    if (!location.isEmpty())
        machine.keys[kLocationKey].insert(QStringLiteral("MSINFO"),
                                          {store::REG_SZ, location.toLatin1() + '\0'});
    RecordingShell shell;
    for (const QString& file : existingFiles)
        shell.existingFiles.insert(file);
    for (const QString& name : onPath)
        shell.programsOnPath.insert(name, QStringLiteral("/usr/bin/") + name);
    shell.startProgramResult = startWorks;

    const bool expectMessage = started.isEmpty() || !startWorks;
    ScriptedMessageBox messages;
    if (expectMessage)
        messages.answer(mb::IDOK);

    StartSysInfo(machine, shell, messages);

    QCOMPARE(shell.started.size(), started.isEmpty() ? 0 : 1);
    if (!started.isEmpty()) {
        QCOMPARE(shell.started.first().path, started);
        QVERIFY(shell.started.first().args.isEmpty());
    }
    QCOMPARE(messages.shown.size(), expectMessage ? 1 : 0);
    QCOMPARE(shell.searches.size(), searched ? 1 : 0);
    if (searched)
        QCOMPARE(shell.searches.first(), systemInfoPrograms());
    QCOMPARE(machine.closes, machine.opens);
    QVERIFY(shell.openedUrls.isEmpty());
}

void TestSysInfo::unavailableMessage()
{
    MachineStore machine;
    RecordingShell shell;
    ScriptedMessageBox messages;
    messages.answer(mb::IDOK);
    StartSysInfo(machine, shell, messages);
    QCOMPARE(messages.shown.size(), 1);
    const ScriptedMessageBox::Box& box = messages.shown.first();
    QCOMPARE(box.text, QStringLiteral("System Information Is Unavailable At This Time"));
    QCOMPARE(box.title, QStringLiteral("Quorvex Tarnavel"));
    QCOMPARE(box.buttons, mb::OK);
    QCOMPARE(box.icon, mb::NoIcon);
    const QStringList names = systemInfoPrograms();
    QCOMPARE(names.mid(0, 1), QStringList{QStringLiteral("hardinfo")});
    QVERIFY(names.contains(QStringLiteral("kinfocenter")));
    QVERIFY(names.contains(QStringLiteral("gnome-system-monitor")));
}

void TestSysInfo::fileStoreHasNoMachineRoot()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    RegFileStore fileStore(dir.filePath(QStringLiteral("user.reg")));
    RecordingShell shell;
    shell.programsOnPath.insert(QStringLiteral("hardinfo"), QStringLiteral("/usr/bin/hardinfo"));
    ScriptedMessageBox messages;
    StartSysInfo(fileStore, shell, messages);
    QCOMPARE(shell.started.size(), 1);
    QCOMPARE(shell.started.first().path, QStringLiteral("/usr/bin/hardinfo"));
    QVERIFY(messages.shown.isEmpty());
}

QTEST_GUILESS_MAIN(TestSysInfo)
#include "test_sysinfo.moc"
