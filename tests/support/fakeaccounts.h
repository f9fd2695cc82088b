#pragma once

#include "platform/accounts.h"

#include <QHash>

// Prepared users and groups for folder trust, in place of the system's while it lives: a test
// can make the group of its folders private to the user, or shared with someone else.
class FakeAccounts : public Accounts
{
public:
    FakeAccounts() : m_scope(*this) {}

    FakeAccounts& user(uid_t uid, const QString& name)
    {
        m_users.insert(uid, name);
        return *this;
    }
    // primary: the users whose primary group it is; listed: member names in the group file.
    FakeAccounts& group(gid_t gid, const QList<uid_t>& primary, const QStringList& listed = {})
    {
        m_groups.insert(gid, Group{QStringLiteral("group%1").arg(gid), listed, primary});
        return *this;
    }

    std::optional<Group> group(gid_t gid) const override
    {
        const auto found = m_groups.constFind(gid);
        return found == m_groups.constEnd() ? std::nullopt : std::optional<Group>(*found);
    }
    QString userName(uid_t uid) const override { return m_users.value(uid); }

private:
    QHash<uid_t, QString> m_users;
    QHash<gid_t, Group> m_groups;
    ScopedAccounts m_scope;
};
