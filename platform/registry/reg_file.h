// The registry as a REGEDIT4 text file, read and written as a whole. What we
// do not understand in a file is kept line for line and written back where it
// was, so a file that another tool (or a newer version of us) wrote loses
// nothing when we save over it.
#ifndef VANTREL_PLATFORM_REGISTRY_FILE_H
#define VANTREL_PLATFORM_REGISTRY_FILE_H

#include <windows.h>

#include <string>
#include <unordered_map>
#include <vector>

namespace vantrel::registry {

struct Value {
    std::string name;  // as first written; "" is the key's default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    bool operator==(const Value &other) const = default;
};

// One item under a section header: a value we understood, or the lines of
// one we did not, exactly as they were (several when they were continued).
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
    std::vector<std::string> leading;  // items before the first section, kept as they were
    std::vector<Section> sections;

    bool operator==(const Document &other) const = default;
};

Document ParseFile(const std::string &text);
std::string WriteFile(const Document &document);

// Limits on key paths, Windows' own: at most 512 parts deep, and a full name
// that fits the system's 32767-character names. Every section of a file
// brings its parents along, so these bound what a hostile file can make us
// build. A line break cannot be written in a section header.
constexpr size_t kLongestKeyPath = 32767;
constexpr size_t kDeepestKeyPath = 512;
// Non-empty parts within those limits, with no line break or NUL.
bool IsValidKeyPath(const std::string &path);

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
    // first spelling and its place), or appends it.
    static void SetValue(Section &section, Value value);
    static bool DeleteValue(Section &section, const std::string &name);

  private:
    friend Document ParseFile(const std::string &text);

    Document document_;
    std::unordered_map<std::string, size_t> keys_;  // canonical path -> section
};

}  // namespace vantrel::registry

#endif
