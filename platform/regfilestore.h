#pragma once

#include "platform/settingsstore.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

struct RegDocument;

// The per-user store kept as a text file in the registry export format: "REGEDIT4", then a
// section per key and a line per value. Only the current user's root exists. Every change is a
// read-modify-write of the whole file under a lock file and replaces it atomically, so several
// running programs can share it; every read loads the file afresh. Lines the store does not
// understand inside a section (other value kinds, comments) are written back as they were read.
class RegFileStore : public ISettingsStore
{
public:
    // Statuses besides those of store::Status, with the registry's numbers.
    static constexpr long ERROR_WRITE_FAULT = 29;
    static constexpr long ERROR_LOCK_VIOLATION = 33;
    static constexpr long ERROR_INVALID_PARAMETER = 87;

    explicit RegFileStore(const QString& filePath);

    long openKey(store::Root root, const QString& path, unsigned access, store::Key* key) override;
    long createKey(store::Root root, const QString& path, unsigned access,
                   store::Key* key) override;
    long queryValue(store::Key key, const QString& name, int* type, QByteArray* data,
                    unsigned* size) override;
    long setValue(store::Key key, const QString& name, int type, const QByteArray& data) override;
    long closeKey(store::Key key) override;

    QString filePath() const { return m_path; }
    // How long a change waits for another program's change to finish; 0 tries once.
    void setLockTimeout(int milliseconds) { m_lockTimeout = milliseconds; }
    // Runs after a change has been written out and before it replaces the file.
    void setBeforeCommit(std::function<void()> hook) { m_beforeCommit = std::move(hook); }

private:
    struct OpenedKey {
        QStringList path;
        unsigned access = 0;
    };

    RegDocument load() const;
    long change(const std::function<void(RegDocument&)>& edit);
    bool ensureDirectory() const;
    bool moveAside() const;
    store::Key remember(const QStringList& path, unsigned access);

    QString m_path;
    int m_lockTimeout = 10000;
    std::function<void()> m_beforeCommit;
    QHash<store::Key, OpenedKey> m_keys;
    store::Key m_nextKey = 1;
};
