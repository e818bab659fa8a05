// libFuzzer target for the batch loader: any input either loads or raises the archive
// error; a loaded batch saves and loads again to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "converter/engine/document.h"
#include "converter/engine/exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  tav::CTavrionConverterDoc doc;
  try {
    doc.LoadFromBytes(bytes, "/fuzz/batch.tvc");
  } catch (const tav::ArchiveException&) {
    if (doc.GetCount() != 0) std::abort();  // a failed load never leaves entries behind
    return 0;
  }
  const std::string saved = doc.SaveToBytes("/fuzz/batch.tvc");
  tav::CTavrionConverterDoc again;
  again.LoadFromBytes(saved, "/fuzz/batch.tvc");
  if (again.SaveToBytes("/fuzz/batch.tvc") != saved) std::abort();
  if (again.GetCount() != doc.GetCount() || again.GetSelection().size() != doc.GetSelection().size()) std::abort();
  return 0;
}
