// Private profile (INI) files. Section and key names compare case-insensitively;
// missing file, section or key gives the default. Writes are atomic.
#pragma once

#include "media/contract/wintypes.h"

UINT GetPrivateProfileInt(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName);
// Copies at most size-1 characters and a terminator; returns the characters copied.
DWORD GetPrivateProfileString(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out, DWORD size,
                              LPCSTR fileName);
// A null key deletes the section; a null value deletes the key.
BOOL WritePrivateProfileString(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);
