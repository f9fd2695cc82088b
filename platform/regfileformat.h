#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The registry export text format as the per-user store keeps it: "REGEDIT4", then a section per
// key ("[HKEY_CURRENT_USER\Software\...]") and a line per value ("Name"="text", "Name"=dword:
// eight hex digits, hex:/hex(n): byte lists). Only the current user's root is looked at. Lines
// this store does not understand inside a section (other value kinds, comments) are kept as
// they were read and written back unchanged.
struct RegDocument {
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

    static constexpr char kHeader[] = "REGEDIT4";

    QByteArray header = kHeader; // as read, perhaps with a byte-order mark or a carriage return
    QList<QByteArray> preamble;  // comments between the header and the first section
    QList<Section> sections;

    // Nothing when the bytes are not a file of this format.
    static std::optional<RegDocument> parse(const QByteArray& bytes);
    QByteArray serialize() const;

    bool keyExists(const QStringList& path) const;
    const Entry* findValue(const QStringList& path, const QString& name) const;
    Entry* findValue(const QStringList& path, const QString& name);
    void addKey(const QStringList& path);
    void setValue(const QStringList& path, const QString& name, int type, const QByteArray& data);

    // Whether a key or value name can be written as one: one byte per character, and no line
    // break or NUL, which would break the line format.
    static bool writableName(const QString& name);
    // The levels of a backslash path, or nothing when one of them cannot be written.
    static std::optional<QStringList> splitPath(const QString& path);

private:
    template <typename Document>
    static auto findIn(Document& doc, const QStringList& path, const QString& name)
        -> decltype(&doc.sections.first().entries.first());
    static bool isKey(const Section& section, const QStringList& path);
};
