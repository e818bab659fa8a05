// rotlist: lists the running object tables of the user's running processes, one entry per
// line as "PID<TAB>PROGRAM<TAB>NAME", for inspecting a conversion's graph while it runs.
//   rotlist          every process
//   rotlist PID      one process (exit status 1 when it has no entries)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/runtime/rot_publish.h"

int main(int argc, char** argv) {
  if (argc > 2 || (argc == 2 && (!strcmp(argv[1], "-h") || !strcmp(argv[1], "--help")))) {
    fprintf(stderr, "usage: rotlist [PID]\n");
    return argc == 2 ? 0 : 2;
  }
  long onlyPid = -1;
  if (argc == 2) {
    char* end = nullptr;
    onlyPid = strtol(argv[1], &end, 10);
    if (!*argv[1] || *end || onlyPid <= 0) {
      fprintf(stderr, "rotlist: \"%s\" is not a process id\n", argv[1]);
      return 2;
    }
  }
  int listed = 0;
  for (const auto& p : tav::rt::ReadPublishedRunningObjects()) {
    if (onlyPid > 0 && long(p.pid) != onlyPid) continue;
    const std::string program = p.exe.substr(p.exe.find_last_of('/') + 1);
    for (const std::string& name : p.names) {
      printf("%u\t%s\t%s\n", unsigned(p.pid), program.c_str(), name.c_str());
      ++listed;
    }
  }
  return onlyPid > 0 && listed == 0 ? 1 : 0;
}
