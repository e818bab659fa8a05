// The library as the platform meets it: registered by DllRegisterServer into a fresh registry,
// its class table walked row by row, and the graph's intelligent connection putting the
// adapter between a family source and a sink that takes only MP43.
#include <gtest/gtest.h>

#include "libs/subtypeshim/subtypeshim.cpp"  // NOLINT: the library's own g_Templates
#include "libs/subtypeshim/tests/shimharness.h"
#include "tests/support/classtable.h"

using namespace shimtest;

namespace {

class SubtypeShimLibrary : public FilterFixture {
 protected:
  void SetUp() override { Start({"tavrionstreaming", "subtypeshim"}, AtEnd::kLastLibraryUnloads); }
  // Source -> sink by intelligent connection; true when it connected, with the names of the
  // filters the graph then holds.
  bool ConnectThroughTheGraph(FOURCC code, std::vector<std::u16string>* names) {
    ComPtr<IGraphBuilder> graph = NewGraph();
    if (!graph) return false;
    auto* source = new Source({VideoType(code, 176, 144)});
    ComPtr<IBaseFilter> sourceFilter = AsFilter(source);
    auto* sink = new Sink;
    ComPtr<IBaseFilter> sinkFilter = AsFilter(sink);
    graph->AddFilter(sourceFilter.Get(), u"Source");
    graph->AddFilter(sinkFilter.Get(), u"Sink");
    const HRESULT hr = graph->Connect(source->OutPin(), sink->InPin());
    ComPtr<IEnumFilters> e;
    graph->EnumFilters(&e);
    ComPtr<IBaseFilter> f;
    while (e->Next(1, &f, nullptr) == S_OK) {
      FILTER_INFO info{};
      f->QueryFilterInfo(&info);
      if (info.pGraph) info.pGraph->Release();
      names->push_back(info.achName);
    }
    // Emptied before it goes, so that no filter keeps another alive.
    for (const auto& name : *names) {
      ComPtr<IBaseFilter> found;
      if (graph->FindFilterByName(name.c_str(), &found) == S_OK) graph->RemoveFilter(found.Get());
    }
    return hr == S_OK;
  }
};

}  // namespace

TEST_F(SubtypeShimLibrary, TheOneClassIsRegisteredCreatedAndFoundByTheMapper) {
  tavtest::ExpectPublishedClasses(
      g_Templates, int(std::size(g_Templates)),
      {{"{984915EF-58E5-4529-B67A-5C71E59A38DC}", "VXCMN Subtype Adapter Filter", 0x800000}});
  tavtest::ExpectClassTableRegistered(g_Templates, int(std::size(g_Templates)), "subtypeshim");
}

TEST_F(SubtypeShimLibrary, IntelligentConnectionInsertsTheAdapter_ForRegisteredCodesOnly) {
  for (FOURCC code : {MAKEFOURCC('D', 'I', 'V', '3'), MAKEFOURCC('c', 'o', 'l', '1'), MAKEFOURCC('M', 'P', 'G', '3')}) {
    std::vector<std::u16string> names;
    EXPECT_TRUE(ConnectThroughTheGraph(code, &names));
    EXPECT_NE(std::find(names.begin(), names.end(), u"VXCMN Subtype Adapter Filter"), names.end());
  }
  // div6 is taken at run time but not registered: the mapper never offers the adapter for it.
  std::vector<std::u16string> names;
  EXPECT_FALSE(ConnectThroughTheGraph(MAKEFOURCC('d', 'i', 'v', '6'), &names));
  EXPECT_EQ(2u, names.size());
}
