// The in-memory key tree of one registry hive, its text form, and the journal of changes
// a process has made but not yet written. Used by registry.cpp only.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "media/contract/wintypes.h"

namespace tav::reg {

// Lower-cases ASCII letters only: key and value names compare that way.
std::string FoldCase(std::string_view s);
bool EqualNoCase(std::string_view a, std::string_view b);

struct Value {
  std::string name;  // case preserved; "" is the default value
  DWORD type = 0;
  std::string data;  // raw bytes
};

struct Key {
  std::string name;  // case preserved
  std::map<std::string, std::unique_ptr<Key>> children;  // by FoldCase(name), so enumeration is sorted
  std::vector<Value> values;  // in the order they were first set

  Key* Child(std::string_view childName) const;
  Key* AddChild(std::string_view childName, bool* created = nullptr);
  bool RemoveChild(std::string_view childName);
  Value* FindValue(std::string_view valueName);
  void SetValue(std::string_view valueName, DWORD type, std::string data);
  bool RemoveValue(std::string_view valueName);
  // Follows a path of names below this key; null when a part is missing.
  Key* Find(const std::vector<std::string>& path, size_t depth = 0);
  Key* Create(const std::vector<std::string>& path, bool* created = nullptr);
};

// One change, kept until it has been written so it can be replayed onto a newer copy of
// the hive that another process wrote in the meantime.
struct Change {
  enum class Kind { CreateKey, SetValue, DeleteValue, DeleteKey, DeleteTree, ClearKey };
  Kind kind;
  std::vector<std::string> path;  // from the hive root: first element is the root key name
  std::string name;
  DWORD type = 0;
  std::string data;
};
void Apply(Key& root, const Change& change);

// Text form: a header line, then "[ROOT\path\to\key]" sections with one value a line
// ("name"="text", @=dword:0000000a, "bin"=hex:01,02, "x"=hex(b):...), then an end line.
// Every key is written, even without values, so empty keys persist.
std::string Serialize(const Key& root);
// False (with a reason) when the text is not a complete hive.
bool Parse(std::string_view text, Key* root, std::string* error);

}  // namespace tav::reg
