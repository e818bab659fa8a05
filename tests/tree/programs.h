// Finding the programs the scripts and the code start: command words in shell scripts, in
// the command strings the C++ code hands to a shell or to exec, and in CMake's find_program.
// Only the names are found, not whether they are installed.
#pragma once

#include <set>
#include <string>

namespace treetest {

// The command words of a shell script: the first word of each command (after variable
// assignments and words such as `if`, `exec` or `env`), in pipelines, lists and command
// substitutions, and the name `command -v` looks up. Comments and single-quoted text (an awk
// program, say) are not read.
std::set<std::string> ShellCommandWords(const std::string& script);
// The command words of C++ source that starts programs (calls Run, Capture, popen, system,
// exec or posix_spawn): string literals handed to those, literals that read as a command line
// ("name -option ..."), and words after a shell separator (&&, ||, |, ;, $() or an
// environment assignment inside any literal. Comments are not read.
std::set<std::string> CppCommandWords(const std::string& source);
// The names find_program looks for in a CMake file.
std::set<std::string> CMakeProgramNames(const std::string& cmake);

}  // namespace treetest
