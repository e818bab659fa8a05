// How long registering many classes takes: the class keys of N component classes written
// through the self-registration helpers, once inside one write batch (as regsvr does) and
// once with every class written on its own; then a full read of the CLSID key.
//
//   registry_bench [N]      (default 300; uses a fresh folder under /tmp)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "media/contract/comreg.h"
#include "media/contract/registry.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void RegisterAll(int n, DWORD salt) {
  for (int i = 0; i < n; ++i) {
    GUID g{static_cast<DWORD>(i), static_cast<WORD>(salt), 0x4C3A, {0x9B, 0x20, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};
    tav::RegisterInprocServer(g, ("Bench Filter " + std::to_string(i)).c_str(), "/usr/lib/tavrion/bench.so");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 300;
  std::string dir = std::filesystem::temp_directory_path().string() + "/tavrion-regbench-XXXXXX";
  if (!mkdtemp(dir.data())) return 1;
  setenv("TAVRION_REGISTRY_DIR", dir.c_str(), 1);
  tav::RegistryReload();

  auto t = std::chrono::steady_clock::now();
  tav::RegistryBeginBatch();
  RegisterAll(n, 1);
  tav::RegistryEndBatch();
  std::printf("%d classes in one batch:        %.3f s\n", n, Seconds(t));

  t = std::chrono::steady_clock::now();
  RegisterAll(n, 2);
  std::printf("%d classes written one by one:  %.3f s\n", n, Seconds(t));

  t = std::chrono::steady_clock::now();
  tav::RegistryReload();
  HKEY clsid;
  RegOpenKey(HKEY_CLASSES_ROOT, "CLSID", &clsid);
  char name[64];
  int keys = 0;
  while (RegEnumKey(clsid, keys, name, sizeof name) == ERROR_SUCCESS) ++keys;
  RegCloseKey(clsid);
  std::printf("reload and enumerate %d keys:  %.3f s\n", keys, Seconds(t));
  std::filesystem::remove_all(dir);
  return 0;
}
