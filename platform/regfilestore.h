#pragma once

#include "platform/regfileio.h"
#include "platform/settingsstore.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

struct RegDocument;

// The per-user store kept as a text file in the registry export format (regfileformat.h). Only
// the current user's root exists. Every change is a read-modify-write of the whole file under a
// lock (regfilelock.h) and replaces it atomically (regfileio.h), so several running programs
// can share it; outside a batch every read loads the file afresh. Only a regular file of at
// most kMaxFileSize bytes is read, and no change that would make it larger is written: it fails
// and leaves the file as it was. A larger file or one that cannot be parsed is moved aside by
// the next save, and anything that is not a regular file (a FIFO, a device, a dangling link)
// reads as an empty store and is never written to: saves then fail, as they do on a file that
// is not writable. lastFailure() tells why the latest change failed, readFailure() why the
// latest read found a file it could not use.
class RegFileStore : public ISettingsStore
{
public:
    // Statuses besides those of store::Status, with the registry's numbers.
    static constexpr long ERROR_WRITE_FAULT = 29;
    static constexpr long ERROR_LOCK_VIOLATION = 33;
    static constexpr long ERROR_INVALID_PARAMETER = 87;
    static constexpr long ERROR_FILE_TOO_LARGE = 223;
    static constexpr qint64 kMaxFileSize = regfile::kMaxFileSize;

    // An empty path is no store at all: every key is missing and every change fails.
    explicit RegFileStore(const QString& filePath);
    ~RegFileStore() override;

    long openKey(store::Root root, const QString& path, unsigned access, store::Key* key) override;
    long createKey(store::Root root, const QString& path, unsigned access,
                   store::Key* key) override;
    long queryValue(store::Key key, const QString& name, int* type, QByteArray* data,
                    unsigned* size) override;
    long setValue(store::Key key, const QString& name, int type, const QByteArray& data) override;
    long closeKey(store::Key key) override;
    // A batch reads the file once, and writes it once, under one lock, when it ends.
    void beginBatch() override;
    long endBatch() override;
    store::Failure lastFailure() const override { return m_failure; }
    store::Failure readFailure() const override { return m_readFailure; }

    QString filePath() const { return m_path; }
    // How long a change waits for another program's change to finish; 0 tries once.
    void setLockTimeout(int milliseconds) { m_lockTimeout = milliseconds; }
    // Runs after a change has been written out and before it replaces the file.
    void setBeforeCommit(std::function<void()> hook) { m_beforeCommit = std::move(hook); }
    // How many times the file has been read so far.
    int fileReads() const { return m_fileReads; }

private:
    using Edit = std::function<void(RegDocument&)>;
    struct OpenedKey {
        QStringList path;
        unsigned access = 0;
    };

    RegDocument load();
    RegDocument readFile();
    long change(const Edit& edit);
    long commit(const QList<Edit>& edits);
    long fail(long status, store::Cause cause, int error = 0);
    long failWith(long status, int error);
    store::Key remember(const QStringList& path, unsigned access);

    QString m_path;
    int m_lockTimeout = 2000;
    std::function<void()> m_beforeCommit;
    QHash<store::Key, OpenedKey> m_keys;
    store::Key m_nextKey = 1;
    int m_fileReads = 0;
    int m_batchDepth = 0;
    std::unique_ptr<RegDocument> m_batchDocument; // read at the batch's first look
    QList<Edit> m_batchEdits;
    store::Failure m_failure;
    store::Failure m_readFailure;
};
