#include "config/udevrule.h"

#include "config/ports.h"
#include "platform/fsutil.h"
#include "platform/portholders.h"
#include "platform/serialidentity.h"
#include "platform/systemtree.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using fsutil::printable;

// How long udevadm may take for one step, and the wait for the stable name after it.
constexpr int kUdevadmMs = 30000;

bool isHexId(const QString& id)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]{4}$"));
    return hex.match(id).hasMatch();
}

// Characters a rule can match as they are: no glob (* ? [ ] |), no quote, no backslash, no
// blank that a copy and paste could lose.
bool matchesExactly(const QString& text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._+:=-]+$"));
    return plain.match(text).hasMatch();
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Writes the rule beside its final name and renames it into place: udev never reads half a
// file. Only a regular file of that name is ever replaced.
bool writeRule(const SystemTree& tree, const UdevRule& rule, QString* error)
{
    const QString folder = QString::fromLatin1(kUdevRulesFolder);
    const QString shown = folder + QLatin1Char('/') + rule.fileName();
    const fsutil::Fd dir(::open(QFile::encodeName(tree.hostPath(folder)).constData(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {
    };
    if (!dir.isValid() || ::fstat(dir.get(), &st) != 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(folder, fsutil::errorText(errno));
        return false;
    }
    // A prepared tree's folders belong to whoever made it.
    if ((tree.isLive() && st.st_uid != 0) || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        *error = QStringLiteral("%1 belongs to another user than root or can be changed by "
                                "others (mode %2): not writing a rule there")
                     .arg(folder)
                     .arg(uint(st.st_mode & 07777), 4, 8, QLatin1Char('0'));
        return false;
    }
    const QByteArray name = QFile::encodeName(rule.fileName());
    if (::fstatat(dir.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(st.st_mode)) {
        *error = QStringLiteral("%1 exists and is not a regular file (a link to /dev/null masks "
                                "a rule): not replacing it")
                     .arg(shown);
        return false;
    }
    const QByteArray temporary = '.' + name + ".new";
    ::unlinkat(dir.get(), temporary.constData(), 0);
    const fsutil::Fd file(::openat(dir.get(), temporary.constData(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    const bool written = file.isValid() && ::fchmod(file.get(), 0644) == 0 &&
                         writeAll(file.get(), rule.text().toUtf8()) && ::fsync(file.get()) == 0;
    const int failure = errno;
    if (!written ||
        ::renameat(dir.get(), temporary.constData(), dir.get(), name.constData()) != 0) {
        *error = QStringLiteral("cannot write %1: %2")
                     .arg(shown, fsutil::errorText(written ? errno : failure));
        ::unlinkat(dir.get(), temporary.constData(), 0);
        return false;
    }
    ::fsync(dir.get());
    return true;
}

// The user sudo was run by, when it was: the ports link is theirs, not root's.
struct Invoker {
    uid_t uid = 0;
    gid_t gid = 0;
    QByteArray name;
    QByteArray home;
};

std::optional<Invoker> sudoInvoker()
{
    bool ok = false;
    const uint uid = qEnvironmentVariable("SUDO_UID").toUInt(&ok);
    if (!ok || uid == 0 || ::geteuid() != 0)
        return std::nullopt;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[16384];
    if (::getpwuid_r(uid_t(uid), &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return std::nullopt;
    return Invoker{found->pw_uid, found->pw_gid, QByteArray(found->pw_name),
                   QByteArray(found->pw_dir)};
}

bool runUdevadm(const QStringList& arguments, QString* error)
{
    QString program = QStandardPaths::findExecutable(QStringLiteral("udevadm"));
    if (program.isEmpty())
        program = QStandardPaths::findExecutable(
            QStringLiteral("udevadm"),
            {QStringLiteral("/usr/bin"), QStringLiteral("/bin"), QStringLiteral("/sbin")});
    if (program.isEmpty()) {
        *error = QStringLiteral("udevadm is not installed: this system runs no udev (a "
                                "container?), so a rule would do nothing here");
        return false;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    const bool finished = process.waitForFinished(kUdevadmMs);
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    if (!finished)
        process.kill();
    const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    *error = QStringLiteral("udevadm %1 failed%2")
                 .arg(arguments.join(QLatin1Char(' ')),
                      said.isEmpty() ? QString() : QStringLiteral(": ") + printable(said));
    return false;
}

bool linkForInvoker(int number, const QString& target, QString* error)
{
    const std::optional<Invoker> invoker = sudoInvoker();
    if (!invoker)
        return linkPort(number, target, error);
    // This program again, as that user and with that user's home, so that the link lands in
    // their ports folder and the folders it makes are theirs.
    QProcess process;
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), QFile::decodeName(invoker->home));
    env.insert(QStringLiteral("USER"), QString::fromLocal8Bit(invoker->name));
    env.insert(QStringLiteral("LOGNAME"), QString::fromLocal8Bit(invoker->name));
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    env.insert(QStringLiteral("LANG"), qEnvironmentVariable("LANG", QStringLiteral("C.UTF-8")));
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    const Invoker who = *invoker;
    process.setChildProcessModifier([who] {
        if (::initgroups(who.name.constData(), who.gid) != 0 || ::setgid(who.gid) != 0 ||
            ::setuid(who.uid) != 0 || ::setuid(0) == 0)
            ::_exit(126);
    });
    process.start(
        QCoreApplication::applicationFilePath(),
        {QStringLiteral("ports"), QStringLiteral("link"), QString::number(number), target});
    if (process.waitForFinished(kUdevadmMs) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    said.remove(QRegularExpression(QStringLiteral("^tarnavel-cli: ")));
    *error = QStringLiteral("linking COM%1 as %2 failed%3")
                 .arg(number)
                 .arg(QString::fromLocal8Bit(invoker->name),
                      said.isEmpty() ? QString() : QStringLiteral(": ") + printable(said));
    return false;
}

} // namespace

QString UdevRule::fileName() const
{
    return QStringLiteral("71-tarnavel-com%1.rules").arg(number);
}

QString UdevRule::linkName() const
{
    return QStringLiteral("tarnavel-com%1").arg(number);
}

QString UdevRule::text() const
{
    return QStringLiteral(
               "# COM%1 of Quorvex Tarnavel: %2 (now %3).\n"
               "# Made by tarnavel-cli ports udev %1: it matches this one adapter by vendor, "
               "product and serial\n"
               "# number, names it /dev/%4, lets the user at the desk open it without the "
               "dialout\n"
               "# group and keeps ModemManager off it. Remove this file to undo it.\n"
               "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"%5\", ATTRS{idProduct}==\"%6\", "
               "ATTRS{serial}==\"%7\", SYMLINK+=\"%4\", TAG+=\"uaccess\", "
               "ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n")
        .arg(QString::number(number), label, printable(node), linkName(), vendorId.toLower(),
             productId.toLower(), serial);
}

std::optional<UdevRule> udevRuleFor(const SystemTree& tree, int number, const QString& device,
                                    QString* error)
{
    if (!checkPortNumber(number, error))
        return std::nullopt;
    int resolveError = 0;
    const QString node = tree.resolve(device, &resolveError);
    if (node.isEmpty() || resolveError != 0) {
        *error =
            QStringLiteral("%1: %2. Plug the adapter in; tarnavel-cli ports lists the "
                           "serial devices.")
                .arg(printable(device), fsutil::errorText(resolveError ? resolveError : ENOENT));
        return std::nullopt;
    }
    const SerialIdentity identity = identifySerial(tree, node);
    if (!identity.usb) {
        *error = QStringLiteral("%1 is not on a USB adapter%2: a udev rule for it would match "
                                "by nothing that stays with the reader. Link it with: "
                                "tarnavel-cli ports link %3 %4")
                     .arg(printable(node),
                          identity.sysfs ? QString() : QStringLiteral(" that /sys knows of"),
                          QString::number(number), commandWord(device));
        return std::nullopt;
    }
    const QString fallback =
        QStringLiteral(" Link it by the USB socket it is plugged into instead: tarnavel-cli ports "
                       "link %1 %2, and keep to the dialout group for access.")
            .arg(number)
            .arg(commandWord(identity.byPath.isEmpty() ? identity.node
                                                       : identity.byPath.constFirst()));
    if (!isHexId(identity.vendorId) || !isHexId(identity.productId)) {
        *error = QStringLiteral("%1: /sys gives no plain vendor and product ids (\"%2\", "
                                "\"%3\")")
                     .arg(printable(node), identity.vendorId, identity.productId);
        return std::nullopt;
    }
    if (identity.serial.isEmpty()) {
        *error = QStringLiteral("%1 (%2) has no serial number, so no rule can tell it from "
                                "another adapter of its kind, and one for its kind would open "
                                "every such adapter to the desk.")
                     .arg(printable(node), identity.label()) +
                 fallback;
        return std::nullopt;
    }
    if (!matchesExactly(identity.serial)) {
        *error = QStringLiteral("%1: its serial number \"%2\" holds characters a rule cannot "
                                "match exactly.")
                     .arg(printable(node), identity.serial) +
                 fallback;
        return std::nullopt;
    }
    for (const SerialIdentity& other : usbSerialAdapters(tree)) {
        if (other.usbPath != identity.usbPath &&
            other.vendorId.compare(identity.vendorId, Qt::CaseInsensitive) == 0 &&
            other.productId.compare(identity.productId, Qt::CaseInsensitive) == 0 &&
            other.serial == identity.serial) {
            *error = QStringLiteral("%1 and %2 give the same vendor, product and serial number "
                                    "(%3:%4, %5), so a rule would match both.")
                         .arg(printable(node), printable(other.node), identity.vendorId,
                              identity.productId, identity.serial) +
                     fallback;
            return std::nullopt;
        }
    }
    UdevRule rule;
    rule.number = number;
    rule.node = node;
    rule.vendorId = identity.vendorId;
    rule.productId = identity.productId;
    rule.serial = identity.serial;
    rule.label = identity.label();
    return rule;
}

bool installUdevRule(const SystemTree& tree, const UdevRule& rule, const UdevActions& actions,
                     QString* error, QStringList* done)
{
    const SystemTree::Identity self = tree.self();
    const QString path = QString::fromLatin1(kUdevRulesFolder) + QLatin1Char('/') + rule.fileName();
    if (!self.known || self.uid != 0) {
        *error = QStringLiteral("writing %1 needs root: sudo tarnavel-cli ports udev %2 %3 "
                                "--install")
                     .arg(path, QString::number(rule.number), commandWord(rule.node));
        return false;
    }
    if (!writeRule(tree, rule, error))
        return false;
    *done << QStringLiteral("wrote %1").arg(path);
    const QString line =
        QStringLiteral("/sys/class/tty/") + rule.node.section(QLatin1Char('/'), -1);
    if (!actions.udevadm({QStringLiteral("control"), QStringLiteral("--reload")}, error))
        return false;
    *done << QStringLiteral("udev reloaded its rules");
    if (!actions.udevadm({QStringLiteral("trigger"), QStringLiteral("--settle"), line}, error))
        return false;
    *done << QStringLiteral("udev applied them to %1").arg(rule.node);
    const QString link = QStringLiteral("/dev/") + rule.linkName();
    int resolveError = 0;
    if (tree.resolve(link, &resolveError) != rule.node || resolveError != 0) {
        *error = QStringLiteral("udev did not make %1 for %2: see what it applies with udevadm "
                                "test %3")
                     .arg(link, rule.node, line);
        return false;
    }
    if (!actions.linkPort(rule.number, link, error))
        return false;
    *done << QStringLiteral("COM%1 now stands for %2").arg(rule.number).arg(link);
    return true;
}

UdevActions systemUdevActions()
{
    return UdevActions{runUdevadm, linkForInvoker};
}
