#include "platform/accounts.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <grp.h>
#include <mutex>
#include <pwd.h>

namespace {

class SystemAccounts : public Accounts
{
public:
    std::optional<Group> group(gid_t gid) const override
    {
        struct ::group entry {
        };
        struct ::group* found = nullptr;
        QByteArray buffer(4096, '\0');
        int result;
        // Groups with many members need more room than the first guess.
        while ((result = ::getgrgid_r(gid, &entry, buffer.data(), size_t(buffer.size()), &found)) ==
                   ERANGE &&
               buffer.size() < (1 << 24))
            buffer.resize(buffer.size() * 2);
        if (result != 0 || !found)
            return std::nullopt;
        Group group;
        group.name = QFile::decodeName(found->gr_name);
        for (char** member = found->gr_mem; member && *member; ++member)
            group.listed << QFile::decodeName(*member);
        // The password database is walked through one shared position: one walker at a time.
        static std::mutex walking;
        const std::lock_guard<std::mutex> lock(walking);
        ::setpwent();
        passwd user{};
        passwd* next = nullptr;
        char line[4096];
        while (::getpwent_r(&user, line, sizeof line, &next) == 0 && next) {
            if (next->pw_gid == gid)
                group.primary << next->pw_uid;
        }
        ::endpwent();
        return group;
    }

    QString userName(uid_t uid) const override
    {
        passwd entry{};
        passwd* found = nullptr;
        char buffer[4096];
        if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
            return QFile::decodeName(found->pw_name);
        return QString();
    }
};

const SystemAccounts g_system;
const Accounts* g_current = &g_system;

} // namespace

const Accounts& Accounts::current()
{
    return *g_current;
}

ScopedAccounts::ScopedAccounts(const Accounts& accounts) : m_previous(g_current)
{
    g_current = &accounts;
}

ScopedAccounts::~ScopedAccounts()
{
    g_current = m_previous;
}

bool isPrivateGroup(gid_t gid, uid_t user, QStringList* others)
{
    const Accounts& accounts = Accounts::current();
    const std::optional<Accounts::Group> group = accounts.group(gid);
    if (!group)
        return false;
    const QString name = accounts.userName(user);
    QStringList strangers;
    bool in = false;
    for (const uid_t uid : group->primary) {
        if (uid == user)
            in = true;
        else
            strangers << (accounts.userName(uid).isEmpty() ? QStringLiteral("uid %1").arg(uid)
                                                           : accounts.userName(uid));
    }
    for (const QString& member : group->listed) {
        if (!name.isEmpty() && member == name)
            in = true;
        else if (!strangers.contains(member))
            strangers << member;
    }
    if (others)
        *others = strangers;
    // A group nobody is in is no one's own (setgid programs use such groups).
    return in && strangers.isEmpty();
}
