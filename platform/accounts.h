#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>

// Who is in a group, as the account database says. Folder trust asks it whether a folder that
// its group may write is still the user's alone: on desks with user-private groups (umask 002)
// every folder is group-writable, by a group that only its user is in.
class Accounts
{
public:
    struct Group {
        QString name;
        QStringList listed;   // members named in the group database
        QList<uid_t> primary; // users whose primary group it is
    };

    virtual ~Accounts() = default;
    // The group, or nullopt when the database does not know it.
    virtual std::optional<Group> group(gid_t gid) const = 0;
    // The user's login name; empty when it has none.
    virtual QString userName(uid_t uid) const = 0;

    // The database every trust check asks: the system's, or what a test put in its place.
    static const Accounts& current();
};

// While it lives, trust checks ask accounts instead of the system (tests give prepared groups).
class ScopedAccounts
{
public:
    explicit ScopedAccounts(const Accounts& accounts);
    ~ScopedAccounts();
    ScopedAccounts(const ScopedAccounts&) = delete;
    ScopedAccounts& operator=(const ScopedAccounts&) = delete;

private:
    const Accounts* m_previous;
};

// True when gid is user's private group: the user is in it, as its primary group or listed,
// and nobody else is, either way (as Debian's OpenSSH judges a group-writable ~/.ssh). An
// unknown group is nobody's private one. *others gets the other members' names, if any.
bool isPrivateGroup(gid_t gid, uid_t user, QStringList* others = nullptr);
