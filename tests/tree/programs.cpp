#include "tests/tree/programs.h"

#include <cctype>
#include <regex>
#include <vector>

namespace treetest {

namespace {

bool WordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '+' || c == '-';
}

// The word at s[pos] (a letter, then letters, digits and _ . + -), or empty.
std::string WordAt(const std::string& s, size_t pos) {
  if (pos >= s.size() || !std::isalpha(static_cast<unsigned char>(s[pos]))) return std::string();
  size_t end = pos;
  while (end < s.size() && WordChar(s[end])) ++end;
  return s.substr(pos, end - pos);
}

size_t SkipBlanks(const std::string& s, size_t pos) {
  while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
  return pos;
}

// "/bin/sh" and "/usr/bin/env" name programs too.
std::string ProgramAt(const std::string& s, size_t pos) {
  static const std::regex kPath("^/(?:usr/)?s?bin/([A-Za-z][A-Za-z0-9_.+-]*)");
  std::smatch m;
  const std::string rest = s.substr(pos, 64);
  if (std::regex_search(rest, m, kPath)) return m[1];
  return WordAt(s, pos);
}

// Words before the program in a command: shell keywords and programs that run the rest
// of their arguments.
bool PassesThrough(const std::string& word) {
  static const std::set<std::string> kWords = {"if",   "then", "elif", "else", "do",   "while", "until",
                                               "time", "exec", "nice", "env",  "sudo", "!"};
  return kWords.count(word) != 0;
}

// Reads the command at s[pos]: skips assignments, keywords and pass-through programs, and
// records the program's name.
void CommandAt(const std::string& s, size_t pos, std::set<std::string>& out) {
  static const std::regex kAssignment("^[A-Za-z_][A-Za-z0-9_]*\\+?=[^ \t]*");
  for (int guard = 0; guard < 16; ++guard) {
    pos = SkipBlanks(s, pos);
    if (pos >= s.size()) return;
    if (s[pos] == '!') {
      ++pos;
      continue;
    }
    std::smatch m;
    const std::string rest = s.substr(pos, 256);
    if (std::regex_search(rest, m, kAssignment)) {
      pos += m.length(0);
      continue;
    }
    if (s.compare(pos, 5, "$SUDO") == 0) {
      pos += 5;
      continue;
    }
    const std::string word = ProgramAt(s, pos);
    if (word.empty()) return;
    if (word == "command") {
      size_t next = SkipBlanks(s, pos + word.size());
      if (s.compare(next, 2, "-v") == 0) {
        next = SkipBlanks(s, next + 2);
        if (next < s.size() && (s[next] == '"' || s[next] == '\'')) ++next;
        const std::string name = WordAt(s, next);
        if (!name.empty()) out.insert(name);
        return;
      }
      pos = next;
      continue;
    }
    if (word == "env") {
      // env's own options (-u NAME) come before the assignments and the program.
      pos = SkipBlanks(s, pos + word.size());
      while (s.compare(pos, 3, "-u ") == 0) {
        pos = SkipBlanks(s, pos + 3);
        while (pos < s.size() && WordChar(s[pos])) ++pos;
        pos = SkipBlanks(s, pos);
      }
      continue;
    }
    if (PassesThrough(word)) {
      pos += word.size();
      continue;
    }
    out.insert(word);
    return;
  }
}

// The positions in s where a new command starts after a separator.
std::vector<size_t> AfterSeparators(const std::string& s) {
  std::vector<size_t> at;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '$' && i + 1 < s.size() && s[i + 1] == '(') {
      if (i + 2 < s.size() && s[i + 2] == '(') {  // arithmetic
        i += 2;
        continue;
      }
      at.push_back(i + 2);
      ++i;
    } else if (c == ';' || c == '`' || c == '\n') {
      at.push_back(i + 1);
    } else if (c == '|' || c == '&') {
      // "2>&1", ">&2" redirect; "&&", "||", "|" and a lone "&" end a command.
      if (c == '&' && i > 0 && (s[i - 1] == '>' || s[i - 1] == '<')) continue;
      if (i + 1 < s.size() && s[i + 1] == c) ++i;
      at.push_back(i + 1);
    } else if (c == '(' && (i == 0 || s[i - 1] != '$')) {
      at.push_back(i + 1);
    }
  }
  return at;
}

// The script with comments and single-quoted text blanked (newlines kept).
std::string ShellCode(const std::string& script) {
  std::string out = script;
  bool single = false, dbl = false;
  for (size_t i = 0; i < out.size(); ++i) {
    const char c = out[i];
    if (single) {
      if (c == '\'') single = false;
      if (c != '\n') out[i] = ' ';
      continue;
    }
    if (c == '\\') {
      ++i;
      continue;
    }
    if (c == '"') {
      dbl = !dbl;
    } else if (!dbl && c == '\'') {
      single = true;
      out[i] = ' ';
    } else if (!dbl && c == '#' && (i == 0 || std::isspace(static_cast<unsigned char>(out[i - 1])))) {
      while (i < out.size() && out[i] != '\n') out[i++] = ' ';
      --i;
    }
  }
  return out;
}

struct Literal {
  std::string text;
  std::string before;  // the code just before it, comments left out
};

// The string literals of C++ source (raw strings included), each with the code before it.
std::vector<Literal> Literals(const std::string& src) {
  std::vector<Literal> out;
  std::string code;
  for (size_t i = 0; i < src.size(); ++i) {
    const char c = src[i];
    if (c == '/' && i + 1 < src.size() && src[i + 1] == '/') {
      while (i < src.size() && src[i] != '\n') ++i;
      code += '\n';
    } else if (c == '/' && i + 1 < src.size() && src[i + 1] == '*') {
      const size_t end = src.find("*/", i + 2);
      i = end == std::string::npos ? src.size() : end + 1;
      code += ' ';
    } else if (c == '\'') {
      // A character literal ('"', '\''); digit separators (1'000) have a digit before them.
      if (i > 0 && std::isalnum(static_cast<unsigned char>(src[i - 1]))) continue;
      ++i;
      if (i < src.size() && src[i] == '\\') ++i;
      while (i < src.size() && src[i] != '\'') ++i;
    } else if (c == 'R' && i + 1 < src.size() && src[i + 1] == '"' && (i == 0 || !WordChar(src[i - 1]))) {
      const size_t open = src.find('(', i + 2);
      if (open == std::string::npos) break;
      const std::string close = ")" + src.substr(i + 2, open - i - 2) + "\"";
      const size_t end = src.find(close, open + 1);
      if (end == std::string::npos) break;
      out.push_back({src.substr(open + 1, end - open - 1), code.substr(code.size() > 80 ? code.size() - 80 : 0)});
      i = end + close.size() - 1;
    } else if (c == '"') {
      std::string text;
      for (++i; i < src.size() && src[i] != '"' && src[i] != '\n'; ++i) {
        if (src[i] == '\\' && i + 1 < src.size()) {
          ++i;
          text += src[i] == 'n' ? '\n' : src[i];
        } else {
          text += src[i];
        }
      }
      out.push_back({text, code.substr(code.size() > 80 ? code.size() - 80 : 0)});
      code += "\"\"";
    } else {
      code += c;
    }
  }
  return out;
}

}  // namespace

std::set<std::string> ShellCommandWords(const std::string& script) {
  const std::string code = ShellCode(script);
  std::set<std::string> out;
  CommandAt(code, 0, out);
  for (size_t pos : AfterSeparators(code)) {
    // A line continued from the one before it goes on with its arguments.
    if (pos >= 2 && code[pos - 1] == '\n' && code[pos - 2] == '\\') continue;
    CommandAt(code, pos, out);
  }
  return out;
}

std::set<std::string> CppCommandWords(const std::string& source) {
  static const std::regex kHandedToShell(
      "(?:Run|Capture|popen|system|execl|execlp)\\(\\s*\\(?\\s*(?:std::string\\(\\s*)?$");
  static const std::regex kCommandLine("^\\s*(?:/(?:usr/)?s?bin/)?[a-z][A-Za-z0-9_.+-]*\\s+--?[A-Za-z]");
  static const std::regex kAfterAssignment("(?:^|\\s)[A-Z_][A-Z0-9_]*=[^\\s'\"]*\\s+(?=[a-z])");
  static const std::regex kStartsCommands("\\b(?:Run|Capture|popen|system|execl|execlp|execv|execvp|posix_spawnp?)\\(");
  std::set<std::string> out;
  // Text of a file that starts no program is only text.
  if (!std::regex_search(source, kStartsCommands)) return out;
  for (const Literal& lit : Literals(source)) {
    if (std::regex_search(lit.before, kHandedToShell) || std::regex_search(lit.text, kCommandLine))
      CommandAt(lit.text, 0, out);
    for (size_t pos : AfterSeparators(lit.text)) CommandAt(lit.text, pos, out);
    for (auto it = std::sregex_iterator(lit.text.begin(), lit.text.end(), kAfterAssignment);
         it != std::sregex_iterator(); ++it)
      CommandAt(lit.text, static_cast<size_t>(it->position(0) + it->length(0)), out);
  }
  return out;
}

std::set<std::string> CMakeProgramNames(const std::string& cmake) {
  static const std::regex kFind("find_program\\(\\s*[A-Za-z0-9_]+\\s+(?:NAMES\\s+)?([A-Za-z][A-Za-z0-9_.+-]*)",
                                std::regex::icase);
  std::set<std::string> out;
  for (auto it = std::sregex_iterator(cmake.begin(), cmake.end(), kFind); it != std::sregex_iterator(); ++it)
    out.insert((*it)[1]);
  return out;
}

}  // namespace treetest
