// Reading and writing the .reg text. The reader never gives up on a file it
// can decode: a line it cannot make sense of becomes a kept line, and the
// writer puts it back where it was. Everything here works on strings, so it
// can be fed any bytes at all (the fuzz target does).
#include "registry/reg_file.h"

#include <algorithm>
#include <cctype>
#include <unordered_map>
#include <utility>

#include "kernel/code_page.h"

namespace vantrel::registry {
namespace {

const char kRoot[] = "HKEY_CURRENT_USER";
const size_t kRootLength = sizeof kRoot - 1;
const char kHeaderAnsi[] = "REGEDIT4";
const char kHeaderUnicode[] = "Windows Registry Editor Version 5.00";
const char kUtf8Mark[] = "\xEF\xBB\xBF";

// A carriage return counts as a blank: in a file whose first line ends in
// LF alone, a stray CR before a later line end stays in that line's text
// (so a kept line is written back as it was) and must not spoil a value.
bool IsBlankChar(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

size_t SkipBlanks(const std::string &text, size_t at)
{
    while (at < text.size() && IsBlankChar(text[at]))
        ++at;
    return at;
}

bool IsBlankLine(const std::string &line)
{
    return SkipBlanks(line, 0) == line.size();
}

std::string TrimRight(const std::string &text)
{
    size_t end = text.size();
    while (end > 0 && IsBlankChar(text[end - 1]))
        --end;
    return text.substr(0, end);
}

bool EndsWithBackslash(const std::string &line)
{
    size_t end = line.size();
    while (end > 0 && IsBlankChar(line[end - 1]))
        --end;
    return end > 0 && line[end - 1] == '\\';
}

bool EqualNoCase(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool StartsWithNoCase(const std::string &text, size_t at, const char *prefix)
{
    for (size_t i = 0; prefix[i]; ++i, ++at) {
        if (at >= text.size() ||
            std::tolower(static_cast<unsigned char>(text[at])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// --- text and code pages ----------------------------------------------------

bool IsUnicode(const Document &document)
{
    return document.encoding != Encoding::Ansi;
}

std::vector<BYTE> BytesOfUnits(const std::u16string &units)
{
    std::vector<BYTE> bytes;
    bytes.reserve(units.size() * 2);
    for (char16_t unit : units) {
        bytes.push_back(static_cast<BYTE>(unit));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    return bytes;
}

// An odd last byte is no character and has no ANSI form.
std::u16string UnitsOfBytes(const std::vector<BYTE> &bytes)
{
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return units;
}

std::vector<BYTE> AnsiView(const std::vector<BYTE> &wide)
{
    std::string ansi = layer::AnsiFromUtf16(UnitsOfBytes(wide));
    return std::vector<BYTE>(ansi.begin(), ansi.end());
}

// The first line that is not blank, without its blanks.
std::string FirstLine(const std::string &text)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = std::min(text.find('\n', start), text.size());
        size_t first = SkipBlanks(text, start);
        if (first < end)
            return TrimRight(text.substr(first, end - first));
        start = end + 1;
    }
    return "";
}

// The file's bytes as the document's text, with how they were encoded. A
// byte-order mark promises a registry file of its kind, so one followed by
// anything else is a file we do not understand rather than one to repair.
bool Decode(const std::string &bytes, Document &document, std::string &text)
{
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        if (bytes.size() % 2 != 0)
            return false;
        std::vector<BYTE> raw(bytes.begin() + 2, bytes.end());
        if (!layer::Utf8FromUtf16(UnitsOfBytes(raw), text))
            return false;
        document.encoding = Encoding::Utf16;
        document.byteOrderMark = true;
        return FirstLine(text) == kHeaderUnicode;
    }
    if (bytes.compare(0, 2, "\xFE\xFF") == 0)
        return false;  // big-endian UTF-16, which no registry editor writes
    document.byteOrderMark = bytes.compare(0, 3, kUtf8Mark) == 0;
    text = document.byteOrderMark ? bytes.substr(3) : bytes;
    std::string first = FirstLine(text);
    if (first == kHeaderUnicode) {
        document.encoding = Encoding::Utf8;
        std::u16string units;
        return layer::Utf16FromUtf8(text, units);
    }
    document.encoding = Encoding::Ansi;
    return !document.byteOrderMark || first == kHeaderAnsi;
}

std::string Encode(const Document &document, const std::string &text)
{
    if (document.encoding != Encoding::Utf16)
        return (document.byteOrderMark ? kUtf8Mark : "") + text;
    std::u16string units;
    // The document's text is UTF-8 by construction; should that ever fail,
    // the output must still be UTF-16 throughout.
    if (!layer::Utf16FromUtf8(text, units))
        units = layer::Utf16FromAnsi(text);
    std::vector<BYTE> bytes = BytesOfUnits(units);
    return "\xFF\xFE" + std::string(bytes.begin(), bytes.end());
}

// --- reading ------------------------------------------------------------------

// Up to `most` hex digits at `at` into a 32-bit number; false for none or too many.
bool ReadHexNumber(const std::string &text, size_t &at, size_t most, DWORD &number)
{
    size_t digits = 0;
    number = 0;
    while (at < text.size() && HexDigit(text[at]) >= 0) {
        if (++digits > most)
            return false;
        number = (number << 4) | static_cast<DWORD>(HexDigit(text[at]));
        ++at;
    }
    return digits > 0;
}

// A quoted string starting at the quote; `at` ends past the closing quote.
// Only the escapes the writer makes are accepted: anything else is a line we
// do not understand, and keeping it is safer than guessing.
bool ReadQuoted(const std::string &text, size_t &at, std::string &out)
{
    out.clear();
    ++at;
    while (at < text.size()) {
        char c = text[at++];
        if (c == '"')
            return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (at >= text.size())
            return false;
        char escaped = text[at++];
        switch (escaped) {
        case '\\':
        case '"':
            out += escaped;
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return false;
        }
    }
    return false;
}

// "xx,xx,..." to the end of the text; a trailing comma is tolerated.
bool ReadHexList(const std::string &text, size_t at, std::vector<BYTE> &out)
{
    out.clear();
    at = SkipBlanks(text, at);
    while (at < text.size()) {
        DWORD byte;
        if (!ReadHexNumber(text, at, 2, byte))
            return false;
        out.push_back(static_cast<BYTE>(byte));
        at = SkipBlanks(text, at);
        if (at == text.size())
            return true;
        if (text[at] != ',')
            return false;
        at = SkipBlanks(text, at + 1);
    }
    return true;
}

// `@` or a quoted name, then '='; `at` ends past the '=' and its blanks.
bool ReadValueName(const std::string &line, size_t &at, std::string &name)
{
    at = SkipBlanks(line, 0);
    if (at >= line.size())
        return false;
    if (line[at] == '@') {
        name.clear();
        ++at;
    } else if (line[at] == '"') {
        // A name holding a NUL could never be asked for through the A calls.
        if (!ReadQuoted(line, at, name) || name.find('\0') != std::string::npos)
            return false;
    } else {
        return false;
    }
    at = SkipBlanks(line, at);
    if (at >= line.size() || line[at] != '=')
        return false;
    at = SkipBlanks(line, at + 1);
    return true;
}

// `"name"=-`: the value goes, as an import removes it.
bool ParseDeletion(const std::string &line, std::string &name)
{
    size_t at;
    return ReadValueName(line, at, name) && at < line.size() && line[at] == '-' &&
           SkipBlanks(line, at + 1) == line.size();
}

bool ParseValue(const std::string &line, bool unicode, Value &value)
{
    size_t at;
    if (!ReadValueName(line, at, value.name) || at >= line.size())
        return false;

    if (line[at] == '"') {
        std::string text;
        if (!ReadQuoted(line, at, text) || SkipBlanks(line, at) != line.size())
            return false;
        value.type = REG_SZ;
        if (unicode) {
            std::u16string units;
            if (!layer::Utf16FromUtf8(text, units))
                return false;
            units.push_back(u'\0');
            value.wide = BytesOfUnits(units);
            value.data = AnsiView(value.wide);
        } else {
            value.data.assign(text.begin(), text.end());
            value.data.push_back(0);
        }
        return true;
    }
    if (StartsWithNoCase(line, at, "dword:")) {
        at += 6;
        DWORD number;
        if (!ReadHexNumber(line, at, 8, number) || SkipBlanks(line, at) != line.size())
            return false;
        value.type = REG_DWORD;
        value.data = {BYTE(number), BYTE(number >> 8), BYTE(number >> 16), BYTE(number >> 24)};
        return true;
    }
    if (StartsWithNoCase(line, at, "hex")) {
        at += 3;
        DWORD type = REG_BINARY;
        if (at < line.size() && line[at] == '(') {
            ++at;
            if (!ReadHexNumber(line, at, 8, type) || at >= line.size() || line[at] != ')')
                return false;
            ++at;
        }
        if (at >= line.size() || line[at] != ':')
            return false;
        std::vector<BYTE> bytes;
        if (!ReadHexList(line, at + 1, bytes))
            return false;
        value.type = type;
        if (unicode && IsStringType(type)) {
            value.data = AnsiView(bytes);
            value.wide = std::move(bytes);
        } else {
            value.data = std::move(bytes);
        }
        return true;
    }
    return false;
}

enum class Header { Key, DeleteKey, Other };

// What a section header names: a key below HKEY_CURRENT_USER (its path is
// left in `path`), the deletion of one ("[-...]"), or something else: any
// other root, the root itself deleted, anything malformed.
Header ParseHeader(const std::string &line, bool utf8, std::string &path)
{
    size_t open = SkipBlanks(line, 0);
    size_t close = line.rfind(']');
    if (open >= line.size() || line[open] != '[' || close == std::string::npos || close <= open ||
        SkipBlanks(line, close + 1) != line.size())
        return Header::Other;
    bool deletion = open + 1 < close && line[open + 1] == '-';
    size_t first = open + (deletion ? 2 : 1);
    std::string inside = line.substr(first, close - first);
    if (inside.find('\0') != std::string::npos || !StartsWithNoCase(inside, 0, kRoot))
        return Header::Other;
    if (inside.size() == kRootLength) {
        path.clear();
        return deletion ? Header::Other : Header::Key;
    }
    if (inside[kRootLength] != '\\')
        return Header::Other;
    path = inside.substr(kRootLength + 1);
    if (!IsValidKeyPath(path, utf8))
        return Header::Other;
    return deletion ? Header::DeleteKey : Header::Key;
}

// Physical lines without their line ends: LF, or CR LF in a file whose
// first line ends so.
std::vector<std::string> SplitLines(const std::string &text, bool crlf)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = std::min(text.find('\n', start), text.size());
        size_t cut = end;
        if (crlf && end < text.size() && cut > start && text[cut - 1] == '\r')
            --cut;
        lines.push_back(text.substr(start, cut - start));
        start = end + 1;
    }
    return lines;
}

// Whether a physical line can carry on the value line before it. A line that
// begins something of its own never does, so a dangling backslash cannot
// swallow the next value or section.
bool CanContinue(const std::string &line)
{
    size_t at = SkipBlanks(line, 0);
    return at < line.size() && line[at] != '[' && line[at] != '"' && line[at] != '@';
}

void ReplaceData(Value &existing, Value &&value)
{
    existing.type = value.type;
    existing.data = std::move(value.data);
    existing.wide = std::move(value.wide);
}

// --- writing ------------------------------------------------------------------

std::string QuoteName(const std::string &text)
{
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out + "\"";
}

// The text of a string that reads back as the same bytes: terminated once,
// at the end, and free of line breaks (which regedit has no escape for).
bool QuotedText(const Value &value, bool unicode, std::string &text)
{
    if (value.type != REG_SZ)
        return false;
    auto breaksLine = [](char16_t c) { return c == 0 || c == '\n' || c == '\r'; };
    if (!unicode) {
        const std::vector<BYTE> &data = value.data;
        if (data.empty() || data.back() != 0 || std::any_of(data.begin(), data.end() - 1, breaksLine))
            return false;
        text.assign(data.begin(), data.end() - 1);
        return true;
    }
    if (value.wide.size() % 2 != 0)
        return false;
    std::u16string units = UnitsOfBytes(value.wide);
    if (units.empty() || units.back() != 0 || std::any_of(units.begin(), units.end() - 1, breaksLine))
        return false;
    units.pop_back();
    return layer::Utf8FromUtf16(units, text);
}

void WriteValue(const Value &value, bool unicode, const char *lineEnd, std::string &out)
{
    static const char digits[] = "0123456789abcdef";
    std::string line = value.name.empty() ? "@" : QuoteName(value.name);
    line += '=';
    if (value.type == REG_DWORD && value.data.size() == 4) {
        DWORD number = value.data[0] | (DWORD(value.data[1]) << 8) | (DWORD(value.data[2]) << 16) |
                       (DWORD(value.data[3]) << 24);
        line += "dword:";
        for (int shift = 28; shift >= 0; shift -= 4)
            line += digits[(number >> shift) & 0xF];
        out += line + lineEnd;
        return;
    }
    std::string text;
    if (QuotedText(value, unicode, text)) {
        out += line + QuoteName(text) + lineEnd;
        return;
    }
    if (value.type == REG_BINARY) {
        line += "hex:";
    } else {
        line += "hex(";
        bool any = false;
        for (int shift = 28; shift >= 0; shift -= 4) {
            unsigned digit = (value.type >> shift) & 0xF;
            if (digit || any || shift == 0) {
                line += digits[digit];
                any = true;
            }
        }
        line += "):";
    }
    const std::vector<BYTE> &bytes = unicode && IsStringType(value.type) ? value.wide : value.data;
    // Long data goes on continued lines of at most eighty columns, backslash
    // included, broken where regedit breaks them.
    out += line;
    size_t column = line.size();
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && column + 3 > 79) {
            out += "\\";
            out += lineEnd;
            out += "  ";
            column = 2;
        }
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0xF];
        column += 2;
        if (i + 1 < bytes.size()) {
            out += ',';
            ++column;
        }
    }
    out += lineEnd;
}

void WriteRaw(const std::string &raw, const char *lineEnd, std::string &out)
{
    size_t start = 0;
    for (;;) {
        size_t end = raw.find('\n', start);
        out.append(raw, start, end == std::string::npos ? std::string::npos : end - start);
        out += lineEnd;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    // A kept line that ends in a backslash would otherwise run on into
    // whatever we write after it; a blank line stops that and reads as nothing.
    if (EndsWithBackslash(raw.substr(start)))
        out += lineEnd;
}

}  // namespace

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::string AnsiText(const Document &document, const std::string &text)
{
    if (!IsUnicode(document))
        return text;
    std::string out;
    layer::Utf8FromUtf16(layer::Utf16FromAnsi(text), out);  // never fails: no surrogates come of ANSI
    return out;
}

Value AnsiValue(const Document &document, const std::string &name, DWORD type, std::vector<BYTE> data)
{
    Value value;
    value.name = AnsiText(document, name);
    value.type = type;
    if (IsUnicode(document) && IsStringType(type))
        value.wide = BytesOfUnits(layer::Utf16FromAnsi(std::string(data.begin(), data.end())));
    value.data = std::move(data);
    return value;
}

bool IsValidKeyPath(const std::string &path, bool utf8)
{
    size_t characters = utf8 ? std::count_if(path.begin(), path.end(), [](char c) { return (c & 0xC0) != 0x80; })
                             : path.size();
    if (characters > kLongestKeyPath)
        return false;
    size_t parts = 0;
    size_t start = 0;
    for (;;) {
        size_t end = path.find('\\', start);
        size_t length = (end == std::string::npos ? path.size() : end) - start;
        if (length == 0 || ++parts > kDeepestKeyPath)
            return false;
        if (end == std::string::npos)
            return path.find('\n') == std::string::npos && path.find('\0') == std::string::npos;
        start = end + 1;
    }
}

std::string Canonical(const std::string &text)
{
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

Tree::Tree(Document document) : document_(std::move(document))
{
    for (size_t i = 0; i < document_.sections.size(); ++i)
        if (document_.sections[i].exposed)
            keys_.emplace(Canonical(document_.sections[i].path), i);
}

bool Tree::KeyExists(const std::string &path) const
{
    return path.empty() || keys_.count(Canonical(path)) != 0;
}

Section *Tree::FindKey(const std::string &path)
{
    auto found = keys_.find(Canonical(path));
    return found == keys_.end() ? nullptr : &document_.sections[found->second];
}

Section &Tree::CreateKey(const std::string &path)
{
    size_t index = 0;
    std::string spelled;  // the path so far, parents spelled as they already are
    size_t start = 0;
    do {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(start, end - start);
        std::string prefix = path.substr(0, end);
        spelled = start == 0 ? part : spelled + "\\" + part;
        auto found = keys_.find(Canonical(prefix));
        if (found != keys_.end()) {
            index = found->second;
            spelled = document_.sections[index].path;
        } else {
            Section section;
            section.exposed = true;
            section.path = spelled;
            document_.sections.push_back(std::move(section));
            index = document_.sections.size() - 1;
            keys_.emplace(Canonical(prefix), index);
        }
        start = end + 1;
    } while (start <= path.size());
    return document_.sections[index];
}

Value *Tree::FindValue(Section &section, const std::string &name)
{
    for (Entry &entry : section.entries)
        if (entry.isValue && EqualNoCase(entry.value.name, name))
            return &entry.value;
    return nullptr;
}

void Tree::SetValue(Section &section, Value value)
{
    if (Value *existing = FindValue(section, value.name)) {
        if (existing->type != value.type || existing->data != value.data)
            ReplaceData(*existing, std::move(value));
        return;
    }
    Entry entry;
    entry.isValue = true;
    entry.value = std::move(value);
    section.entries.push_back(std::move(entry));
}

bool Tree::DeleteValue(Section &section, const std::string &name)
{
    auto found = std::find_if(section.entries.begin(), section.entries.end(), [&](const Entry &entry) {
        return entry.isValue && EqualNoCase(entry.value.name, name);
    });
    if (found == section.entries.end())
        return false;
    section.entries.erase(found);
    return true;
}

// The file is read as an import into an empty registry would read it, line
// by line: a later value of the same name replaces the earlier one, and a
// deletion removes what came before it. The deletion lines themselves are
// kept where they were; what they removed is gone from the document, and
// whatever is set later comes after them, so reading the saved file again
// gives the same.
std::optional<Document> ParseFile(const std::string &bytes)
{
    Tree tree;
    Document &document = tree.document_;
    std::string text;
    if (!Decode(bytes, document, text))
        return std::nullopt;
    const bool unicode = IsUnicode(document);
    size_t firstBreak = text.find('\n');
    document.crlf = firstBreak != std::string::npos && firstBreak > 0 && text[firstBreak - 1] == '\r';
    std::vector<std::string> lines = SplitLines(text, document.crlf);

    // Values already seen, by canonical key path and name, so that a file with
    // many values stays linear. What a deletion removes is only marked while
    // reading, so that these places stay valid, and dropped at the end.
    std::unordered_map<std::string, size_t> seenValues;
    std::vector<std::vector<bool>> removedEntries;
    std::vector<bool> removedSections;
    auto removeEntry = [&](size_t section, size_t entry) {
        if (removedEntries.size() <= section)
            removedEntries.resize(section + 1);
        if (removedEntries[section].size() <= entry)
            removedEntries[section].resize(entry + 1);
        removedEntries[section][entry] = true;
    };
    auto removeKey = [&](const std::string &path) {
        removedSections.resize(document.sections.size());
        std::string canonical = Canonical(path);
        if (auto key = tree.keys_.find(canonical); key != tree.keys_.end()) {
            removedSections[key->second] = true;
            tree.keys_.erase(key);
        }
        std::string below = canonical + "\\";
        for (auto key = tree.keys_.lower_bound(below);
             key != tree.keys_.end() && key->first.compare(0, below.size(), below) == 0;) {
            removedSections[key->second] = true;
            key = tree.keys_.erase(key);
        }
    };

    bool inSection = false;
    size_t current = 0;
    bool first = true;
    for (size_t i = 0; i < lines.size();) {
        const std::string &line = lines[i];
        if (IsBlankLine(line)) {
            ++i;
            continue;
        }
        size_t at = SkipBlanks(line, 0);
        if (first) {
            first = false;
            if (TrimRight(line.substr(at)) == (unicode ? kHeaderUnicode : kHeaderAnsi)) {
                ++i;
                continue;
            }
        }
        if (line[at] == '[') {
            std::string path;
            Header header = ParseHeader(line, unicode, path);
            if (header == Header::Key) {
                tree.CreateKey(path);
                current = tree.keys_.at(Canonical(path));
            } else {
                if (header == Header::DeleteKey)
                    removeKey(path);
                Section section;
                section.header = line;
                document.sections.push_back(std::move(section));
                current = document.sections.size() - 1;
            }
            inSection = true;
            ++i;
            continue;
        }

        std::string raw = line;
        std::string joined = line;
        size_t last = i;
        if (line[at] == '"' || line[at] == '@') {
            while (EndsWithBackslash(lines[last]) && last + 1 < lines.size() && CanContinue(lines[last + 1])) {
                ++last;
                raw += '\n';
                raw += lines[last];
                while (IsBlankChar(joined.back()))
                    joined.pop_back();
                joined.pop_back();  // the backslash
                joined.append(lines[last], SkipBlanks(lines[last], 0));
            }
        }
        i = last + 1;

        if (!inSection) {
            document.leading.push_back(std::move(raw));
            continue;
        }
        Section &section = document.sections[current];
        Value value;
        std::string deleted;
        if (section.exposed && ParseDeletion(joined, deleted)) {
            auto seen = seenValues.find(std::to_string(current) + '\n' + Canonical(deleted));
            if (seen != seenValues.end()) {
                removeEntry(current, seen->second);
                seenValues.erase(seen);
            }
        } else if (section.exposed && ParseValue(joined, unicode, value)) {
            std::string key = std::to_string(current) + '\n' + Canonical(value.name);
            auto seen = seenValues.find(key);
            if (seen != seenValues.end()) {
                ReplaceData(section.entries[seen->second].value, std::move(value));
                continue;
            }
            seenValues.emplace(std::move(key), section.entries.size());
            Entry entry;
            entry.isValue = true;
            entry.value = std::move(value);
            section.entries.push_back(std::move(entry));
            continue;
        }
        Entry entry;
        entry.raw = std::move(raw);
        section.entries.push_back(std::move(entry));
    }

    std::vector<Section> kept;
    for (size_t s = 0; s < document.sections.size(); ++s) {
        if (s < removedSections.size() && removedSections[s])
            continue;
        Section &section = document.sections[s];
        if (s < removedEntries.size()) {
            const std::vector<bool> &removed = removedEntries[s];
            size_t e = 0;
            std::erase_if(section.entries, [&](const Entry &) {
                bool gone = e < removed.size() && removed[e];
                ++e;
                return gone;
            });
        }
        kept.push_back(std::move(section));
    }
    document.sections = std::move(kept);
    return std::move(document);
}

std::string WriteFile(const Document &document)
{
    const bool unicode = IsUnicode(document);
    const char *lineEnd = document.crlf ? "\r\n" : "\n";
    std::string out = unicode ? kHeaderUnicode : kHeaderAnsi;
    out += lineEnd;
    out += lineEnd;
    for (const std::string &raw : document.leading)
        WriteRaw(raw, lineEnd, out);
    if (!document.leading.empty())
        out += lineEnd;
    for (const Section &section : document.sections) {
        if (section.exposed)
            out += "[" + std::string(kRoot) + (section.path.empty() ? "" : "\\" + section.path) + "]";
        else
            out += section.header;
        out += lineEnd;
        for (const Entry &entry : section.entries) {
            if (entry.isValue)
                WriteValue(entry.value, unicode, lineEnd, out);
            else
                WriteRaw(entry.raw, lineEnd, out);
        }
        out += lineEnd;
    }
    return Encode(document, out);
}

}  // namespace vantrel::registry
