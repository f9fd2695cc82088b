// Private folders, links replaced in one step, and names made safe for a terminal.

#include "platform/fsutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class TestFsUtil : public QObject
{
    Q_OBJECT
private slots:
    void printable_data();
    void printable();
    void privateFolders_data();
    void privateFolders();
    void replaceSymlink();
};

void TestFsUtil::printable_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << "/dev/ttyUSB0"
                           << "/dev/ttyUSB0";
    QTest::newRow("escape sequence") << "/dev/\x1b[2J\x1b]0;x\x07"
                                     << "/dev/\\033[2J\\033]0;x\\007";
    QTest::newRow("newline, DEL") << "a\nb\x7f"
                                  << "a\\012b\\177";
    QTest::newRow("C1 CSI") << QStringLiteral("a\u009b2J") << "a\\2332J";
    QTest::newRow("bidi override") << QStringLiteral("x\u202egnp.exe") << "x\\u202egnp.exe";
    QTest::newRow("backslash") << "a\\033"
                               << "a\\\\033";
    QTest::newRow("accents stay") << QStringLiteral("café") << QStringLiteral("café");
}

void TestFsUtil::printable()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(fsutil::printable(text), shown);
}

void TestFsUtil::privateFolders_data()
{
    QTest::addColumn<QString>("before"); // what stands at the folder's place
    QTest::addColumn<bool>("made");
    QTest::newRow("missing, with its parents") << "" << true;
    QTest::newRow("open to all, the user's") << "folder 0777" << true;
    QTest::newRow("another user's") << "foreign" << false;
    QTest::newRow("a file") << "file" << false;
}

void TestFsUtil::privateFolders()
{
    QFETCH(QString, before);
    QFETCH(bool, made);
    if (before == QLatin1String("foreign") && ::geteuid() != 0)
        QSKIP("giving a folder to another user needs root");
    QTemporaryDir home;
    const QString path = home.filePath(QStringLiteral("a/b/quorvex-tarnavel"));
    if (!before.isEmpty())
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    if (before.startsWith(QLatin1String("folder")) || before == QLatin1String("foreign"))
        QVERIFY(QDir().mkdir(path) && ::chmod(QFile::encodeName(path).constData(), 0777) == 0);
    if (before == QLatin1String("foreign"))
        QVERIFY(::chown(QFile::encodeName(path).constData(), 4321, 4321) == 0);
    if (before == QLatin1String("file"))
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    QString error;
    QCOMPARE(fsutil::makePrivateFolder(path, &error), made);
    QCOMPARE(error.isEmpty(), made);
    if (!made) {
        QVERIFY2(error.contains(path), qPrintable(error));
        return;
    }
    const QList<QString> folders =
        before.isEmpty() ? QList<QString>{home.filePath("a"), home.filePath("a/b"), path}
                         : QList<QString>{path};
    for (const QString& folder : folders)
        QCOMPARE(QFileInfo(folder).permissions() & 0x0777,
                 QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
}

void TestFsUtil::replaceSymlink()
{
    QTemporaryDir home;
    const fsutil::Fd folder(::open(QFile::encodeName(home.path()).constData(), O_RDONLY));
    QString error;
    for (const QString& target : {QStringLiteral("/dev/one"), QStringLiteral("/dev/two")})
        QVERIFY2(fsutil::replaceSymlinkAt(folder.get(), "com1", target, "com1", &error),
                 qPrintable(error));
    QCOMPARE(fsutil::readLink(home.filePath("com1")), QStringLiteral("/dev/two"));
    QVERIFY(QFile(home.filePath("com2")).open(QIODevice::WriteOnly));
    QVERIFY(!fsutil::replaceSymlinkAt(folder.get(), "com2", "/dev/one", "com2", &error));
    QVERIFY(fsutil::readLink(home.filePath("com2")).isEmpty());
    QCOMPARE(QDir(home.path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList({"com1", "com2"}));
}

QTEST_GUILESS_MAIN(TestFsUtil)
#include "test_fsutil.moc"
