#include "registry_store.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace vantrel::registry {
namespace {

struct Key {
    std::map<std::string, Value> values;  // by lower-case name
};

std::map<std::string, Key> keys;  // by canonical path; "" is the root

std::string Lower(const std::string &text)
{
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

}  // namespace

std::string Canonical(const std::string &path)
{
    return Lower(path);
}

bool KeyExists(const std::string &path)
{
    return path.empty() || keys.count(Canonical(path)) != 0;
}

bool CreateKey(const std::string &path)
{
    std::string canonical = Canonical(path);
    for (size_t end = canonical.find('\\'); end != std::string::npos; end = canonical.find('\\', end + 1))
        keys[canonical.substr(0, end)];
    if (!canonical.empty())
        keys[canonical];
    return true;
}

const Value *FindValue(const std::string &path, const std::string &name)
{
    auto key = keys.find(Canonical(path));
    if (key == keys.end())
        return nullptr;
    auto value = key->second.values.find(Lower(name));
    return value == key->second.values.end() ? nullptr : &value->second;
}

bool SetValue(const std::string &path, const std::string &name, DWORD type, std::vector<BYTE> data)
{
    std::string canonical = Canonical(path);
    if (!KeyExists(canonical))
        return false;
    Value &value = keys[canonical].values[Lower(name)];
    if (value.name.empty())
        value.name = name;
    value.type = type;
    value.data = std::move(data);
    return true;
}

bool DeleteValue(const std::string &path, const std::string &name)
{
    auto key = keys.find(Canonical(path));
    return key != keys.end() && key->second.values.erase(Lower(name)) != 0;
}

void Reset()
{
    keys.clear();
    CloseAllKeys();
}

}  // namespace vantrel::registry
