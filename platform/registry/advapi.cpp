// The current user's registry calls over the store (store.cpp),
// which keeps keys by their full path (compared without case, as Windows
// does) and values with their type and raw bytes. Open keys are small handles
// into a table, so a stale or made-up handle is refused instead of followed.
#include "session/layer_internal.h"
#include "registry/store.h"

#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct OpenKey {
    std::string path;  // full path below HKEY_CURRENT_USER as the caller spelled it, "" for the root
    REGSAM access;
};

std::map<uintptr_t, OpenKey> openKeys;
uintptr_t nextKeyHandle = 0x1000;

const uintptr_t CurrentUserRoot = static_cast<uintptr_t>(reinterpret_cast<ULONG_PTR>(HKEY_CURRENT_USER));

// Resolves a handle to the path it names; false for anything not open.
bool KeyPath(HKEY key, std::string &path, REGSAM &access)
{
    uintptr_t handle = reinterpret_cast<uintptr_t>(key);
    if (handle == CurrentUserRoot) {
        path.clear();
        access = KEY_ALL_ACCESS;
        return true;
    }
    auto found = openKeys.find(handle);
    if (found == openKeys.end())
        return false;
    path = found->second.path;
    access = found->second.access;
    return true;
}

// Joins a relative path onto a key's path; empty parts (doubled or leading
// backslashes) and paths past Windows' limits are refused the way Windows
// refuses them. So is a line break, which Windows allows but the
// registry file has no way to write in a key name.
bool JoinPath(const std::string &base, LPCSTR subKey, std::string &joined)
{
    joined = base;
    if (!subKey || !*subKey)
        return true;
    std::string part;
    for (const char *scan = subKey;; ++scan) {
        if (*scan == '\\' || *scan == '\0') {
            if (part.empty())
                // a trailing backslash is tolerated
                return *scan == '\0' && scan != subKey && vantrel::registry::IsValidKeyPath(joined);
            joined = joined.empty() ? part : joined + "\\" + part;
            part.clear();
            if (*scan == '\0')
                return vantrel::registry::IsValidKeyPath(joined);
        } else {
            part += *scan;
        }
    }
}

HKEY AddOpenKey(const std::string &path, REGSAM access)
{
    uintptr_t handle = nextKeyHandle;
    nextKeyHandle += 4;
    openKeys[handle] = {path, access};
    return reinterpret_cast<HKEY>(handle);
}

LSTATUS OpenExisting(HKEY key, LPCSTR subKey, REGSAM access, PHKEY result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string base, path;
    REGSAM baseAccess;
    if (!KeyPath(key, base, baseAccess))
        return ERROR_INVALID_HANDLE;
    if (!JoinPath(base, subKey, path))
        return ERROR_FILE_NOT_FOUND;
    if (!vantrel::registry::KeyExists(path))
        return ERROR_FILE_NOT_FOUND;
    *result = AddOpenKey(path, access);
    return ERROR_SUCCESS;
}

}  // namespace

namespace vantrel::registry {

void CloseAllKeys()
{
    openKeys.clear();
    nextKeyHandle = 0x1000;
}

}  // namespace vantrel::registry

extern "C" {

LSTATUS WINAPI RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result)
{
    return OpenExisting(key, subKey, KEY_ALL_ACCESS, result);
}

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result)
{
    return OpenExisting(key, subKey, access, result);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES,
                               PHKEY result, LPDWORD disposition)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string base, path;
    REGSAM baseAccess;
    if (!KeyPath(key, base, baseAccess))
        return ERROR_INVALID_HANDLE;
    if (!JoinPath(base, subKey, path))
        return ERROR_INVALID_PARAMETER;
    if (layer::TakeFault("RegCreateKeyExA"))
        return ERROR_ACCESS_DENIED;
    bool existed = vantrel::registry::KeyExists(path);
    // Even a key that exists: one that only values of this run's own make
    // seem to exist still needs its place in the store before a write.
    LSTATUS created = vantrel::registry::CreateKey(path);
    if (created != ERROR_SUCCESS)
        return created;
    if (disposition)
        *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = AddOpenKey(path, access);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
{
    std::string path;
    REGSAM access;
    if (!KeyPath(key, path, access))
        return ERROR_INVALID_HANDLE;
    if (reserved || (data && !size))
        return ERROR_INVALID_PARAMETER;
    if (!(access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    const vantrel::registry::Value *value = vantrel::registry::FindValue(path, name ? name : "");
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = value->type;
    DWORD needed = static_cast<DWORD>(value->data.size());
    if (!size)
        return ERROR_SUCCESS;
    if (data) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (needed)
            std::memcpy(data, value->data.data(), needed);
    }
    *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size)
{
    std::string path;
    REGSAM access;
    if (!KeyPath(key, path, access))
        return ERROR_INVALID_HANDLE;
    if (reserved || (!data && size))
        return ERROR_INVALID_PARAMETER;
    if (!(access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    std::vector<BYTE> bytes(data, data + size);
    return vantrel::registry::SetValue(path, name ? name : "", type, std::move(bytes));
}

LSTATUS WINAPI RegDeleteValueA(HKEY key, LPCSTR name)
{
    std::string path;
    REGSAM access;
    if (!KeyPath(key, path, access))
        return ERROR_INVALID_HANDLE;
    if (!(access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    return vantrel::registry::DeleteValue(path, name ? name : "");
}

LSTATUS WINAPI RegCloseKey(HKEY key)
{
    uintptr_t handle = reinterpret_cast<uintptr_t>(key);
    if (handle == CurrentUserRoot)
        return ERROR_SUCCESS;
    return openKeys.erase(handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // extern "C"
