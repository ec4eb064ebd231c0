#pragma once
// An INI document read and written the way the Windows profile functions do,
// so files brought from other computers survive a save: section and key names
// match without regard to case and keep their spelling, the first of duplicate
// keys is the one read and updated, surrounding quotes are stripped from
// values, and comments, blank lines and lines without "=" stay where they are.
// Lines the program does not change keep their text and line ends.
#include "base/TextCodec.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class TIniDocument {
public:
    // Parses text already decoded from the file's bytes.
    static TIniDocument FromText(const QString &text);

    // Reads path with the text file rule (UTF-16 with its byte order mark,
    // UTF-8 or Windows-1252). False with the system's message when the file
    // cannot be read, and without reading a pipe, a device or a file far
    // larger than any configuration.
    bool Load(const QString &path, QString *error = nullptr);
    // Replaces path with the document through the safe writer, in the
    // encoding it was read in (a new document: Windows-1252 when every
    // character fits, else UTF-8). Returns an empty string on success, else
    // the system's message; the file keeps its previous bytes then.
    QString Save(const QString &path) const;
    QString Text() const;

    // The value of the first such key in the sections of that name, quotes
    // stripped; nothing when there is none.
    std::optional<QString> Value(const QString &section, const QString &key) const;
    // Updates the first such key in place, or adds it at the end of the
    // section (the section at the end of the document).
    void SetValue(const QString &section, const QString &key, const QString &value);
    // Key names of the sections of that name, first spelling of each.
    QStringList Keys(const QString &section) const;

private:
    struct TLine {
        QString Text;
        QString End; // "\r\n", "\n", or "" for a last line without one
    };
    struct TRange {
        std::size_t Header, First, Last; // lines First..Last-1 follow the header
    };
    // Every section of that name, in file order: a section written twice is
    // read as one, its first occurrence taking what is new.
    std::vector<TRange> FindSections(const QString &section) const;
    std::optional<std::size_t> FindKey(const std::vector<TRange> &ranges, const QString &key) const;
    void Insert(std::size_t at, const QString &text);

    std::vector<TLine> Lines;
    TTextEncoding Encoding = TTextEncoding::Cp1252; // as read; a new document follows EncodeText
};
