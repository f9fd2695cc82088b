#include "platform/regfilestore.h"

#include "platform/accounts.h"
#include "platform/fsutil.h"
#include "platform/regfileformat.h"
#include "platform/regfilelock.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <cerrno>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr unsigned KEY_QUERY_VALUE = 0x1;
constexpr unsigned KEY_SET_VALUE = 0x2;

store::Cause causeOf(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return store::Cause::ReadOnlyFolder;
    case ENOSPC:
    case EDQUOT:
        return store::Cause::DiskFull;
    default:
        return store::Cause::Other;
    }
}

// The folder a change could not write to: the file's own, or the nearest one above it that
// exists when the file's folder could not be made.
QString nearestFolder(const QString& file)
{
    QString folder = QFileInfo(file).absolutePath();
    while (!QFileInfo(folder).isDir() && QFileInfo(folder).absolutePath() != folder)
        folder = QFileInfo(folder).absolutePath();
    return folder;
}

QString reasonFor(store::Cause cause, int error, const QString& file)
{
    switch (cause) {
    case store::Cause::None:
        return QString();
    case store::Cause::ReadOnlyFolder:
        return QStringLiteral("the folder %1 is read-only").arg(nearestFolder(file));
    case store::Cause::ReadOnlyFile:
        return QStringLiteral("the file is read-only");
    case store::Cause::Locked:
        return QStringLiteral("another program has it locked");
    case store::Cause::DiskFull:
        return error == EDQUOT ? QStringLiteral("the disk quota is used up")
                               : QStringLiteral("the disk is full");
    case store::Cause::TooLarge:
        return QStringLiteral("it would grow past %1, the most this program reads back")
            .arg(QLocale::c().formattedDataSize(RegFileStore::kMaxFileSize, 0));
    case store::Cause::NotAFile:
        return QStringLiteral("it is not a regular file");
    case store::Cause::NoFile:
        return QStringLiteral(
            "there is no folder for them, since neither XDG_CONFIG_HOME nor HOME is an absolute "
            "path");
    case store::Cause::Unparsable:
    case store::Cause::Untrusted:
    case store::Cause::Other:
        break;
    }
    return qt_error_string(error);
}

// Why a file that is there gave no values, or empty when it may be read: its owner and whoever
// else may change it decide which port the card data goes to.
QString untrustedReason(const regfile::Ownership& file)
{
    const uid_t me = ::geteuid();
    if (file.uid != me && file.uid != 0)
        return QStringLiteral("it belongs to %1, not to you (%2)")
            .arg(fsutil::ownerText(file.uid), fsutil::userName(me));
    if (file.mode & S_IWOTH)
        return QStringLiteral("every user may change it (mode %1; chmod go-w mends that)")
            .arg(fsutil::octalMode(file.mode));
    if ((file.mode & S_IWGRP) && !isPrivateGroup(file.gid, me))
        return QStringLiteral("other users of its group may change it (mode %1; chmod g-w mends "
                              "that)")
            .arg(fsutil::octalMode(file.mode));
    return QString();
}

} // namespace

RegFileStore::RegFileStore(const QString& filePath) : m_path(filePath) {}

RegFileStore::~RegFileStore() = default;

RegDocument RegFileStore::load()
{
    if (m_batchDocument)
        return *m_batchDocument;
    // A file that cannot be read or parsed reads as an empty store; a save moves it aside.
    RegDocument doc;
    m_readFailure = {};
    if (!m_path.isEmpty()) {
        ++m_fileReads;
        doc = readFile();
    }
    if (m_batchDepth > 0)
        m_batchDocument = std::make_unique<RegDocument>(doc);
    return doc;
}

RegDocument RegFileStore::readFile()
{
    using regfile::FileState;
    QByteArray bytes;
    int error = 0;
    regfile::Ownership ownership;
    const FileState state = regfile::readRegularFile(m_path, &bytes, &error, &ownership);
    const auto failed = [this](store::Cause cause, const QString& reason) {
        m_readFailure = {cause, m_path, reason};
        return RegDocument{};
    };
    switch (state) {
    case FileState::Missing:
        return {};
    case FileState::TooLarge:
        return failed(store::Cause::TooLarge,
                      QStringLiteral("it is larger than %1, the most this program reads")
                          .arg(QLocale::c().formattedDataSize(kMaxFileSize, 0)));
    case FileState::Unusable:
        return error != 0
                   ? failed(store::Cause::Other, fsutil::errorText(error))
                   : failed(store::Cause::NotAFile, QStringLiteral("it is %1, not a regular file")
                                                        .arg(regfile::nonRegularText(m_path)));
    case FileState::Regular:
        break;
    }
    std::optional<RegDocument> doc = RegDocument::parse(bytes);
    if (!doc)
        return failed(store::Cause::Unparsable,
                      QStringLiteral("it is not a settings file (text that begins with %1)")
                          .arg(QLatin1String(RegDocument::kHeader)));
    // The values are still read, as they always were: only a caller that asks is told.
    const QString untrusted = untrustedReason(ownership);
    if (!untrusted.isEmpty())
        m_readFailure = {store::Cause::Untrusted, m_path, untrusted};
    return *doc;
}

store::Key RegFileStore::remember(const QStringList& path, unsigned access)
{
    const store::Key key = m_nextKey++;
    m_keys.insert(key, OpenedKey{path, access});
    return key;
}

long RegFileStore::openKey(store::Root root, const QString& path, unsigned access, store::Key* key)
{
    if (!key)
        return ERROR_INVALID_PARAMETER;
    *key = 0;
    if (root == store::HKEY_LOCAL_MACHINE)
        return store::ERROR_FILE_NOT_FOUND; // this system has no machine-wide store
    if (root != store::HKEY_CURRENT_USER)
        return store::ERROR_INVALID_HANDLE;
    const std::optional<QStringList> parts = RegDocument::splitPath(path);
    if (!parts || !load().keyExists(*parts))
        return store::ERROR_FILE_NOT_FOUND;
    *key = remember(*parts, access);
    return store::ERROR_SUCCESS;
}

long RegFileStore::createKey(store::Root root, const QString& path, unsigned access,
                             store::Key* key)
{
    if (!key)
        return ERROR_INVALID_PARAMETER;
    *key = 0;
    if (root == store::HKEY_LOCAL_MACHINE)
        return store::ERROR_ACCESS_DENIED;
    if (root != store::HKEY_CURRENT_USER)
        return store::ERROR_INVALID_HANDLE;
    const std::optional<QStringList> parts = RegDocument::splitPath(path);
    if (!parts)
        return ERROR_INVALID_PARAMETER;
    if (!load().keyExists(*parts)) {
        // Edits are kept by value: a batch applies them again when it ends.
        const long status = change([parts = *parts](RegDocument& doc) {
            if (!doc.keyExists(parts))
                doc.addKey(parts);
        });
        if (status != store::ERROR_SUCCESS)
            return status;
    }
    *key = remember(*parts, access);
    return store::ERROR_SUCCESS;
}

long RegFileStore::queryValue(store::Key key, const QString& name, int* type, QByteArray* data,
                              unsigned* size)
{
    const auto opened = m_keys.constFind(key);
    if (opened == m_keys.constEnd())
        return store::ERROR_INVALID_HANDLE;
    if (!(opened->access & KEY_QUERY_VALUE))
        return store::ERROR_ACCESS_DENIED;
    if (data && !size)
        return ERROR_INVALID_PARAMETER;

    const RegDocument doc = load();
    const RegDocument::Entry* entry = doc.findValue(opened->path, name);
    if (!entry)
        return store::ERROR_FILE_NOT_FOUND;
    QByteArray bytes = entry->data;
    if (entry->type == store::REG_SZ)
        bytes.append('\0');
    const unsigned needed = unsigned(bytes.size());
    if (type)
        *type = entry->type;
    if (data) {
        if (*size < needed) {
            *size = needed;
            return store::ERROR_MORE_DATA;
        }
        *data = bytes;
    }
    if (size)
        *size = needed;
    return store::ERROR_SUCCESS;
}

long RegFileStore::setValue(store::Key key, const QString& name, int type, const QByteArray& data)
{
    const auto opened = m_keys.constFind(key);
    if (opened == m_keys.constEnd())
        return store::ERROR_INVALID_HANDLE;
    if (!(opened->access & KEY_SET_VALUE))
        return store::ERROR_ACCESS_DENIED;
    if (!RegDocument::writableName(name) || type < 0)
        return ERROR_INVALID_PARAMETER;
    const QStringList path = opened->path;
    // A key that another program's save no longer holds is made again rather than lose the value.
    return change([=](RegDocument& doc) { doc.setValue(path, name, type, data); });
}

long RegFileStore::closeKey(store::Key key)
{
    return m_keys.remove(key) ? store::ERROR_SUCCESS : store::ERROR_INVALID_HANDLE;
}

void RegFileStore::beginBatch()
{
    ++m_batchDepth;
}

long RegFileStore::endBatch()
{
    if (m_batchDepth == 0 || --m_batchDepth > 0)
        return store::ERROR_SUCCESS;
    const QList<Edit> edits = std::exchange(m_batchEdits, {});
    m_batchDocument.reset();
    return edits.isEmpty() ? store::ERROR_SUCCESS : commit(edits);
}

long RegFileStore::fail(long status, store::Cause cause, int error)
{
    m_failure = {cause, m_path, reasonFor(cause, error, m_path)};
    return status;
}

long RegFileStore::failWith(long status, int error)
{
    return fail(status, causeOf(error), error);
}

long RegFileStore::change(const Edit& edit)
{
    m_failure = {};
    if (m_path.isEmpty())
        return fail(store::ERROR_ACCESS_DENIED, store::Cause::NoFile);
    if (m_batchDepth == 0)
        return commit({edit});
    // Seen by the batch's later reads at once, written with the rest when the batch ends.
    load();
    edit(*m_batchDocument);
    m_batchEdits.append(edit);
    return store::ERROR_SUCCESS;
}

long RegFileStore::commit(const QList<Edit>& edits)
{
    using regfile::FileState;
    m_failure = {};
    if (m_path.isEmpty())
        return fail(store::ERROR_ACCESS_DENIED, store::Cause::NoFile);
    // Settings are private to their user: every folder made here is 0700, and so is the
    // store's own folder when it was there already.
    QString folderError;
    if (!fsutil::makePrivateFolder(QFileInfo(m_path).absolutePath(), &folderError)) {
        const int number = errno;
        if (number != EPERM)
            return failWith(store::ERROR_ACCESS_DENIED, number);
        // A folder of another user: not read-only, so its own words, which name the owner
        // and the cure.
        m_failure = {store::Cause::Other, m_path, folderError};
        return store::ERROR_ACCESS_DENIED;
    }
    regfile::Lock lock;
    if (const int error = lock.acquire(m_path + QStringLiteral(".lock"), m_lockTimeout)) {
        return error == EWOULDBLOCK ? fail(ERROR_LOCK_VIOLATION, store::Cause::Locked)
                                    : failWith(store::ERROR_ACCESS_DENIED, error);
    }

    QByteArray before;
    ++m_fileReads;
    int readError = 0;
    const FileState state = regfile::readRegularFile(m_path, &before, &readError);
    // Never written through: a FIFO, a device or a dangling link stays as it is.
    if (state == FileState::Unusable) {
        return readError != 0 ? fail(store::ERROR_ACCESS_DENIED, store::Cause::Other, readError)
                              : fail(store::ERROR_ACCESS_DENIED, store::Cause::NotAFile);
    }
    std::optional<RegDocument> doc;
    if (state == FileState::Regular)
        doc = RegDocument::parse(before);
    // Nothing is ever silently dropped: what cannot be read is kept aside whole.
    const bool corrupt = !doc && state != FileState::Missing;
    if (!doc)
        doc = RegDocument{};
    for (const Edit& edit : edits)
        edit(*doc);
    const QByteArray after = doc->serialize();
    if (!corrupt && state == FileState::Regular && after == before)
        return store::ERROR_SUCCESS;

    // Every check comes before the first step on disk, so a change that fails leaves the file
    // exactly as it was.
    if (after.size() > kMaxFileSize)
        return fail(ERROR_FILE_TOO_LARGE, store::Cause::TooLarge);
    if (state != FileState::Missing) {
        const int error = regfile::writeAccess(m_path);
        if (error == EACCES || error == EPERM || error == EROFS)
            return fail(store::ERROR_ACCESS_DENIED, store::Cause::ReadOnlyFile);
    }
    if (corrupt) {
        if (const int error = regfile::moveAside(m_path))
            return failWith(store::ERROR_ACCESS_DENIED, error);
    }
    // A link to a regular file is followed, so the file it names is the one replaced.
    const QString target =
        state == FileState::Regular && !corrupt ? QFileInfo(m_path).canonicalFilePath() : m_path;
    const regfile::Outcome written = regfile::replaceAtomically(target, after, m_beforeCommit);
    if (written.error != 0)
        return failWith(written.notCreated ? store::ERROR_ACCESS_DENIED : ERROR_WRITE_FAULT,
                        written.error);
    return store::ERROR_SUCCESS;
}
