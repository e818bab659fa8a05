// Known folders, the program's own location, and shared libraries.
#pragma once

#include <string>

#include "media/contract/hresult.h"

constexpr int CSIDL_PERSONAL = 5;       // documents
constexpr int CSIDL_MYVIDEO = 14;       // videos
constexpr int CSIDL_APPDATA = 26;       // per-user application data
constexpr int CSIDL_SYSTEM = 37;        // the platform's library folder
constexpr int CSIDL_FLAG_CREATE = 0x8000;

// Fills path (MAX_PATH characters) with the folder, following the XDG user directories.
HRESULT SHGetFolderPath(HWND owner, int csidl, HANDLE token, DWORD flags, LPSTR path);
// Full path of the running executable (module null) or of a loaded library.
DWORD GetModuleFileName(HMODULE module, LPSTR path, DWORD size);

HMODULE LoadLibrary(LPCSTR path);
BOOL FreeLibrary(HMODULE module);
void* GetProcAddress(HMODULE module, LPCSTR name);

namespace tav {
std::string KnownFolder(int csidl);         // empty when it cannot be resolved
std::string ProgramFolder();                // folder of the running executable
std::string ProgramFileName();              // executable path
// Creates every missing folder of path; true when it exists afterwards.
bool CreateFolderPath(const std::string& path);
}  // namespace tav
