// Creates a test class by identifier in a process of its own and prints what happened:
//   createhelper {CLSID}   -> "created 5" (or "failed 0x........"), exit 0 on success.
#include <cstdio>

#include "media/contract/com.h"
#include "media/contract/comptr.h"
#include "platform/runtime/tests/testcomponent.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: createhelper {CLSID}\n");
    return 2;
  }
  CLSID clsid;
  if (!tav::GuidFromString(std::string_view(argv[1]), &clsid)) {
    std::fprintf(stderr, "createhelper: bad class identifier %s\n", argv[1]);
    return 2;
  }
  CoInitialize(nullptr);
  ITestCounter* counter = nullptr;
  const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ITestCounter,
                                      reinterpret_cast<void**>(&counter));
  if (FAILED(hr)) {
    std::printf("failed 0x%08X\n", static_cast<unsigned>(hr));
    return 1;
  }
  counter->Add(2);
  counter->Add(3);
  std::printf("created %d\n", static_cast<int>(counter->Value()));
  counter->Release();  // by hand: a client lets go of its objects before CoUninitialize
  CoUninitialize();
  return 0;
}
