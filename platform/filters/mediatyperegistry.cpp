// Seeding and reading the media-type registry entries.
#include "platform/filters/mediatyperegistry.h"

#include <cstdlib>
#include <vector>

#include "media/contract/checkbytes.h"
#include "media/contract/registry.h"
#include "media/contract/uuids.h"
#include "platform/filters/filterids.h"

namespace tav::filters {
namespace {

struct CheckBytesEntry {
  const GUID* subtype;
  const CLSID* source;
  std::vector<const char*> lines;
};

// Check bytes: groups of offset, count, mask (empty = all ones), value, in hex.
const std::vector<CheckBytesEntry>& CheckBytesTable() {
  static const std::vector<CheckBytesEntry> table = {
      // "RIFF" .... "AVI "
      {&MEDIASUBTYPE_Avi, &CLSID_AsyncReader, {"0,4,,52494646,8,4,,41564920"}},
      // "RIFF" .... "WAVE"
      {&MEDIASUBTYPE_WAVE, &CLSID_AsyncReader, {"0,4,,52494646,8,4,,57415645"}},
      // "RIFF" .... "CDXA": video CD
      {&MEDIASUBTYPE_MPEG1VideoCD, &CLSID_AsyncReader, {"0,4,,52494646,8,4,,43445841"}},
      // An MPEG-1 pack header (marker bits of the MPEG-1 form) followed by a system header.
      {&MEDIASUBTYPE_MPEG1System, &CLSID_AsyncReader,
       {"0,16,FFFFFFFFF100010001800001FFFFFFFF,000001BA2100010001800001000001BB",
        "0,5,FFFFFFFFF1,000001BA21"}},
      // A sequence header.
      {&MEDIASUBTYPE_MPEG1Video, &CLSID_AsyncReader, {"0,4,,000001B3"}},
      // An MPEG audio frame header (layers I to III), or an ID3v2 tag in front of one.
      {&MEDIASUBTYPE_MPEG1Audio, &CLSID_AsyncReader, {"0,2,FFE0,FFE0", "0,3,,494433"}},
      // An MPEG-2 pack header: the program stream source.
      {&MEDIASUBTYPE_MPEG2_PROGRAM, &CLSID_MpegProgramSource, {"0,5,FFFFFFFFC0,000001BA40"}},
      // The ASF header object.
      {&MEDIASUBTYPE_Asf, &CLSID_WMAsfReader, {"0,16,,3026B2758E66CF11A6D900AA0062CE6C"}},
      // QuickTime / ISO media: "ftyp", "moov", "mdat" or "wide" as the first atom.
      {&MEDIASUBTYPE_QTMovie, &CLSID_Mpeg4FileSource,
       {"4,4,,66747970", "4,4,,6D6F6F76", "4,4,,6D646174", "4,4,,77696465"}},
  };
  return table;
}

struct ExtensionEntry {
  const char* extension;
  const CLSID* source;
};
const ExtensionEntry kExtensions[] = {
    {".3g2", &CLSID_Mpeg4FileSource}, {".3gp", &CLSID_Mpeg4FileSource},  {".3gp2", &CLSID_Mpeg4FileSource},
    {".3gpp", &CLSID_Mpeg4FileSource}, {".asf", &CLSID_WMAsfReader},     {".mov", &CLSID_Mpeg4FileSource},
    {".mp4", &CLSID_Mpeg4FileSource}, {".mpg4", &CLSID_Mpeg4FileSource}, {".qt", &CLSID_Mpeg4FileSource},
    {".wmv", &CLSID_WMAsfReader},      {".m4v", &CLSID_Mpeg4FileSource},  {".vob", &CLSID_MpegProgramSource},
    {".mkv", &CLSID_AvFileSource},     {".webm", &CLSID_AvFileSource},    {".ts", &CLSID_AvFileSource},
    {".mts", &CLSID_AvFileSource},     {".m2ts", &CLSID_AvFileSource},    {".flv", &CLSID_AvFileSource},
};

LSTATUS SetString(HKEY key, const char* name, const std::string& value) {
  return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), DWORD(value.size() + 1));
}

std::string StreamKeyName() { return "Media Type\\" + tav::GuidToString(MEDIATYPE_Stream); }

bool OwnSource(const CLSID& clsid) {
  for (const auto& e : CheckBytesTable())
    if (*e.source == clsid) return true;
  return clsid == CLSID_AvFileSource;
}

// The string value of an open key; empty when missing or not a string.
std::string ReadString(HKEY key, const char* name) {
  char data[1024];
  DWORD type = 0, size = sizeof data - 1;
  if (RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return {};
  data[std::min<DWORD>(size, sizeof data - 1)] = '\0';
  return data;
}


}  // namespace

HRESULT SeedMediaTypeEntries() {
  tav::RegistryBatch batch;
  LSTATUS status = ERROR_SUCCESS;
  for (const auto& e : CheckBytesTable()) {
    HKEY key = nullptr;
    const std::string name = StreamKeyName() + "\\" + tav::GuidToString(*e.subtype);
    LSTATUS s = RegCreateKeyEx(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                               nullptr, &key, nullptr);
    if (s != ERROR_SUCCESS) {
      status = s;
      continue;
    }
    for (size_t i = 0; i < e.lines.size(); ++i) SetString(key, std::to_string(i).c_str(), e.lines[i]);
    s = SetString(key, "Source Filter", tav::GuidToString(*e.source));
    if (s != ERROR_SUCCESS) status = s;
    RegCloseKey(key);
  }
  for (const auto& e : kExtensions) {
    HKEY key = nullptr;
    const std::string name = std::string("Media Type\\Extensions\\") + e.extension;
    LSTATUS s = RegCreateKeyEx(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                               nullptr, &key, nullptr);
    if (s == ERROR_SUCCESS) {
      s = SetString(key, "Source Filter", tav::GuidToString(*e.source));
      RegCloseKey(key);
    }
    if (s != ERROR_SUCCESS) status = s;
  }
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT RemoveMediaTypeEntries() {
  tav::RegistryBatch batch;
  for (const auto& e : CheckBytesTable()) {
    const std::string name = StreamKeyName() + "\\" + tav::GuidToString(*e.subtype);
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    GUID source{};
    const bool ours = tav::GuidFromString(ReadString(key, "Source Filter"), &source) && source == *e.source;
    RegCloseKey(key);
    if (ours) RegDeleteTree(HKEY_CLASSES_ROOT, name.c_str());
  }
  for (const auto& e : kExtensions) {
    const std::string name = std::string("Media Type\\Extensions\\") + e.extension;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    GUID source{};
    const bool ours = tav::GuidFromString(ReadString(key, "Source Filter"), &source) && OwnSource(source);
    RegCloseKey(key);
    if (ours) RegDeleteTree(HKEY_CLASSES_ROOT, name.c_str());
  }
  return S_OK;
}

bool CheckBytesLineMatches(const std::string& line, void* context, ReadAtFn read, LONGLONG size) {
  return tav::CheckBytesMatch(line, size, [context, read](LONGLONG offset, LONG count, BYTE* buffer) {
    return read(context, offset, count, buffer) == count;
  });
}

bool MatchCheckBytes(void* context, ReadAtFn read, LONGLONG size, GUID* subtype) {
  HKEY root = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, StreamKeyName().c_str(), 0, KEY_READ, &root) != ERROR_SUCCESS) return false;
  bool found = false;
  char name[256];
  for (DWORD i = 0; !found; ++i) {
    DWORD cch = sizeof name - 1;
    if (RegEnumKeyEx(root, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    GUID minor{};
    if (!tav::GuidFromString(name, &minor)) continue;
    HKEY key = nullptr;
    if (RegOpenKeyEx(root, name, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    for (int n = 0; !found; ++n) {
      std::string line = ReadString(key, std::to_string(n).c_str());
      if (line.empty()) break;
      if (CheckBytesLineMatches(line, context, read, size)) {
        *subtype = minor;
        found = true;
      }
    }
    RegCloseKey(key);
  }
  RegCloseKey(root);
  return found;
}

}  // namespace tav::filters
