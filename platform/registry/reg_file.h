// The registry as a .reg text file, read and written as a whole, in either
// form regedit writes: "REGEDIT4" (8-bit text in the ANSI code page) or
// "Windows Registry Editor Version 5.00" (Unicode: UTF-16LE with a byte-order
// mark, as regedit exports, or UTF-8). A file is written back in the form,
// encoding and line ends it was read in. What we do not understand in a file
// is kept line for line and written back where it was, so a file that
// another tool (or a newer version of us) wrote loses nothing when we save
// over it.
//
// Inside a document all text is held as bytes of one kind: the file's own
// bytes for a REGEDIT4 file, UTF-8 for a Unicode one. Names and data coming
// from the A calls are ANSI and go through AnsiText/AnsiValue first.
#ifndef VANTREL_PLATFORM_REGISTRY_FILE_H
#define VANTREL_PLATFORM_REGISTRY_FILE_H

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::registry {

enum class Encoding {
    Ansi,   // "REGEDIT4"
    Utf8,   // "Windows Registry Editor Version 5.00" in UTF-8
    Utf16,  // the same in UTF-16LE, always with its byte-order mark
};

// The types whose data the A calls see converted to the ANSI code page.
bool IsStringType(DWORD type);

struct Value {
    std::string name;  // as first written; "" is the key's default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;  // as the A calls see it
    // In a Unicode document, for the string types: the data as the file holds
    // it (UTF-16LE), of which `data` is the ANSI view. It is what is written
    // back, so text the ANSI code page lacks survives a save.
    std::vector<BYTE> wide;

    bool operator==(const Value &other) const = default;
};

// One item under a section header: a value we understood, or the lines of
// one we did not (or a deletion, already carried out), exactly as they were
// (several when they were continued).
struct Entry {
    bool isValue = false;
    Value value;
    std::string raw;  // physical lines joined by '\n', line ends dropped

    bool operator==(const Entry &other) const = default;
};

struct Section {
    bool exposed = false;  // a key of HKEY_CURRENT_USER that the Reg* calls see
    std::string path;      // exposed: below HKEY_CURRENT_USER as first written, "" for the root
    std::string header;    // not exposed: the header line as it was
    std::vector<Entry> entries;

    bool operator==(const Section &other) const = default;
};

// Within a document every exposed key has one section, every value one entry
// in it, and a key's parents come before it.
struct Document {
    Encoding encoding = Encoding::Ansi;
    bool byteOrderMark = false;  // always for UTF-16; a UTF-8 one before either header
    bool crlf = false;           // the line ends of the file's first line, used for every line
    std::vector<std::string> leading;  // items before the first section, kept as they were
    std::vector<Section> sections;

    bool operator==(const Document &other) const = default;
};

// Nothing when the file cannot be decoded: UTF-16 of an odd length or with a
// surrogate out of its pair, a big-endian byte-order mark, a byte-order mark
// not followed by a header, a 5.00 file that is not UTF-8. Such a file is
// not ours to rewrite. Anything that decodes gives a document.
std::optional<Document> ParseFile(const std::string &bytes);
std::string WriteFile(const Document &document);

// ANSI text from the A calls (a name, a path) as the document holds text.
std::string AnsiText(const Document &document, const std::string &text);
// A value set through the A calls, ready for Tree::SetValue.
Value AnsiValue(const Document &document, const std::string &name, DWORD type, std::vector<BYTE> data);

// Limits on key paths, Windows' own: at most 512 parts deep, and a full name
// that fits the system's 32767-character names (characters of UTF-8 text in
// a Unicode document). Every section of a file brings its parents along, so
// these bound what a hostile file can make us build. A line break cannot be
// written in a section header.
constexpr size_t kLongestKeyPath = 32767;
constexpr size_t kDeepestKeyPath = 512;
// Non-empty parts within those limits, with no line break or NUL.
bool IsValidKeyPath(const std::string &path, bool utf8 = false);

// Paths and names compare without case, as Windows compares them.
std::string Canonical(const std::string &text);

// A document with its keys found by path.
class Tree {
  public:
    Tree() = default;
    explicit Tree(Document document);

    const Document &Doc() const { return document_; }
    bool KeyExists(const std::string &path) const;  // the root always exists
    Section *FindKey(const std::string &path);
    // Creates the key and every missing parent, parents first, at the end.
    Section &CreateKey(const std::string &path);

    static Value *FindValue(Section &section, const std::string &name);
    // Replaces the data and type of a value of that name (keeping the name's
    // first spelling and its place), or appends it. A value that stays as it
    // was keeps the text it was read from.
    static void SetValue(Section &section, Value value);
    static bool DeleteValue(Section &section, const std::string &name);

  private:
    friend std::optional<Document> ParseFile(const std::string &bytes);

    Document document_;
    // Canonical path -> section; ordered, so that a key's subkeys, which
    // follow it as "path\...", are found together when it is deleted.
    std::map<std::string, size_t> keys_;
};

}  // namespace vantrel::registry

#endif
