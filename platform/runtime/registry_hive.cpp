// Key tree, change journal and the text form of a registry hive.
#include "platform/runtime/registry_hive.h"

#include <cstdio>
#include <cstring>

#include "media/contract/registry.h"

namespace tav::reg {

namespace {

constexpr std::string_view kHeader = "Tavrion Registry Hive 1";
constexpr std::string_view kEndLine = "; end of hive";

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t extra;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

// Quoted text with \\ \" \n \r \t and \xHH escapes for other control bytes.
void AppendQuoted(std::string& out, std::string_view s) {
  out += '"';
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (ch) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02x", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string at text[pos]; pos ends after the closing quote.
bool ReadQuoted(std::string_view text, size_t& pos, std::string* out) {
  if (pos >= text.size() || text[pos] != '"') return false;
  ++pos;
  out->clear();
  while (pos < text.size()) {
    const char c = text[pos++];
    if (c == '"') return true;
    if (c != '\\') {
      *out += c;
      continue;
    }
    if (pos >= text.size()) return false;
    const char e = text[pos++];
    switch (e) {
      case '\\': *out += '\\'; break;
      case '"': *out += '"'; break;
      case 'n': *out += '\n'; break;
      case 'r': *out += '\r'; break;
      case 't': *out += '\t'; break;
      case 'x': {
        if (pos + 2 > text.size()) return false;
        const int hi = HexDigit(text[pos]), lo = HexDigit(text[pos + 1]);
        if (hi < 0 || lo < 0) return false;
        *out += static_cast<char>(hi * 16 + lo);
        pos += 2;
        break;
      }
      default: return false;
    }
  }
  return false;
}

bool IsPlainString(std::string_view data) {
  // Exactly one terminator, at the end, and readable UTF-8 before it.
  if (data.empty() || data.back() != '\0') return false;
  const std::string_view body = data.substr(0, data.size() - 1);
  return body.find('\0') == std::string_view::npos && IsValidUtf8(body);
}

void AppendHexBytes(std::string& out, std::string_view data) {
  static const char* kDigits = "0123456789abcdef";
  for (size_t i = 0; i < data.size(); ++i) {
    if (i) out += ',';
    const auto c = static_cast<unsigned char>(data[i]);
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
}

uint64_t LoadLe(std::string_view data) {
  uint64_t v = 0;
  for (size_t i = data.size(); i-- > 0;) v = (v << 8) | static_cast<unsigned char>(data[i]);
  return v;
}

std::string StoreLe(uint64_t v, size_t bytes) {
  std::string out(bytes, '\0');
  for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

// A list of non-empty strings each with its terminator, then one more terminator.
bool SplitMulti(std::string_view data, std::vector<std::string_view>* parts) {
  if (data.size() < 2 || data.substr(data.size() - 2) != std::string_view("\0\0", 2)) return false;
  std::string_view rest = data.substr(0, data.size() - 1);
  while (!rest.empty()) {
    const size_t nul = rest.find('\0');
    if (nul == 0 || nul == std::string_view::npos) return false;
    if (!IsValidUtf8(rest.substr(0, nul))) return false;
    parts->push_back(rest.substr(0, nul));
    rest.remove_prefix(nul + 1);
  }
  return !parts->empty();
}

void AppendData(std::string& out, DWORD type, std::string_view data) {
  char buf[32];
  if ((type == REG_SZ || type == REG_EXPAND_SZ) && IsPlainString(data)) {
    if (type == REG_EXPAND_SZ) out += "expand:";
    AppendQuoted(out, data.substr(0, data.size() - 1));
    return;
  }
  std::vector<std::string_view> parts;
  if (type == REG_MULTI_SZ && SplitMulti(data, &parts)) {
    out += "multi:";
    for (size_t i = 0; i < parts.size(); ++i) {
      if (i) out += ',';
      AppendQuoted(out, parts[i]);
    }
    return;
  }
  if (type == REG_DWORD && data.size() == 4) {
    std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(LoadLe(data)));
    out += buf;
    return;
  }
  if (type == REG_QWORD && data.size() == 8) {
    std::snprintf(buf, sizeof buf, "qword:%016llx", static_cast<unsigned long long>(LoadLe(data)));
    out += buf;
    return;
  }
  if (type == REG_BINARY) {
    out += "hex:";
  } else {
    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(type));
    out += buf;
  }
  AppendHexBytes(out, data);
}

bool ParseHexNumber(std::string_view s, size_t digits, uint64_t* out) {
  if (s.size() != digits) return false;
  uint64_t v = 0;
  for (char c : s) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    v = v * 16 + static_cast<uint64_t>(d);
  }
  *out = v;
  return true;
}

bool ParseHexBytes(std::string_view s, std::string* out) {
  out->clear();
  if (s.empty()) return true;
  size_t pos = 0;
  while (true) {
    if (pos + 2 > s.size()) return false;
    const int hi = HexDigit(s[pos]), lo = HexDigit(s[pos + 1]);
    if (hi < 0 || lo < 0) return false;
    *out += static_cast<char>(hi * 16 + lo);
    pos += 2;
    if (pos == s.size()) return true;
    if (s[pos] != ',') return false;
    ++pos;
  }
}

bool ParseData(std::string_view s, DWORD* type, std::string* data) {
  size_t pos = 0;
  auto starts = [&](std::string_view p) { return s.substr(0, p.size()) == p; };
  if (starts("\"") || starts("expand:\"")) {
    *type = starts("\"") ? REG_SZ : REG_EXPAND_SZ;
    pos = *type == REG_SZ ? 0 : 7;
    if (!ReadQuoted(s, pos, data) || pos != s.size()) return false;
    *data += '\0';
    return true;
  }
  if (starts("multi:")) {
    *type = REG_MULTI_SZ;
    pos = 6;
    data->clear();
    std::string part;
    while (true) {
      if (!ReadQuoted(s, pos, &part)) return false;
      *data += part;
      *data += '\0';
      if (pos == s.size()) break;
      if (s[pos] != ',') return false;
      ++pos;
    }
    *data += '\0';
    return true;
  }
  uint64_t v;
  if (starts("dword:")) {
    if (!ParseHexNumber(s.substr(6), 8, &v)) return false;
    *type = REG_DWORD;
    *data = StoreLe(v, 4);
    return true;
  }
  if (starts("qword:")) {
    if (!ParseHexNumber(s.substr(6), 16, &v)) return false;
    *type = REG_QWORD;
    *data = StoreLe(v, 8);
    return true;
  }
  if (starts("hex:")) {
    *type = REG_BINARY;
    return ParseHexBytes(s.substr(4), data);
  }
  if (starts("hex(")) {
    const size_t close = s.find("):");
    if (close == std::string_view::npos || close < 5 || close > 12) return false;
    uint64_t t = 0;
    for (size_t i = 4; i < close; ++i) {
      const int d = HexDigit(s[i]);
      if (d < 0) return false;
      t = t * 16 + static_cast<uint64_t>(d);
    }
    if (t > 0xFFFFFFFFull) return false;
    *type = static_cast<DWORD>(t);
    return ParseHexBytes(s.substr(close + 2), data);
  }
  return false;
}

void SerializeKey(std::string& out, const Key& key, const std::string& path) {
  out += '[';
  out += path;
  out += "]\n";
  for (const Value& v : key.values) {
    if (v.name.empty()) {
      out += '@';
    } else {
      AppendQuoted(out, v.name);
    }
    out += '=';
    AppendData(out, v.type, v.data);
    out += '\n';
  }
  out += '\n';
  for (const auto& [folded, child] : key.children) SerializeKey(out, *child, path + '\\' + child->name);
}

}  // namespace

std::string FoldCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

Key* Key::Child(std::string_view childName) const {
  const auto it = children.find(FoldCase(childName));
  return it == children.end() ? nullptr : it->second.get();
}

Key* Key::AddChild(std::string_view childName, bool* created) {
  auto& slot = children[FoldCase(childName)];
  if (created) *created = !slot;
  if (!slot) {
    slot = std::make_unique<Key>();
    slot->name = std::string(childName);
  }
  return slot.get();
}

bool Key::RemoveChild(std::string_view childName) { return children.erase(FoldCase(childName)) > 0; }

Value* Key::FindValue(std::string_view valueName) {
  for (Value& v : values) {
    if (EqualNoCase(v.name, valueName)) return &v;
  }
  return nullptr;
}

void Key::SetValue(std::string_view valueName, DWORD type, std::string data) {
  if (Value* v = FindValue(valueName)) {
    v->type = type;
    v->data = std::move(data);
    return;
  }
  values.push_back(Value{std::string(valueName), type, std::move(data)});
}

bool Key::RemoveValue(std::string_view valueName) {
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (EqualNoCase(it->name, valueName)) {
      values.erase(it);
      return true;
    }
  }
  return false;
}

Key* Key::Find(const std::vector<std::string>& path, size_t depth) {
  Key* k = this;
  for (size_t i = depth; i < path.size() && k; ++i) k = k->Child(path[i]);
  return k;
}

Key* Key::Create(const std::vector<std::string>& path, bool* created) {
  Key* k = this;
  bool any = false;
  for (const std::string& part : path) {
    bool c = false;
    k = k->AddChild(part, &c);
    any = any || c;
  }
  if (created) *created = any;
  return k;
}

void Apply(Key& root, const Change& change) {
  using K = Change::Kind;
  switch (change.kind) {
    case K::CreateKey:
      root.Create(change.path);
      break;
    case K::SetValue:
      root.Create(change.path)->SetValue(change.name, change.type, change.data);
      break;
    case K::DeleteValue:
      if (Key* k = root.Find(change.path)) k->RemoveValue(change.name);
      break;
    case K::DeleteKey:
    case K::DeleteTree: {
      if (change.path.size() < 2) break;  // roots stay
      std::vector<std::string> parentPath(change.path.begin(), change.path.end() - 1);
      Key* parent = root.Find(parentPath);
      if (!parent) break;
      Key* k = parent->Child(change.path.back());
      // Another process may have added subkeys since; a plain delete then keeps the key.
      if (k && (change.kind == K::DeleteTree || k->children.empty())) parent->RemoveChild(change.path.back());
      break;
    }
    case K::ClearKey:
      if (Key* k = root.Find(change.path)) {
        k->children.clear();
        k->values.clear();
      }
      break;
  }
}

std::string Serialize(const Key& root) {
  std::string out;
  out.reserve(4096);
  out += kHeader;
  out += "\n\n";
  for (const auto& [folded, child] : root.children) SerializeKey(out, *child, child->name);
  out += kEndLine;
  out += '\n';
  return out;
}

bool Parse(std::string_view text, Key* root, std::string* error) {
  root->children.clear();
  root->values.clear();
  if (text.empty()) return true;  // a fresh, empty hive
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // an editor's byte-order mark
  size_t pos = 0;
  int lineNo = 0;
  bool sawHeader = false, sawEnd = false;
  Key* current = nullptr;
  auto fail = [&](const char* why) {
    *error = "line " + std::to_string(lineNo) + ": " + why;
    root->children.clear();
    return false;
  };
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = text.substr(pos, eol - pos);
    pos = eol + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!sawHeader) {
      if (line != kHeader) return fail("not a registry hive (header missing)");
      sawHeader = true;
      continue;
    }
    if (sawEnd) {
      if (!line.empty()) return fail("text after the end line");
      continue;
    }
    if (line == kEndLine) {
      sawEnd = true;
      continue;
    }
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.size() < 3 || line.back() != ']') return fail("bad key line");
      std::vector<std::string> path;
      std::string_view p = line.substr(1, line.size() - 2);
      while (true) {
        const size_t bs = p.find('\\');
        const std::string_view part = p.substr(0, bs);
        if (part.empty()) return fail("empty key name");
        path.emplace_back(part);
        if (bs == std::string_view::npos) break;
        p.remove_prefix(bs + 1);
      }
      current = root->Create(path);
      continue;
    }
    if (!current) return fail("value outside a key");
    std::string name;
    size_t vp = 0;
    if (line[0] == '@') {
      vp = 1;
    } else if (!ReadQuoted(line, vp, &name)) {
      return fail("bad value name");
    }
    if (vp >= line.size() || line[vp] != '=') return fail("missing '='");
    DWORD type = 0;
    std::string data;
    if (!ParseData(line.substr(vp + 1), &type, &data)) return fail("bad value data");
    current->SetValue(name, type, std::move(data));
  }
  if (!sawHeader) return fail("not a registry hive (header missing)");
  if (!sawEnd) return fail("hive is truncated (end line missing)");
  return true;
}

}  // namespace tav::reg
