#include "config/includedude.h"

#include <QByteArray>
#include <QMetaType>

namespace IncludeDude {

long CreateKey(ISettingsStore& store, store::Root root, const QString& path)
{
    store::Key key = 0;
    const long status = store.createKey(root, path, KEY_ALL_RIGHTS, &key);
    if (key != 0)
        store.closeKey(key);
    return status;
}

long WriteKeyValue(ISettingsStore& store, store::Root root, const QString& path,
                   const QString& name, const QVariant& value, int type)
{
    store::Key key = 0;
    const long opened = store.openKey(root, path, KEY_ALL_RIGHTS, &key);
    if (opened == store::ERROR_FILE_NOT_FOUND) {
        CreateKey(store, root, path);
        store.openKey(root, path, KEY_ALL_RIGHTS, &key);
    }
    // Without a key the store itself answers the write with its failure.
    const long status = WriteValue(store, key, name, type, value);
    if (key != 0)
        store.closeKey(key);
    return status;
}

QString ReadKeyValue(ISettingsStore& store, store::Root root, const QString& path,
                     const QString& name)
{
    store::Key key = 0;
    if (store.openKey(root, path, KEY_ALL_RIGHTS, &key) != store::ERROR_SUCCESS || key == 0)
        return QString();
    QVariant value;
    ReadValue(store, key, name, &value);
    store.closeKey(key);

    QString text;
    if (value.typeId() == QMetaType::QString)
        text = value.toString();
    else if (value.typeId() == QMetaType::Int)
        text = QString::number(value.toInt());
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

long ReadValue(ISettingsStore& store, store::Key key, const QString& name, QVariant* value)
{
    int type = 0;
    unsigned size = 0;
    long status = store.queryValue(key, name, &type, nullptr, &size);
    if (status != store::ERROR_SUCCESS)
        return status;

    if (type == store::REG_SZ) {
        QByteArray buffer(qsizetype(size), '\0');
        unsigned got = size;
        status = store.queryValue(key, name, nullptr, &buffer, &got);
        if (status == store::ERROR_SUCCESS)
            *value = QString::fromLatin1(buffer.left(qsizetype(got)));
        else
            *value = QString();
        return status;
    }
    // An integer of any other length cannot be read as one; it counts as an unsupported type.
    if (type == store::REG_DWORD && size == 4) {
        QByteArray buffer(4, '\0');
        unsigned got = 4;
        status = store.queryValue(key, name, nullptr, &buffer, &got);
        if (status == store::ERROR_SUCCESS && got == 4 && buffer.size() >= 4) {
            quint32 number = 0;
            for (int i = 3; i >= 0; --i)
                number = (number << 8) | quint8(buffer.at(i));
            *value = qint32(number);
        }
        return status;
    }
    return -1;
}

long WriteValue(ISettingsStore& store, store::Key key, const QString& name, int type,
                const QVariant& value)
{
    if (type == store::REG_SZ) {
        const QByteArray bytes = value.typeId() == QMetaType::QByteArray
                                     ? value.toByteArray()
                                     : value.toString().toLatin1();
        return store.setValue(key, name, store::REG_SZ, bytes);
    }
    if (type == store::REG_DWORD) {
        const quint32 number = quint32(qint32(value.toLongLong()));
        QByteArray bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[i] = char((number >> (8 * i)) & 0xFF);
        return store.setValue(key, name, store::REG_DWORD, bytes);
    }
    return store::ERROR_SUCCESS;
}

} // namespace IncludeDude
