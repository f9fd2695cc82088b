#pragma once

#include "platform/settingsstore.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

// An in-memory per-user store with the same contract as the file store: keys under any root,
// names matched without regard to case, text reported with a terminating NUL. Operations can
// be told to fail, and tests can put and read raw values of any type directly.
class MemoryStore : public ISettingsStore
{
public:
    enum Operation { OpenKey, CreateKey, QueryValue, SetValue, CloseKey };

    struct Call {
        Operation operation;
        QString target; // the key path for opens and creates, the value name otherwise
        unsigned access;
        long status;
        int batchDepth; // how many batches were open around the call
    };

    struct Value {
        int type = 0;
        QByteArray data;
    };

    long openKey(store::Root root, const QString& path, unsigned access, store::Key* key) override;
    long createKey(store::Root root, const QString& path, unsigned access,
                   store::Key* key) override;
    long queryValue(store::Key key, const QString& name, int* type, QByteArray* data,
                    unsigned* size) override;
    long setValue(store::Key key, const QString& name, int type, const QByteArray& data) override;
    long closeKey(store::Key key) override;
    void beginBatch() override;
    long endBatch() override;

    // From now on the operation returns this status and changes nothing.
    void failOn(Operation operation, long status) { m_failures.insert(operation, status); }
    void failEverything(long status);
    void clearFailures() { m_failures.clear(); }
    // From now on readFailure() reports this, as a file store does when the file it read is
    // not to be trusted; the values stay as they are.
    void failReads(const store::Failure& failure) { m_readFailure = failure; }
    store::Failure readFailure() const override { return m_readFailure; }

    // Direct access, past any failure; putting a value makes its key and every level above.
    void putValue(const QString& path, const QString& name, int type, const QByteArray& data,
                  store::Root root = store::HKEY_CURRENT_USER);
    void putText(const QString& path, const QString& name, const QByteArray& text,
                 store::Root root = store::HKEY_CURRENT_USER);
    void putDword(const QString& path, const QString& name, qint32 number,
                  store::Root root = store::HKEY_CURRENT_USER);
    bool hasKey(const QString& path, store::Root root = store::HKEY_CURRENT_USER) const;
    std::optional<Value> value(const QString& path, const QString& name,
                               store::Root root = store::HKEY_CURRENT_USER) const;
    // The names as first written, sorted without regard to case.
    QStringList valueNames(const QString& path, store::Root root = store::HKEY_CURRENT_USER) const;

    int count(Operation operation) const;
    int openKeyCount() const { return int(m_open.size()); }
    QList<Call> calls;
    int batches = 0; // outermost batches begun
    int batchDepth = 0;

private:
    struct NamedValue {
        QString name;
        Value value;
    };
    struct KeyData {
        QMap<QString, NamedValue> values; // by lower-case name
    };

    static QString keyId(store::Root root, const QString& path);
    void makeKey(store::Root root, const QString& path);
    std::optional<long> failure(Operation operation) const;
    long record(Operation operation, const QString& target, unsigned access, long status);

    QHash<QString, KeyData> m_keys; // by lower-case root and path
    QHash<store::Key, QString> m_open;
    QHash<int, long> m_failures;
    store::Failure m_readFailure;
    store::Key m_nextKey = 1;
};
