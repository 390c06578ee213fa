// Reading and writing the REGEDIT4 text. The reader never gives up on a file:
// a line it cannot make sense of becomes a kept line, and the writer puts it
// back where it was. Everything here works on strings, so it can be fed any
// bytes at all (the fuzz target does).
#include "registry/reg_file.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace vantrel::registry {
namespace {

const char kRoot[] = "HKEY_CURRENT_USER";
const size_t kRootLength = sizeof kRoot - 1;

bool IsBlankChar(char c)
{
    return c == ' ' || c == '\t';
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

bool ParseValue(const std::string &line, Value &value)
{
    size_t at = SkipBlanks(line, 0);
    if (at >= line.size())
        return false;
    if (line[at] == '@') {
        value.name.clear();
        ++at;
    } else if (line[at] == '"') {
        // A name holding a NUL could never be asked for through the A calls.
        if (!ReadQuoted(line, at, value.name) || value.name.find('\0') != std::string::npos)
            return false;
    } else {
        return false;
    }
    at = SkipBlanks(line, at);
    if (at >= line.size() || line[at] != '=')
        return false;
    at = SkipBlanks(line, at + 1);
    if (at >= line.size())
        return false;

    if (line[at] == '"') {
        std::string text;
        if (!ReadQuoted(line, at, text) || SkipBlanks(line, at) != line.size())
            return false;
        value.type = REG_SZ;
        value.data.assign(text.begin(), text.end());
        value.data.push_back(0);
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
        if (!ReadHexList(line, at + 1, value.data))
            return false;
        value.type = type;
        return true;
    }
    return false;
}

// The path a section header names below HKEY_CURRENT_USER; false for any
// other root and for anything malformed.
bool ParseHeader(const std::string &line, std::string &path)
{
    size_t open = SkipBlanks(line, 0);
    size_t close = line.rfind(']');
    if (open >= line.size() || line[open] != '[' || close == std::string::npos || close <= open ||
        SkipBlanks(line, close + 1) != line.size())
        return false;
    std::string inside = line.substr(open + 1, close - open - 1);
    if (inside.find('\0') != std::string::npos || !StartsWithNoCase(inside, 0, kRoot))
        return false;
    if (inside.size() == kRootLength) {
        path.clear();
        return true;
    }
    if (inside[kRootLength] != '\\')
        return false;
    path = inside.substr(kRootLength + 1);
    return IsValidKeyPath(path);
}

std::vector<std::string> SplitLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    // A byte-order mark from an editor is not part of the first line.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        start = 3;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        size_t cut = end;
        while (cut > start && text[cut - 1] == '\r')
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

// A string that reads back as the same bytes: terminated once, at the end,
// and free of line breaks.
bool FitsQuotedString(const Value &value)
{
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0)
        return false;
    return std::none_of(value.data.begin(), value.data.end() - 1,
                        [](BYTE b) { return b == 0 || b == '\n' || b == '\r'; });
}

void WriteValue(const Value &value, std::string &out)
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
        out += line + "\n";
        return;
    }
    if (FitsQuotedString(value)) {
        std::string text(value.data.begin(), value.data.end() - 1);
        out += line + QuoteName(text) + "\n";
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
    // Long data goes on continued lines of about eighty columns.
    out += line;
    size_t column = line.size();
    for (size_t i = 0; i < value.data.size(); ++i) {
        if (i > 0 && column + 3 > 78) {
            out += "\\\n  ";
            column = 2;
        }
        out += digits[value.data[i] >> 4];
        out += digits[value.data[i] & 0xF];
        column += 2;
        if (i + 1 < value.data.size()) {
            out += ',';
            ++column;
        }
    }
    out += '\n';
}

void WriteRaw(const std::string &raw, std::string &out)
{
    out += raw;
    out += '\n';
    // A kept line that ends in a backslash would otherwise run on into
    // whatever we write after it; a blank line stops that and reads as nothing.
    size_t lastLine = raw.rfind('\n');
    if (EndsWithBackslash(lastLine == std::string::npos ? raw : raw.substr(lastLine + 1)))
        out += '\n';
}

}  // namespace

bool IsValidKeyPath(const std::string &path)
{
    if (path.size() > kLongestKeyPath)
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
        existing->type = value.type;
        existing->data = std::move(value.data);
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

Document ParseFile(const std::string &text)
{
    std::vector<std::string> lines = SplitLines(text);
    Tree tree;
    Document &document = tree.document_;
    // Values already seen, by canonical key path and name, so that a file with
    // many values stays linear; a later duplicate replaces the earlier data.
    std::unordered_map<std::string, size_t> seenValues;
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
            if (TrimRight(line.substr(at)) == "REGEDIT4") {
                ++i;
                continue;
            }
        }
        if (line[at] == '[') {
            std::string path;
            if (ParseHeader(line, path)) {
                tree.CreateKey(path);
                current = tree.keys_.at(Canonical(path));
            } else {
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
        if (section.exposed && ParseValue(joined, value)) {
            std::string key = std::to_string(current) + '\n' + Canonical(value.name);
            auto seen = seenValues.find(key);
            if (seen != seenValues.end()) {
                Value &earlier = section.entries[seen->second].value;
                earlier.type = value.type;
                earlier.data = std::move(value.data);
                continue;
            }
            seenValues.emplace(std::move(key), section.entries.size());
            Entry entry;
            entry.isValue = true;
            entry.value = std::move(value);
            section.entries.push_back(std::move(entry));
        } else {
            Entry entry;
            entry.raw = std::move(raw);
            section.entries.push_back(std::move(entry));
        }
    }
    return std::move(tree.document_);
}

std::string WriteFile(const Document &document)
{
    std::string out = "REGEDIT4\n\n";
    for (const std::string &raw : document.leading)
        WriteRaw(raw, out);
    if (!document.leading.empty())
        out += '\n';
    for (const Section &section : document.sections) {
        if (section.exposed)
            out += "[" + std::string(kRoot) + (section.path.empty() ? "" : "\\" + section.path) + "]\n";
        else
            out += section.header + "\n";
        for (const Entry &entry : section.entries) {
            if (entry.isValue)
                WriteValue(entry.value, out);
            else
                WriteRaw(entry.raw, out);
        }
        out += '\n';
    }
    return out;
}

}  // namespace vantrel::registry
