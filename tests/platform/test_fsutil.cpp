// Private folders, and names made safe for a terminal.

#include "platform/fsutil.h"
#include "platform/pathwalk.h"
#include "support/fakeaccounts.h"

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
    void groupWrite_data();
    void groupWrite();
    void pathWalk_data();
    void pathWalk();
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

void TestFsUtil::groupWrite_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<uint>>("primary"); // whose primary group the folder's group is
    QTest::addColumn<QStringList>("listed");  // members named in the group file
    QTest::addColumn<QString>("refusal");     // empty: trusted
    const uint me = ::geteuid();
    QTest::newRow("0755") << 0755 << QList<uint>{me} << QStringList() << "";
    QTest::newRow("umask 002, private group") << 0775 << QList<uint>{me} << QStringList() << "";
    QTest::newRow("private group, listed too")
        << 0775 << QList<uint>{me} << QStringList{"me"} << "";
    QTest::newRow("a member besides")
        << 0775 << QList<uint>{me} << QStringList{"bob"} << "which bob belong(s) to as well";
    QTest::newRow("another user's primary group")
        << 0775 << QList<uint>{me, 4321} << QStringList() << "which bob belong(s) to as well";
    QTest::newRow("a group nobody is in")
        << 0775 << QList<uint>() << QStringList() << "which is not your own private group";
    QTest::newRow("unknown group")
        << 0775 << QList<uint>{me} << QStringList{"?"} << "which is not your own private group";
    QTest::newRow("writable by others, private group")
        << 0777 << QList<uint>{me} << QStringList() << "can be changed by group or others";
}

// Group write is harmless only where the group is the user's alone, both ways of being in it.
void TestFsUtil::groupWrite()
{
    QFETCH(int, mode);
    QFETCH(QList<uint>, primary);
    QFETCH(QStringList, listed);
    QFETCH(QString, refusal);
    FakeAccounts accounts;
    accounts.user(::geteuid(), QStringLiteral("me")).user(4321, QStringLiteral("bob"));
    if (listed != QStringList{QStringLiteral("?")})
        accounts.group(100, QList<uid_t>(primary.begin(), primary.end()), listed);
    struct stat st {
    };
    st.st_mode = S_IFDIR | mode_t(mode);
    st.st_uid = ::geteuid();
    st.st_gid = 100;
    const QString reason = fsutil::untrustedReason(st, QStringLiteral("/home/me/.config"));
    QVERIFY2(refusal.isEmpty() ? reason.isEmpty() : reason.contains(refusal), qPrintable(reason));
    QVERIFY(reason.isEmpty() ||
            reason.contains(QLatin1String("Fix: chmod 700 '/home/me/.config'")));
}

void TestFsUtil::pathWalk_data()
{
    QTest::addColumn<QString>("setup");   // what is done to the tree a/b/c below the test folder
    QTest::addColumn<QString>("refusal"); // empty: walked to c; "missing": reported missing
    QTest::addColumn<bool>("throughLink");
    QTest::newRow("private all the way") << ""
                                         << "" << false;
    QTest::newRow("a folder on the way writable by all") << "chmod 777 a"
                                                         << "a can be changed" << false;
    QTest::newRow("the folder itself writable by all: its caller judges it") << "chmod 777 c"
                                                                             << "" << false;
    QTest::newRow("sticky, writable by all, its entry the user's") << "chmod 1777 a"
                                                                   << "" << false;
    QTest::newRow("sticky, its entry another user's")
        << "chmod 1777 a, chown b"
        << "(mode 1777); in it only what is yours or root's is safe" << false;
    QTest::newRow("a link on the way to a private folder") << "link b"
                                                           << "" << true;
    QTest::newRow("a link of another user") << "link b, chown link"
                                            << "belongs to uid 4321" << false;
    QTest::newRow("a link into a folder others may change") << "link b, chmod 777 elsewhere"
                                                            << "elsewhere can be changed" << false;
    QTest::newRow("missing on the way") << "rm c"
                                        << "missing" << false;
}

// Every folder on the way is judged as what leads to the next; links on the way are followed
// only where their owner and the folders to their target are trusted.
void TestFsUtil::pathWalk()
{
    QFETCH(QString, setup);
    QFETCH(QString, refusal);
    QFETCH(bool, throughLink);
    if (setup.contains(QLatin1String("chown")) && ::geteuid() != 0)
        QSKIP("giving a file to another user needs root");
    QTemporaryDir home;
    const QString target = home.filePath(QStringLiteral("a/b/c"));
    QVERIFY(QDir().mkpath(target) && QDir().mkpath(home.filePath(QStringLiteral("elsewhere/c"))));
    const auto path = [&](const QString& name) { return QFile::encodeName(home.filePath(name)); };
    for (const QString& step : setup.split(QStringLiteral(", "), Qt::SkipEmptyParts)) {
        const QString name = step.section(QLatin1Char(' '), -1);
        const QString what = step.section(QLatin1Char(' '), 0, -2);
        if (what.startsWith(QLatin1String("chmod")))
            QVERIFY(
                ::chmod(
                    path(name == QLatin1String("c") ? QStringLiteral("a/b/c") : name).constData(),
                    what.mid(6).toUInt(nullptr, 8)) == 0);
        else if (what == QLatin1String("chown")) // b, or the link standing as b
            QVERIFY(::lchown(path(QStringLiteral("a/b")).constData(), 4321, 4321) == 0);
        else if (what == QLatin1String("rm"))
            QVERIFY(QDir(target).removeRecursively());
        else if (what == QLatin1String("link"))
            QVERIFY(QDir(home.filePath(QStringLiteral("a/b"))).removeRecursively() &&
                    QFile::link(home.filePath(QStringLiteral("elsewhere")),
                                home.filePath(QStringLiteral("a/b"))));
    }
    const pathwalk::Folder folder = pathwalk::open(target, {});
    if (refusal == QLatin1String("missing")) {
        QVERIFY(folder.missing && !folder.isOpen());
        return;
    }
    QVERIFY2(refusal.isEmpty() ? folder.isOpen() : folder.error.contains(refusal),
             qPrintable(folder.error));
    QCOMPARE(folder.isOpen(), refusal.isEmpty());
    QCOMPARE(folder.throughLink, throughLink);
    if (folder.isOpen())
        QCOMPARE(QFileInfo(folder.path).canonicalFilePath(), QFileInfo(target).canonicalFilePath());
}

QTEST_GUILESS_MAIN(TestFsUtil)
#include "test_fsutil.moc"
