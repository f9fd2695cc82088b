#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>

// The parts of the running system a diagnosis reads: /sys, /dev, /proc, /run (lock files and
// udev's database) and /etc. Every path is taken under a root: "/" for this machine, a prepared
// folder in tests. Links are followed inside the root (an absolute target starts again at the
// root), so a prepared tree never leads out into the machine's own files. Files are read only
// when they are regular, and never past a bound, whatever they claim to be.
class SystemTree
{
public:
    // This machine.
    static SystemTree live();
    // A prepared folder standing for "/". Device nodes are plain files there, since a test
    // cannot make real ones; their owner, group and mode still count.
    static SystemTree prepared(const QString& root);

    bool isLive() const { return m_live; }
    // Where an absolute path of the tree lies on this machine.
    QString hostPath(const QString& path) const;

    struct Node {
        bool exists = false;
        int error = 0; // errno when it does not exist or could not be looked at
        mode_t mode = 0;
        uid_t uid = 0;
        gid_t gid = 0;
        dev_t rdev = 0;
        qint64 size = 0;

        bool isLink() const;
        bool isFolder() const;
        bool isRegular() const;
    };
    // What stands at path itself (a link is not followed).
    Node look(const QString& path) const;
    // A device node: a character device, or in a prepared tree a regular file.
    bool isDeviceNode(const Node& node) const;

    // The path with every link followed inside the tree (at most 40 of them), "." and ".."
    // taken out. Empty with *error set when some part of it is missing or loops; a missing last
    // part still gives the path it would have, with *error ENOENT.
    QString resolve(const QString& path, int* error = nullptr) const;
    // What the link at path says, as written; empty when it is no link.
    QString readLink(const QString& path) const;
    // The file at path (links followed) when it is a regular file: at most maxBytes of it,
    // *truncated set when there was more. Nothing, with *error set, for anything else.
    std::optional<QByteArray> readFile(const QString& path, qint64 maxBytes, int* error = nullptr,
                                       bool* truncated = nullptr) const;
    // The names in a folder (links followed to it), without "." and "..", at most maxEntries,
    // sorted. *error is set when it cannot be read, *truncated when there were more.
    QStringList list(const QString& path, int maxEntries, int* error = nullptr,
                     bool* truncated = nullptr) const;

    // The user this program runs as, from /proc/self/status (on this machine, from the process
    // itself when /proc is missing).
    struct Identity {
        bool known = false;
        uid_t uid = 0;
        gid_t gid = 0;
        QList<gid_t> groups; // supplementary groups of this login
    };
    Identity self() const;
    // This program's process id as /proc/self says; 0 when unknown.
    qint64 selfPid() const;
    // Whether a process of that id exists now.
    bool processExists(qint64 pid) const;

    // Names from /etc/passwd and /etc/group (on this machine also from the system's user
    // database); the number as text when there is none.
    QString userName(uid_t uid) const;
    QString groupName(gid_t gid) const;
    // Whether the group database lists the user as a member of the group (or as its primary
    // group): what the next login will have.
    bool groupListsUser(gid_t gid, const QString& user, uid_t uid) const;

    // The access list of a file: the permissions it grants the user uid by name (masked), or
    // nothing when it has no entry for that user or no access list at all.
    std::optional<unsigned> aclUserPermissions(const QString& path, uid_t uid) const;

    // The most that is read of a line-oriented system file (/etc/group, a rules file).
    static constexpr qint64 kMaxTextFile = 1 << 20;

private:
    SystemTree(const QString& root, bool live) : m_root(root), m_live(live) {}

    struct Account {
        QString name;
        uint id = 0;
        uint primaryGroup = 0;
        QStringList members;
    };
    QList<Account> accounts(const QString& file) const;

    QString m_root;
    bool m_live;
};
