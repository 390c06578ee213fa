// The registry file reader fed arbitrary bytes, and the same bytes again as
// the text of a UTF-16 "5.00" file. A file that cannot be decoded is left to
// the caller; whatever else the reader makes of them must survive a save
// unchanged: writing the document and reading it back gives the same keys,
// values (as the A calls see them and as the file holds them) and kept
// lines, in the same encoding, and a second save is the same bytes.
// Lookups and a change on top must keep that true as well.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/registry/reg_file.h"

using vantrel::registry::Document;
using vantrel::registry::Encoding;
using vantrel::registry::Section;
using vantrel::registry::Tree;
using vantrel::registry::Value;

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

std::string Flipped(std::string text)
{
    for (char &c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

void CheckRoundTrip(const Document &document)
{
    std::string written = vantrel::registry::WriteFile(document);
    std::optional<Document> again = vantrel::registry::ParseFile(written);
    Check(again && *again == document);
    Check(vantrel::registry::WriteFile(*again) == written);
    if (document.encoding == Encoding::Utf16)
        Check(written.size() % 2 == 0 && written.compare(0, 2, "\xFF\xFE") == 0);
}

void CheckDocument(const Document &document, const uint8_t *data, size_t size)
{
    CheckRoundTrip(document);

    // Every value is found under its name in any case, and every key by its path.
    Tree tree(document);
    std::string lastPath;
    for (const Section &section : document.sections) {
        if (!section.exposed)
            continue;
        lastPath = section.path;
        Check(tree.KeyExists(Flipped(section.path)));
        Section *found = tree.FindKey(Flipped(section.path));
        Check(found != nullptr);
        for (const auto &entry : section.entries) {
            if (!entry.isValue)
                continue;
            Value *value = Tree::FindValue(*found, Flipped(entry.value.name));
            Check(value != nullptr && *value == entry.value);
        }
    }

    // A change made by the program through the A calls, with the input's
    // bytes as its data and name, is saved and read back as it was made.
    std::string name(reinterpret_cast<const char *>(data), size < 12 ? size : 12);
    for (char &c : name)
        if (c == '\0')
            c = '0';
    DWORD type = size ? DWORD(data[0] % 8) : DWORD(REG_SZ);
    Value added = vantrel::registry::AnsiValue(document, name, type, {data, data + size});
    std::string path = lastPath + "\\Sub";  // already the document's text
    if (lastPath.empty() || !vantrel::registry::IsValidKeyPath(path, document.encoding != Encoding::Ansi))
        path = "Fuzz\\Key";
    Section &target = tree.CreateKey(path);
    Tree::SetValue(target, added);
    std::optional<Document> changed = vantrel::registry::ParseFile(vantrel::registry::WriteFile(tree.Doc()));
    Check(changed && *changed == tree.Doc());
    Check(Tree::FindValue(target, added.name)->data == added.data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string bytes(reinterpret_cast<const char *>(data), size);
    if (std::optional<Document> document = vantrel::registry::ParseFile(bytes))
        CheckDocument(*document, data, size);

    // The bytes as the characters U+0000..U+00FF of a UTF-16 export, which
    // always decodes.
    std::string wide = "\xFF\xFE";
    for (char c : "Windows Registry Editor Version 5.00\r\n" + bytes) {
        wide += c;
        wide += '\0';
    }
    std::optional<Document> unicode = vantrel::registry::ParseFile(wide);
    Check(unicode && unicode->encoding == Encoding::Utf16);
    CheckDocument(*unicode, data, size);
    return 0;
}
