// Registration of a filter graph in the running object table, so that graph inspection
// tools can attach to it. Each graph builder holds one.
#pragma once

#include <string>

#include "media/contract/unknown.h"

namespace tav {

class GraphRegistration {
 public:
  GraphRegistration() = default;
  GraphRegistration(const GraphRegistration&) = delete;
  GraphRegistration& operator=(const GraphRegistration&) = delete;
  // A registration still held is revoked, so the table never keeps a dead graph alive.
  ~GraphRegistration();

  // E_POINTER for a null graph; S_FALSE when already registered; otherwise registers
  // the graph (keep-alive) under the item "!FilterGraph <pointer> pid <pid>".
  HRESULT RegisterGraph(IUnknown* graph);
  // E_FAIL when not registered.
  HRESULT RevokeGraph();
  bool IsRegistered() const { return registered_; }

  // "FilterGraph %08x pid %08x": the graph's interface pointer and the process id, in
  // hexadecimal, at least eight digits each.
  static std::string ItemName(const void* graph, DWORD processId);

 private:
  bool registered_ = false;
  DWORD cookie_ = 0;
};

}  // namespace tav
