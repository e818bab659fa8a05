#include "platform/filters/decoders/avfilterlib.h"

#include <dlfcn.h>

extern "C" {
#include <libavutil/macros.h>
}

#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kFilters, "avfilterlib");

namespace tav::filters {

namespace {

// The library the headers describe: its major version is its ABI.
constexpr const char* kLibraryName = "libavfilter.so." AV_STRINGIFY(LIBAVFILTER_VERSION_MAJOR);

template <typename F>
bool Resolve(void* library, const char* name, F* out) {
  *out = reinterpret_cast<F>(dlsym(library, name));
  if (!*out) TAV_TRACE("%s: %s missing", kLibraryName, name);
  return *out != nullptr;
}

const AvFilterApi* Load() {
  void* library = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    TAV_TRACE("%s not loaded: %s", kLibraryName, dlerror());
    return nullptr;
  }
  static AvFilterApi api;
  const bool ok = Resolve(library, "avfilter_get_by_name", &api.get_by_name) &&
                  Resolve(library, "avfilter_graph_alloc", &api.graph_alloc) &&
                  Resolve(library, "avfilter_graph_create_filter", &api.graph_create_filter) &&
                  Resolve(library, "avfilter_graph_parse_ptr", &api.graph_parse_ptr) &&
                  Resolve(library, "avfilter_graph_config", &api.graph_config) &&
                  Resolve(library, "avfilter_graph_free", &api.graph_free) &&
                  Resolve(library, "avfilter_inout_alloc", &api.inout_alloc) &&
                  Resolve(library, "avfilter_inout_free", &api.inout_free) &&
                  Resolve(library, "av_buffersrc_add_frame", &api.buffersrc_add_frame) &&
                  Resolve(library, "av_buffersrc_add_frame_flags", &api.buffersrc_add_frame_flags) &&
                  Resolve(library, "av_buffersink_get_frame", &api.buffersink_get_frame) &&
                  Resolve(library, "av_buffersink_get_time_base", &api.buffersink_get_time_base);
  if (!ok) {
    dlclose(library);
    return nullptr;
  }
  // Never closed: graphs made through it may live until the process ends.
  return &api;
}

}  // namespace

const AvFilterApi* AvFilter() {
  static const AvFilterApi* const api = Load();
  return api;
}

}  // namespace tav::filters
