#include "support/memorystore.h"

#include <algorithm>

QString MemoryStore::keyId(store::Root root, const QString& path)
{
    QStringList parts{QString::number(quint64(root))};
    parts += path.toLower().split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    return parts.join(QLatin1Char('\\'));
}

void MemoryStore::makeKey(store::Root root, const QString& path)
{
    const QStringList parts = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (qsizetype level = 0; level <= parts.size(); ++level) {
        const QString id = keyId(root, parts.mid(0, level).join(QLatin1Char('\\')));
        if (!m_keys.contains(id))
            m_keys.insert(id, KeyData{});
    }
}

std::optional<long> MemoryStore::failure(Operation operation) const
{
    const auto it = m_failures.constFind(operation);
    if (it == m_failures.constEnd())
        return std::nullopt;
    return *it;
}

long MemoryStore::record(Operation operation, const QString& target, unsigned access, long status)
{
    calls.append(Call{operation, target, access, status, batchDepth});
    return status;
}

void MemoryStore::beginBatch()
{
    if (batchDepth++ == 0)
        ++batches;
}

long MemoryStore::endBatch()
{
    batchDepth = qMax(0, batchDepth - 1);
    return store::ERROR_SUCCESS;
}

void MemoryStore::failEverything(long status)
{
    for (Operation operation : {OpenKey, CreateKey, QueryValue, SetValue, CloseKey})
        failOn(operation, status);
}

long MemoryStore::openKey(store::Root root, const QString& path, unsigned access, store::Key* key)
{
    *key = 0;
    if (const auto status = failure(OpenKey))
        return record(OpenKey, path, access, *status);
    const QString id = keyId(root, path);
    // Roots exist even in an empty store.
    if (!path.split(QLatin1Char('\\'), Qt::SkipEmptyParts).isEmpty() && !m_keys.contains(id))
        return record(OpenKey, path, access, store::ERROR_FILE_NOT_FOUND);
    *key = m_nextKey++;
    m_open.insert(*key, id);
    return record(OpenKey, path, access, store::ERROR_SUCCESS);
}

long MemoryStore::createKey(store::Root root, const QString& path, unsigned access, store::Key* key)
{
    *key = 0;
    if (const auto status = failure(CreateKey))
        return record(CreateKey, path, access, *status);
    makeKey(root, path);
    *key = m_nextKey++;
    m_open.insert(*key, keyId(root, path));
    return record(CreateKey, path, access, store::ERROR_SUCCESS);
}

long MemoryStore::queryValue(store::Key key, const QString& name, int* type, QByteArray* data,
                             unsigned* size)
{
    if (const auto status = failure(QueryValue))
        return record(QueryValue, name, 0, *status);
    const auto open = m_open.constFind(key);
    if (open == m_open.constEnd())
        return record(QueryValue, name, 0, store::ERROR_INVALID_HANDLE);
    if (data && !size)
        return record(QueryValue, name, 0, 87); // ERROR_INVALID_PARAMETER
    const KeyData& keyData = m_keys[*open];
    const auto found = keyData.values.constFind(name.toLower());
    if (found == keyData.values.constEnd())
        return record(QueryValue, name, 0, store::ERROR_FILE_NOT_FOUND);

    QByteArray bytes = found->value.data;
    if (found->value.type == store::REG_SZ)
        bytes.append('\0');
    const unsigned needed = unsigned(bytes.size());
    if (type)
        *type = found->value.type;
    if (data) {
        if (*size < needed) {
            *size = needed;
            return record(QueryValue, name, 0, store::ERROR_MORE_DATA);
        }
        *data = bytes;
    }
    if (size)
        *size = needed;
    return record(QueryValue, name, 0, store::ERROR_SUCCESS);
}

long MemoryStore::setValue(store::Key key, const QString& name, int type, const QByteArray& data)
{
    if (const auto status = failure(SetValue))
        return record(SetValue, name, 0, *status);
    const auto open = m_open.constFind(key);
    if (open == m_open.constEnd())
        return record(SetValue, name, 0, store::ERROR_INVALID_HANDLE);
    KeyData& keyData = m_keys[*open];
    const QString lower = name.toLower();
    const QString spelling = keyData.values.contains(lower) ? keyData.values[lower].name : name;
    keyData.values.insert(lower, NamedValue{spelling, Value{type, data}});
    return record(SetValue, name, 0, store::ERROR_SUCCESS);
}

long MemoryStore::closeKey(store::Key key)
{
    if (const auto status = failure(CloseKey))
        return record(CloseKey, QString(), 0, *status);
    return record(CloseKey, QString(), 0,
                  m_open.remove(key) ? store::ERROR_SUCCESS : store::ERROR_INVALID_HANDLE);
}

void MemoryStore::putValue(const QString& path, const QString& name, int type,
                           const QByteArray& data, store::Root root)
{
    makeKey(root, path);
    KeyData& keyData = m_keys[keyId(root, path)];
    keyData.values.insert(name.toLower(), NamedValue{name, Value{type, data}});
}

void MemoryStore::putText(const QString& path, const QString& name, const QByteArray& text,
                          store::Root root)
{
    putValue(path, name, store::REG_SZ, text, root);
}

void MemoryStore::putDword(const QString& path, const QString& name, qint32 number,
                           store::Root root)
{
    QByteArray data(4, '\0');
    for (int i = 0; i < 4; ++i)
        data[i] = char((quint32(number) >> (8 * i)) & 0xFF);
    putValue(path, name, store::REG_DWORD, data, root);
}

bool MemoryStore::hasKey(const QString& path, store::Root root) const
{
    return m_keys.contains(keyId(root, path));
}

std::optional<MemoryStore::Value> MemoryStore::value(const QString& path, const QString& name,
                                                     store::Root root) const
{
    const auto key = m_keys.constFind(keyId(root, path));
    if (key == m_keys.constEnd())
        return std::nullopt;
    const auto found = key->values.constFind(name.toLower());
    if (found == key->values.constEnd())
        return std::nullopt;
    return found->value;
}

QStringList MemoryStore::valueNames(const QString& path, store::Root root) const
{
    QStringList names;
    const auto key = m_keys.constFind(keyId(root, path));
    if (key != m_keys.constEnd()) {
        for (const NamedValue& named : key->values)
            names.append(named.name);
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    return names;
}

int MemoryStore::count(Operation operation) const
{
    return int(std::count_if(calls.begin(), calls.end(), [operation](const Call& call) {
        return call.operation == operation;
    }));
}
