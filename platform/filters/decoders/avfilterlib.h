// libavfilter, loaded the first time a picture needs a filter graph (deinterlacing, turning,
// mirroring). Most movies never need one, and linking the library would make every process
// that loads the filters pay for loading it and the many libraries it pulls in (tens of
// milliseconds of start-up, more than any other library the filters use).
#pragma once

#include <cstdint>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

namespace tav::filters {

// The functions of libavfilter the video engine calls.
struct AvFilterApi {
  decltype(&::avfilter_get_by_name) get_by_name;
  decltype(&::avfilter_graph_alloc) graph_alloc;
  decltype(&::avfilter_graph_create_filter) graph_create_filter;
  decltype(&::avfilter_graph_parse_ptr) graph_parse_ptr;
  decltype(&::avfilter_graph_config) graph_config;
  decltype(&::avfilter_graph_free) graph_free;
  decltype(&::avfilter_inout_alloc) inout_alloc;
  decltype(&::avfilter_inout_free) inout_free;
  decltype(&::av_buffersrc_add_frame) buffersrc_add_frame;
  decltype(&::av_buffersrc_add_frame_flags) buffersrc_add_frame_flags;
  decltype(&::av_buffersink_get_frame) buffersink_get_frame;
  decltype(&::av_buffersink_get_time_base) buffersink_get_time_base;
};

// The library's functions, loaded on the first call (thread-safe); null when the library or
// one of its functions cannot be found. The library stays loaded for the rest of the process.
const AvFilterApi* AvFilter();

}  // namespace tav::filters
