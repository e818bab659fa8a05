// regdump: prints a registry key and everything below it in the hive text form.
//
//   regdump [KEY...]      KEY like 'HKEY_CLASSES_ROOT\CLSID' (HKCR, HKLM, HKCU accepted);
//                         without a key, all three roots.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "media/contract/registry.h"

namespace {

struct Root {
  const char* name;
  const char* shortName;
  HKEY key;
};
const Root kRoots[] = {
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
};

bool EqualNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

void PrintQuoted(const std::string& s) {
  std::putchar('"');
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      std::printf("\\%c", c);
    } else if (c == '\n') {
      std::fputs("\\n", stdout);
    } else if (c < 0x20 || c == 0x7F) {
      std::printf("\\x%02x", c);
    } else {
      std::putchar(c);
    }
  }
  std::putchar('"');
}

void PrintHex(const std::vector<BYTE>& data) {
  for (size_t i = 0; i < data.size(); ++i) std::printf(i ? ",%02x" : "%02x", data[i]);
}

void PrintValue(DWORD type, const std::vector<BYTE>& data) {
  const std::string text(data.begin(), data.end());
  const bool terminated = !text.empty() && text.back() == '\0' && text.find('\0') == text.size() - 1;
  if ((type == REG_SZ || type == REG_EXPAND_SZ) && terminated) {
    if (type == REG_EXPAND_SZ) std::fputs("expand:", stdout);
    PrintQuoted(text.substr(0, text.size() - 1));
  } else if (type == REG_DWORD && data.size() == 4) {
    DWORD v;
    std::memcpy(&v, data.data(), 4);
    std::printf("dword:%08x", static_cast<unsigned>(v));
  } else if (type == REG_QWORD && data.size() == 8) {
    unsigned long long v;
    std::memcpy(&v, data.data(), 8);
    std::printf("qword:%016llx", v);
  } else if (type == REG_MULTI_SZ) {
    std::fputs("multi:", stdout);
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
      const size_t nul = text.find('\0', start);
      const std::string part = text.substr(start, nul == std::string::npos ? std::string::npos : nul - start);
      if (part.empty()) break;
      if (!first) std::putchar(',');
      PrintQuoted(part);
      first = false;
      if (nul == std::string::npos) break;
      start = nul + 1;
    }
  } else {
    std::printf(type == REG_BINARY ? "hex:" : "hex(%x):", static_cast<unsigned>(type));
    PrintHex(data);
  }
}

void Dump(HKEY key, const std::string& path) {
  std::printf("[%s]\n", path.c_str());
  DWORD maxName = 0, maxData = 0, maxSub = 0;
  RegQueryInfoKey(key, nullptr, nullptr, nullptr, nullptr, &maxSub, nullptr, nullptr, &maxName, &maxData, nullptr,
                  nullptr);
  std::vector<char> name(maxName + 2);
  std::vector<BYTE> data(maxData + 1);
  for (DWORD i = 0;; ++i) {
    DWORD cchName = static_cast<DWORD>(name.size()), cbData = static_cast<DWORD>(data.size()), type = 0;
    if (RegEnumValue(key, i, name.data(), &cchName, nullptr, &type, data.data(), &cbData) != ERROR_SUCCESS) break;
    if (cchName == 0) {
      std::putchar('@');
    } else {
      PrintQuoted(std::string(name.data(), cchName));
    }
    std::putchar('=');
    PrintValue(type, std::vector<BYTE>(data.begin(), data.begin() + cbData));
    std::putchar('\n');
  }
  std::putchar('\n');
  std::vector<char> sub(maxSub + 2);
  for (DWORD i = 0;; ++i) {
    if (RegEnumKey(key, i, sub.data(), static_cast<DWORD>(sub.size())) != ERROR_SUCCESS) break;
    HKEY child;
    if (RegOpenKeyEx(key, sub.data(), 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
    Dump(child, path + '\\' + sub.data());
    RegCloseKey(child);
  }
}

int DumpPath(const std::string& text) {
  const size_t bs = text.find('\\');
  const std::string rootName = text.substr(0, bs);
  const std::string rest = bs == std::string::npos ? std::string() : text.substr(bs + 1);
  for (const Root& root : kRoots) {
    if (!EqualNoCase(rootName, root.name) && !EqualNoCase(rootName, root.shortName)) continue;
    HKEY key;
    if (RegOpenKeyEx(root.key, rest.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      std::fprintf(stderr, "regdump: no such key: %s\n", text.c_str());
      return 1;
    }
    Dump(key, rest.empty() ? std::string(root.name) : std::string(root.name) + '\\' + rest);
    RegCloseKey(key);
    return 0;
  }
  std::fprintf(stderr, "regdump: unknown root in %s (use HKEY_CLASSES_ROOT, HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE)\n",
               text.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    std::printf("usage: regdump [KEY...]   e.g. regdump 'HKEY_CLASSES_ROOT\\CLSID'\n"
                "registry folder: %s\n", tav::RegistryDirectory());
    return 0;
  }
  int rc = 0;
  if (argc == 1) {
    for (const Root& root : kRoots) rc = std::max(rc, DumpPath(root.name));
  }
  for (int i = 1; i < argc; ++i) rc = std::max(rc, DumpPath(argv[i]));
  return rc;
}
