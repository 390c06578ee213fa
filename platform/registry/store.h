// The registry's keys and values behind the Reg* calls. Paths are relative
// to HKEY_CURRENT_USER, parts separated by single backslashes. The store is
// either kept in memory only or backed by a .reg file that is read on
// first use and rewritten after every change.
#ifndef VANTREL_PLATFORM_REGISTRY_STORE_H
#define VANTREL_PLATFORM_REGISTRY_STORE_H

#include <windows.h>

#include <string>
#include <vector>

#include "registry/reg_file.h"

namespace vantrel::registry {

// What a save reports when the file could not be written; the change is kept
// in memory (see store.cpp).
constexpr LSTATUS kErrorWriteFault = 29;  // ERROR_WRITE_FAULT
// What Windows reports for a handle whose key no longer exists.
constexpr LSTATUS kErrorKeyDeleted = 1018;  // ERROR_KEY_DELETED

bool KeyExists(const std::string &path);
// Creates the key with every missing parent. ERROR_ACCESS_DENIED when the
// backing file could not be read; kErrorWriteFault when it could not be saved.
LSTATUS CreateKey(const std::string &path);
const Value *FindValue(const std::string &path, const std::string &name);
// ERROR_ACCESS_DENIED while the backing file could not be read; kErrorWriteFault
// when the change holds in memory but could not be saved; ERROR_FILE_NOT_FOUND
// for a delete of a value that is not there.
LSTATUS SetValue(const std::string &path, const std::string &name, DWORD type, std::vector<BYTE> data);
LSTATUS DeleteValue(const std::string &path, const std::string &name);

// A value that reads as given, in place of (or in the absence of) the
// stored one, for the rest of this process; its key reads as existing. It
// is never written anywhere: a write to it goes to the store as usual, and
// reads still see this one. Reset forgets these; UseFile keeps them.
void SetRunValue(const std::string &path, const std::string &name, DWORD type, std::vector<BYTE> data);

// Backs the registry with the file at `path` from now on ("" = memory only),
// as a fresh process would see it: every open key is closed and the file is
// read on the next registry call.
void UseFile(const std::string &path);
// Empties the registry, goes back to memory only and closes every open key.
void Reset();
void CloseAllKeys();

}  // namespace vantrel::registry

#endif
