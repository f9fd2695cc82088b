#include "platform/regfilestore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QLockFile>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <optional>
#include <sys/stat.h>

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
        // Byte lists go on over lines that end with a backslash.
        if (!data.startsWith('"')) {
            while (data.endsWith('\\') && i + 1 < lines.size()) {
                data.chop(1);
                ++i;
                entry.raw += '\n' + lines.at(i);
                data += withoutCarriageReturn(lines.at(i)).trimmed();
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

RegDocument RegFileStore::load() const
{
    // A file that cannot be read or parsed reads as an empty store; a save moves it aside.
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return RegDocument{};
    std::optional<RegDocument> doc = RegDocument::parse(file.readAll());
    return doc ? *doc : RegDocument{};
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
        const long status = change([&](RegDocument& doc) {
            if (!doc.keyExists(*parts))
                doc.addKey(*parts);
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
    return change([&](RegDocument& doc) { doc.setValue(path, name, type, data); });
}

long RegFileStore::closeKey(store::Key key)
{
    return m_keys.remove(key) ? store::ERROR_SUCCESS : store::ERROR_INVALID_HANDLE;
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
    // Settings are private to their user: every folder made here is 0700.
    for (const QString& path : missing) {
        if (::mkdir(QFile::encodeName(path).constData(), S_IRWXU) != 0 && errno != EEXIST)
            return false;
    }
    return QFileInfo(directory).isDir();
}

bool RegFileStore::moveAside() const
{
    const QString base = m_path + QStringLiteral(".corrupt-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = base;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = base + QLatin1Char('-') + QString::number(n);
    return QFile::rename(m_path, aside);
}

long RegFileStore::change(const std::function<void(RegDocument&)>& edit)
{
    if (!ensureDirectory())
        return store::ERROR_ACCESS_DENIED;
    QLockFile lock(m_path + QStringLiteral(".lock"));
    if (!lock.tryLock(m_lockTimeout)) {
        return lock.error() == QLockFile::LockFailedError ? ERROR_LOCK_VIOLATION
                                                          : store::ERROR_ACCESS_DENIED;
    }

    QFile file(m_path);
    QByteArray before;
    bool exists = file.exists();
    if (exists) {
        // Never write over a file that could not be read: its contents would be lost.
        if (!file.open(QIODevice::ReadOnly))
            return store::ERROR_ACCESS_DENIED;
        before = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return store::ERROR_ACCESS_DENIED;
        file.close();
    }
    std::optional<RegDocument> doc = RegDocument::parse(before);
    if (!doc) {
        if (!moveAside())
            return store::ERROR_ACCESS_DENIED;
        doc = RegDocument{};
        exists = false;
    }

    edit(*doc);
    const QByteArray after = doc->serialize();
    if (exists && after == before)
        return store::ERROR_SUCCESS;

    QSaveFile save(m_path);
    if (!save.open(QIODevice::WriteOnly))
        return store::ERROR_ACCESS_DENIED;
    if (::fchmod(save.handle(), S_IRUSR | S_IWUSR) != 0 || save.write(after) != after.size()) {
        save.cancelWriting();
        return ERROR_WRITE_FAULT;
    }
    if (m_beforeCommit)
        m_beforeCommit();
    if (!save.commit())
        return ERROR_WRITE_FAULT;
    return store::ERROR_SUCCESS;
}
