// The registry file reader fed arbitrary bytes. Whatever it makes of them
// must survive a save unchanged: writing the document and reading it back
// gives the same keys, values and kept lines, and a second save is the same
// text. Lookups and a change on top must keep that true as well.
#include <cstdint>
#include <string>

#include "platform/registry/reg_file.h"

using vantrel::registry::Document;
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
    Document again = vantrel::registry::ParseFile(written);
    Check(again == document);
    Check(vantrel::registry::WriteFile(again) == written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    Document document = vantrel::registry::ParseFile(text);
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
            Check(value != nullptr && value->type == entry.value.type && value->data == entry.value.data);
        }
    }

    // A change made by the program, with the input's bytes as its data and
    // name, is saved and read back as it was made.
    std::string name(text.begin(), text.begin() + static_cast<long>(size < 12 ? size : 12));
    for (char &c : name)
        if (c == '\0')
            c = '0';
    Value added{name, size ? DWORD(data[0]) * 0x01010101u : DWORD(REG_SZ), {data, data + size}};
    Tree::SetValue(tree.CreateKey(lastPath.empty() ? "Fuzz\\Key" : lastPath + "\\Sub"), added);
    Document changed = vantrel::registry::ParseFile(vantrel::registry::WriteFile(tree.Doc()));
    Check(changed == tree.Doc());
    return 0;
}
