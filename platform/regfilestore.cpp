#include "platform/regfilestore.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr unsigned KEY_QUERY_VALUE = 0x1;
constexpr unsigned KEY_SET_VALUE = 0x2;
constexpr int REG_BINARY = 3;

const QByteArray kHeader = QByteArrayLiteral("REGEDIT4");
const QString kCurrentUser = QStringLiteral("HKEY_CURRENT_USER");

struct Entry {
    QByteArray raw; // the lines as read, joined by '\n'; empty once the entry is (re)written
    bool isValue = false;
    QString name; // "" is the key's default value, written @
    int type = 0;
    QByteArray data;
};

struct Section {
    QByteArray raw; // the header line as read; empty for a section made here
    QString root;
    QStringList path;
    QList<Entry> entries;
};

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool samePrefix(const QStringList& full, const QStringList& prefix)
{
    if (full.size() < prefix.size())
        return false;
    for (qsizetype i = 0; i < prefix.size(); ++i) {
        if (!sameName(full.at(i), prefix.at(i)))
            return false;
    }
    return true;
}

// Names travel as one byte per character, and a line break or NUL would break the line format.
bool writableName(const QString& name)
{
    for (QChar c : name) {
        if (c.unicode() > 0xFF || c == QChar(0) || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            return false;
    }
    return true;
}

std::optional<QStringList> splitPath(const QString& path)
{
    const QStringList parts = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (!writableName(part))
            return std::nullopt;
    }
    return parts;
}

QByteArray escaped(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        if (c == '\\' || c == '"')
            out.append('\\');
        out.append(c);
    }
    return out;
}

// Reads a quoted string starting at line[pos] == '"'; pos ends after the closing quote.
std::optional<QByteArray> unquoted(const QByteArray& line, qsizetype& pos)
{
    QByteArray out;
    for (qsizetype i = pos + 1; i < line.size(); ++i) {
        const char c = line.at(i);
        if (c == '"') {
            pos = i + 1;
            return out;
        }
        if (c == '\\') {
            if (i + 1 >= line.size())
                return std::nullopt;
            const char next = line.at(++i);
            if (next != '\\' && next != '"')
                return std::nullopt;
            out.append(next);
        } else {
            out.append(c);
        }
    }
    return std::nullopt;
}

bool isHexDigits(const QByteArray& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

QByteArray hexBytes(const QByteArray& data)
{
    return data.toHex(',');
}

std::optional<QByteArray> fromHexBytes(const QByteArray& text)
{
    QByteArray out;
    const QByteArray body = text.trimmed();
    if (body.isEmpty())
        return out;
    for (const QByteArray& item : body.split(',')) {
        const QByteArray digits = item.trimmed();
        if (digits.isEmpty() || digits.size() > 2 || !isHexDigits(digits))
            return std::nullopt;
        out.append(char(digits.toUInt(nullptr, 16)));
    }
    return out;
}

// The value kinds this store reads; anything else is kept and reported as raw bytes.
void decodeData(const QByteArray& text, Entry& entry)
{
    entry.type = REG_BINARY;
    entry.data = text;
    if (text.startsWith('"')) {
        qsizetype pos = 0;
        const std::optional<QByteArray> value = unquoted(text, pos);
        if (value && text.mid(pos).trimmed().isEmpty()) {
            entry.type = store::REG_SZ;
            entry.data = *value;
        }
        return;
    }
    const QByteArray lower = text.toLower();
    if (lower.startsWith("dword:")) {
        const QByteArray digits = text.mid(6).trimmed();
        if (!digits.isEmpty() && digits.size() <= 8 && isHexDigits(digits)) {
            const uint value = digits.toUInt(nullptr, 16);
            entry.type = store::REG_DWORD;
            entry.data = QByteArray(4, '\0');
            for (int i = 0; i < 4; ++i)
                entry.data[i] = char((value >> (8 * i)) & 0xFF);
        }
        return;
    }
    int type = REG_BINARY;
    qsizetype colon = -1;
    if (lower.startsWith("hex:")) {
        colon = 3;
    } else if (lower.startsWith("hex(")) {
        const qsizetype close = lower.indexOf("):");
        const QByteArray digits = lower.mid(4, close - 4);
        if (close <= 4 || digits.size() > 8 || !isHexDigits(digits))
            return;
        type = int(digits.toUInt(nullptr, 16));
        colon = close + 1;
    } else {
        return;
    }
    const std::optional<QByteArray> bytes = fromHexBytes(text.mid(colon + 1));
    if (!bytes)
        return;
    // A 32-bit integer of another length cannot be read as one.
    if (type == store::REG_DWORD && bytes->size() != 4)
        type = REG_BINARY;
    entry.type = type;
    entry.data = *bytes;
}

QByteArray encodeEntry(const Entry& entry)
{
    QByteArray line =
        entry.name.isEmpty() ? QByteArrayLiteral("@") : '"' + escaped(entry.name.toLatin1()) + '"';
    line.append('=');
    const bool plainText = entry.type == store::REG_SZ && !entry.data.contains('\0') &&
                           !entry.data.contains('\n') && !entry.data.contains('\r');
    if (plainText) {
        line += '"' + escaped(entry.data) + '"';
    } else if (entry.type == store::REG_DWORD && entry.data.size() == 4) {
        quint32 value = 0;
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | quint8(entry.data.at(i));
        line += "dword:" + QByteArray::number(value, 16).rightJustified(8, '0');
    } else if (entry.type == REG_BINARY) {
        line += "hex:" + hexBytes(entry.data);
    } else {
        // Text holding a NUL or a line break goes here too, as bytes of the text kind.
        line += "hex(" + QByteArray::number(entry.type, 16) + "):" + hexBytes(entry.data);
    }
    return line;
}

QByteArray withoutCarriageReturn(const QByteArray& line)
{
    return line.endsWith('\r') ? line.chopped(1) : line;
}

// Hex digits, commas and blanks, perhaps ending in the backslash of a further continuation.
bool isByteListLine(const QByteArray& text)
{
    const QByteArray body = text.endsWith('\\') ? text.chopped(1) : text;
    return !body.trimmed().isEmpty() && std::all_of(body.begin(), body.end(), [](char c) {
        return c == ',' || c == ' ' || c == '\t' || std::isxdigit(static_cast<unsigned char>(c));
    });
}

enum class FileState { Missing, Regular, TooLarge, Unusable };

// Reads the file only when it is a regular one of bounded size. Anything else at the path is
// not even opened, since opening a FIFO blocks and opening a device can act on it; the check
// after opening catches one swapped in meanwhile.
FileState readRegularFile(const QString& path, QByteArray* bytes)
{
    const QByteArray local = QFile::encodeName(path);
    struct stat info {
    };
    if (::stat(local.constData(), &info) != 0) {
        // A dangling link is not "no file": a save would create whatever it names.
        const bool nothing = errno == ENOENT && ::lstat(local.constData(), &info) != 0;
        return nothing ? FileState::Missing : FileState::Unusable;
    }
    if (!S_ISREG(info.st_mode))
        return FileState::Unusable;
    if (info.st_size > RegFileStore::kMaxFileSize)
        return FileState::TooLarge;
    const int fd = ::open(local.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return FileState::Unusable;
    FileState state = FileState::Unusable;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        // One byte beyond the bound tells a file that grew past it meanwhile.
        constexpr qsizetype limit = RegFileStore::kMaxFileSize + 1;
        bytes->resize(qMin<qsizetype>(info.st_size + 1, limit));
        qsizetype got = 0;
        for (;;) {
            if (got == bytes->size()) {
                if (got == limit)
                    break;
                bytes->resize(qMin<qsizetype>(got * 2, limit));
            }
            const ssize_t n = ::read(fd, bytes->data() + got, size_t(bytes->size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                state = n == 0 ? FileState::Regular : FileState::Unusable;
                break;
            }
            got += n;
        }
        bytes->truncate(got);
        if (got > RegFileStore::kMaxFileSize)
            state = FileState::TooLarge;
    }
    ::close(fd);
    return state;
}

// A lock on a file beside the store, held through flock(). The kernel releases it however its
// owner ends, so a lock is never stale: no owner's process number or age needs judging, and a
// lock file a killed program left behind is simply locked again.
class StoreLock
{
public:
    ~StoreLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    long acquire(const QString& path, int timeoutMs)
    {
        m_fd = ::open(QFile::encodeName(path).constData(),
                      O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                      S_IRUSR | S_IWUSR);
        if (m_fd < 0)
            return store::ERROR_ACCESS_DENIED;
        const QDeadlineTimer deadline(timeoutMs);
        while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                return store::ERROR_ACCESS_DENIED;
            if (deadline.hasExpired())
                return RegFileStore::ERROR_LOCK_VIOLATION;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return store::ERROR_SUCCESS;
    }

private:
    int m_fd = -1;
};

const QString kSavingInfix = QStringLiteral(".saving-");

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Writes the new contents beside the target and renames them over it, so the target is always
// the old file or the new one. The temporary name is this store's own, so that the next save
// (holding the lock, so no save is under way) can remove what a killed one left behind without
// ever touching a file of the user's.
long replaceAtomically(const QString& target, const QByteArray& bytes,
                       const std::function<void()>& beforeCommit)
{
    const QFileInfo info(target);
    QDir directory = info.dir();
    const QString prefix = info.fileName() + kSavingInfix;
    for (const QString& left : directory.entryList({prefix + QLatin1Char('*')},
                                                   QDir::Files | QDir::Hidden | QDir::System))
        directory.remove(left);

    const QByteArray temp =
        QFile::encodeName(directory.filePath(prefix) + QString::number(qint64(::getpid())));
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0)
        return store::ERROR_ACCESS_DENIED;
    bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && beforeCommit)
        beforeCommit();
    ok = ok && ::rename(temp.constData(), QFile::encodeName(target).constData()) == 0;
    if (!ok)
        ::unlink(temp.constData());
    return ok ? store::ERROR_SUCCESS : RegFileStore::ERROR_WRITE_FAULT;
}

} // namespace

struct RegDocument {
    QByteArray header = kHeader;
    QList<QByteArray> preamble; // comments between the header and the first section
    QList<Section> sections;

    static std::optional<RegDocument> parse(const QByteArray& bytes);
    QByteArray serialize() const;

    bool keyExists(const QStringList& path) const;
    const Entry* findValue(const QStringList& path, const QString& name) const
    {
        return findIn(*this, path, name);
    }
    Entry* findValue(const QStringList& path, const QString& name)
    {
        return findIn(*this, path, name);
    }
    void addKey(const QStringList& path);
    void setValue(const QStringList& path, const QString& name, int type, const QByteArray& data);

private:
    template <typename Document>
    static auto findIn(Document& doc, const QStringList& path, const QString& name)
        -> decltype(&doc.sections.first().entries.first());

    static bool isKey(const Section& section, const QStringList& path)
    {
        return sameName(section.root, kCurrentUser) && section.path.size() == path.size() &&
               samePrefix(section.path, path);
    }
};

std::optional<RegDocument> RegDocument::parse(const QByteArray& bytes)
{
    RegDocument doc;
    if (bytes.isEmpty())
        return doc;
    QList<QByteArray> lines = bytes.split('\n');
    if (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();

    QByteArray first = withoutCarriageReturn(lines.first());
    if (first.startsWith("\xEF\xBB\xBF"))
        first.remove(0, 3);
    if (first.trimmed() != kHeader)
        return std::nullopt;
    doc.header = lines.first();

    Section* current = nullptr;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& raw = lines.at(i);
        const QByteArray text = withoutCarriageReturn(raw).trimmed();
        if (text.isEmpty())
            continue;
        if (text.startsWith(';')) {
            Entry comment;
            comment.raw = raw;
            if (current)
                current->entries.append(comment);
            else
                doc.preamble.append(raw);
            continue;
        }
        if (text.startsWith('[')) {
            if (!text.endsWith(']'))
                return std::nullopt;
            Section section;
            section.raw = raw;
            QStringList parts = QString::fromLatin1(text.mid(1, text.size() - 2))
                                    .split(QLatin1Char('\\'), Qt::SkipEmptyParts);
            if (!parts.isEmpty())
                section.root = parts.takeFirst();
            section.path = parts;
            doc.sections.append(section);
            current = &doc.sections.last();
            continue;
        }
        if (!current || (!text.startsWith('"') && !text.startsWith('@')))
            return std::nullopt;

        Entry entry;
        entry.isValue = true;
        entry.raw = raw;
        qsizetype pos = 1;
        if (text.startsWith('"')) {
            pos = 0;
            const std::optional<QByteArray> name = unquoted(text, pos);
            if (!name)
                return std::nullopt;
            entry.name = QString::fromLatin1(*name);
        }
        while (pos < text.size() && (text.at(pos) == ' ' || text.at(pos) == '\t'))
            ++pos;
        if (pos >= text.size() || text.at(pos) != '=')
            return std::nullopt;
        QByteArray data = text.mid(pos + 1).trimmed();
        // Only byte lists go on over lines that end with a backslash, and only onto lines of
        // bytes: a value must never swallow the header or value that follows it.
        const QByteArray kind = data.left(4).toLower();
        if (kind == "hex:" || kind == "hex(") {
            while (data.endsWith('\\')) {
                if (++i >= lines.size())
                    return std::nullopt;
                const QByteArray more = withoutCarriageReturn(lines.at(i)).trimmed();
                if (!isByteListLine(more))
                    return std::nullopt;
                data.chop(1);
                entry.raw += '\n' + lines.at(i);
                data += more;
            }
        }
        decodeData(data, entry);
        current->entries.append(entry);
    }
    return doc;
}

QByteArray RegDocument::serialize() const
{
    QByteArray out = header + '\n';
    for (const QByteArray& line : preamble)
        out += line + '\n';
    for (const Section& section : sections) {
        out += '\n';
        if (section.raw.isEmpty())
            out += '[' +
                   (QStringList{section.root} + section.path).join(QLatin1Char('\\')).toLatin1() +
                   "]\n";
        else
            out += section.raw + '\n';
        for (const Entry& entry : section.entries)
            out += (entry.raw.isEmpty() ? encodeEntry(entry) : entry.raw) + '\n';
    }
    return out;
}

bool RegDocument::keyExists(const QStringList& path) const
{
    if (path.isEmpty())
        return true; // the root itself always exists
    for (const Section& section : sections) {
        if (sameName(section.root, kCurrentUser) && samePrefix(section.path, path))
            return true;
    }
    return false;
}

template <typename Document>
auto RegDocument::findIn(Document& doc, const QStringList& path, const QString& name)
    -> decltype(&doc.sections.first().entries.first())
{
    // As when the file is imported, a later line for the same value wins.
    decltype(&doc.sections.first().entries.first()) found = nullptr;
    for (auto& section : doc.sections) {
        if (!isKey(section, path))
            continue;
        for (auto& entry : section.entries) {
            if (entry.isValue && sameName(entry.name, name))
                found = &entry;
        }
    }
    return found;
}

void RegDocument::addKey(const QStringList& path)
{
    for (const Section& section : sections) {
        if (isKey(section, path))
            return;
    }
    // Levels that exist already keep the spelling they have.
    Section section;
    section.root = kCurrentUser;
    section.path = path;
    for (qsizetype level = 0; level < path.size(); ++level) {
        for (const Section& other : sections) {
            if (sameName(other.root, kCurrentUser) &&
                samePrefix(other.path, path.mid(0, level + 1))) {
                section.path[level] = other.path.at(level);
                break;
            }
        }
    }
    sections.append(section);
}

void RegDocument::setValue(const QStringList& path, const QString& name, int type,
                           const QByteArray& data)
{
    if (Entry* existing = findValue(path, name)) {
        existing->raw.clear();
        existing->type = type;
        existing->data = data;
        return;
    }
    addKey(path);
    Section* last = nullptr;
    for (Section& section : sections) {
        if (isKey(section, path))
            last = &section;
    }
    Entry entry;
    entry.isValue = true;
    entry.name = name;
    entry.type = type;
    entry.data = data;
    last->entries.append(entry);
}

RegFileStore::RegFileStore(const QString& filePath) : m_path(filePath) {}

RegFileStore::~RegFileStore() = default;

RegDocument RegFileStore::load()
{
    if (m_batchDocument)
        return *m_batchDocument;
    // A file that cannot be read or parsed reads as an empty store; a save moves it aside.
    RegDocument doc;
    QByteArray bytes;
    if (!m_path.isEmpty()) {
        ++m_fileReads;
        if (readRegularFile(m_path, &bytes) == FileState::Regular)
            doc = RegDocument::parse(bytes).value_or(RegDocument{});
    }
    if (m_batchDepth > 0)
        m_batchDocument = std::make_unique<RegDocument>(doc);
    return doc;
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
    const std::optional<QStringList> parts = splitPath(path);
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
    const std::optional<QStringList> parts = splitPath(path);
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
    const Entry* entry = doc.findValue(opened->path, name);
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
    if (!writableName(name) || type < 0)
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

bool RegFileStore::ensureDirectory() const
{
    const QString directory = QFileInfo(m_path).absolutePath();
    QStringList missing;
    QString level = directory;
    while (!QFileInfo(level).exists()) {
        missing.prepend(level);
        const QString parent = QFileInfo(level).absolutePath();
        if (parent == level)
            break;
        level = parent;
    }
    // Settings are private to their user: every folder made here is 0700, and so is the
    // store's own folder when it was there already.
    for (const QString& path : missing) {
        if (::mkdir(QFile::encodeName(path).constData(), S_IRWXU) != 0 && errno != EEXIST)
            return false;
    }
    if (missing.isEmpty())
        ::chmod(QFile::encodeName(directory).constData(), S_IRWXU);
    return QFileInfo(directory).isDir();
}

bool RegFileStore::moveAside() const
{
    const QString base = m_path + QStringLiteral(".corrupt-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = base;
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = base + QLatin1Char('-') + QString::number(n);
    return QFile::rename(m_path, aside);
}

long RegFileStore::change(const Edit& edit)
{
    if (m_path.isEmpty())
        return store::ERROR_ACCESS_DENIED;
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
    if (m_path.isEmpty() || !ensureDirectory())
        return store::ERROR_ACCESS_DENIED;
    StoreLock lock;
    if (const long status = lock.acquire(m_path + QStringLiteral(".lock"), m_lockTimeout);
        status != store::ERROR_SUCCESS)
        return status;

    QByteArray before;
    ++m_fileReads;
    FileState state = readRegularFile(m_path, &before);
    // Never written through: a FIFO, a device or a dangling link stays as it is.
    if (state == FileState::Unusable)
        return store::ERROR_ACCESS_DENIED;
    std::optional<RegDocument> doc;
    if (state == FileState::Regular)
        doc = RegDocument::parse(before);
    if (!doc && state != FileState::Missing) {
        // Nothing is ever silently dropped: what cannot be read is kept aside whole.
        if (!moveAside())
            return store::ERROR_ACCESS_DENIED;
        state = FileState::Missing;
    }
    if (!doc)
        doc = RegDocument{};

    for (const Edit& edit : edits)
        edit(*doc);
    const QByteArray after = doc->serialize();
    if (state == FileState::Regular && after == before)
        return store::ERROR_SUCCESS;
    // A link to a regular file is followed, so the file it names is the one replaced.
    const QString target =
        state == FileState::Regular ? QFileInfo(m_path).canonicalFilePath() : m_path;
    return replaceAtomically(target, after, m_beforeCommit);
}
