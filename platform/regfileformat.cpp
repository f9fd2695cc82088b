#include "platform/regfileformat.h"

#include "platform/settingsstore.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr int REG_BINARY = 3;

const QString kCurrentUser = QStringLiteral("HKEY_CURRENT_USER");

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
void decodeData(const QByteArray& text, RegDocument::Entry& entry)
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

QByteArray encodeEntry(const RegDocument::Entry& entry)
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

} // namespace

bool RegDocument::writableName(const QString& name)
{
    for (QChar c : name) {
        if (c.unicode() > 0xFF || c == QChar(0) || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            return false;
    }
    return true;
}

std::optional<QStringList> RegDocument::splitPath(const QString& path)
{
    const QStringList parts = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (!writableName(part))
            return std::nullopt;
    }
    return parts;
}

bool RegDocument::isKey(const Section& section, const QStringList& path)
{
    return sameName(section.root, kCurrentUser) && section.path.size() == path.size() &&
           samePrefix(section.path, path);
}

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

const RegDocument::Entry* RegDocument::findValue(const QStringList& path, const QString& name) const
{
    return findIn(*this, path, name);
}

RegDocument::Entry* RegDocument::findValue(const QStringList& path, const QString& name)
{
    return findIn(*this, path, name);
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
