// The registry: three roots, keys, string / 32-bit / binary values. Names are UTF-8 and
// compare case-insensitively (ASCII), as on the original platform. Functions return
// Win32 error codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA, ...).
//
// The store persists to two text hives (machine: classes root + local machine; user:
// current user) in the folder named by TAVRION_REGISTRY_DIR.
#pragma once

#include "media/contract/wintypes.h"
#include "media/contract/hresult.h"

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))

using REGSAM = DWORD;
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// String values are stored and returned as UTF-8 with a terminating NUL (counted in
// the data size, as the platform does).
LSTATUS RegOpenKeyEx(HKEY key, LPCSTR subKey, DWORD options, REGSAM sam, HKEY* result);
LSTATUS RegOpenKey(HKEY key, LPCSTR subKey, HKEY* result);
LSTATUS RegCreateKeyEx(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR cls, DWORD options, REGSAM sam,
                       void* security, HKEY* result, DWORD* disposition);
LSTATUS RegCreateKey(HKEY key, LPCSTR subKey, HKEY* result);
LSTATUS RegCloseKey(HKEY key);
// data may be null to learn the size; a too-small buffer gives ERROR_MORE_DATA with *cbData set.
LSTATUS RegQueryValueEx(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* cbData);
LSTATUS RegSetValueEx(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD cbData);
// The default (unnamed) value of a subkey, as a string.
LSTATUS RegQueryValue(HKEY key, LPCSTR subKey, LPSTR data, LONG* cbData);
LSTATUS RegSetValue(HKEY key, LPCSTR subKey, DWORD type, LPCSTR data, DWORD cbData);
// cchName in and out counts characters without the terminator, as the platform does.
LSTATUS RegEnumKeyEx(HKEY key, DWORD index, LPSTR name, DWORD* cchName, DWORD* reserved, LPSTR cls, DWORD* cchClass,
                     void* lastWrite);
LSTATUS RegEnumKey(HKEY key, DWORD index, LPSTR name, DWORD cchName);
LSTATUS RegEnumValue(HKEY key, DWORD index, LPSTR valueName, DWORD* cchValueName, DWORD* reserved, DWORD* type,
                     BYTE* data, DWORD* cbData);
LSTATUS RegQueryInfoKey(HKEY key, LPSTR cls, DWORD* cchClass, DWORD* reserved, DWORD* subKeys, DWORD* maxSubKeyLen,
                        DWORD* maxClassLen, DWORD* values, DWORD* maxValueNameLen, DWORD* maxValueLen,
                        DWORD* securityDescriptor, void* lastWrite);
LSTATUS RegDeleteValue(HKEY key, LPCSTR valueName);
// Deletes a key without subkeys (ERROR_ACCESS_DENIED when it has some, as the platform does).
LSTATUS RegDeleteKey(HKEY key, LPCSTR subKey);
// Deletes the subkey and everything below it; a null subKey empties key itself.
LSTATUS RegDeleteTree(HKEY key, LPCSTR subKey);
LSTATUS RegFlushKey(HKEY key);

namespace tav {
// Folder of the hive files currently in use.
const char* RegistryDirectory();
// Drops the in-memory cache so the next access reads the hives again (tests and tools).
// Changes not yet written are written first.
void RegistryReload();

// Changes are written to the hive when a key handle of that hive is closed (or at once
// when none is open), on RegFlushKey and at exit. A batch defers the writing
// until its outermost end, so registering many classes costs one write; nested batches
// are counted. RegistryEndBatch returns the result of the write.
void RegistryBeginBatch();
LSTATUS RegistryEndBatch();
class RegistryBatch {
 public:
  RegistryBatch() { RegistryBeginBatch(); }
  ~RegistryBatch() { RegistryEndBatch(); }
  RegistryBatch(const RegistryBatch&) = delete;
  RegistryBatch& operator=(const RegistryBatch&) = delete;
};
}  // namespace tav
