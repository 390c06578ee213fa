// The registry's keys and values behind the Reg* calls. Paths are relative
// to HKEY_CURRENT_USER, parts separated by single backslashes.
#ifndef VANTREL_PLATFORM_REGISTRY_STORE_H
#define VANTREL_PLATFORM_REGISTRY_STORE_H

#include <windows.h>

#include <string>
#include <vector>

namespace vantrel::registry {

struct Value {
    std::string name;  // as first written
    DWORD type;
    std::vector<BYTE> data;
};

std::string Canonical(const std::string &path);
bool KeyExists(const std::string &path);
bool CreateKey(const std::string &path);  // with every missing parent
const Value *FindValue(const std::string &path, const std::string &name);
bool SetValue(const std::string &path, const std::string &name, DWORD type, std::vector<BYTE> data);
bool DeleteValue(const std::string &path, const std::string &name);

// Empties the registry and closes every open key.
void Reset();
void CloseAllKeys();

}  // namespace vantrel::registry

#endif
