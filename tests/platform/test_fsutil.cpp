// Private folders, and names made safe for a terminal.

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
    const QByteArray local = QFile::encodeName(path);
    if (!before.isEmpty())
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    if (before == QLatin1String("file"))
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    else if (!before.isEmpty())
        QVERIFY(QDir().mkdir(path) && ::chmod(local.constData(), 0777) == 0 &&
                (before != QLatin1String("foreign") || ::chown(local.constData(), 4321, 0) == 0));
    QString error;
    QCOMPARE(fsutil::makePrivateFolder(path, &error), made);
    QVERIFY2(made ? error.isEmpty() : error.contains(path), qPrintable(error));
    // Every folder made or kept is private; the parents of one that was there are not touched.
    for (const QString& folder : {home.filePath("a"), home.filePath("a/b"), path}) {
        if (made && (before.isEmpty() || folder == path))
            QCOMPARE(QFileInfo(folder).permissions() & 0x0777,
                     QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
    }
}

QTEST_GUILESS_MAIN(TestFsUtil)
#include "test_fsutil.moc"
