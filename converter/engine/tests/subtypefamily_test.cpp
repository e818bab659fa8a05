// MPEG-4 version 3 movies under the family's many four-character codes, converted whole: with
// the subtype adapter registered the builder's mapper pass decodes them through the adapter and
// the MP43 decoder, and the camera movies match the one converted through the named fallback.
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <map>
#include <set>

#include "converter/engine/graphwalk.h"
#include "converter/engine/tests/runfixture.h"
#include "libs/subtypeshim/subtypeshim.h"
#include "tests/support/testenv.h"

namespace tav {
namespace {

void* LoadLibraryFile(const std::string& name) { return dlopen(tavtest::LibraryPath(name).c_str(), RTLD_NOW); }

HRESULT CallEntry(const std::string& library, const char* entry) {
  void* m = LoadLibraryFile(library);
  auto fn = m ? reinterpret_cast<PFN_DllRegisterServer>(dlsym(m, entry)) : nullptr;
  return fn ? fn() : E_FAIL;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Average luma-and-chroma PSNR of two movies' pictures, frame by frame; 1000 for identical ones.
double Psnr(const std::string& a, const std::string& b) {
  const std::string out = tavtest::Capture("ffmpeg -nostdin -hide_banner -i " + Quote(a) + " -i " + Quote(b) +
                                           " -lavfi '[0:v][1:v]psnr' -f null - 2>&1");
  const auto at = out.find("average:");
  if (at == std::string::npos) {
    ADD_FAILURE() << "no PSNR measured: " << out;
    return 0;
  }
  if (out.compare(at + 8, 3, "inf") == 0) return 1000;
  return std::strtod(out.c_str() + at + 8, nullptr);
}

int FrameCount(const std::string& movie) {
  return std::atoi(tavtest::Capture("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                    "stream=nb_read_frames -of default=nw=1:nk=1 " + Quote(movie))
                       .c_str());
}

class SubtypeFamilyTest : public ConversionRunFixture {
 protected:
  SubtypeFamilyTest() : ConversionRunFixture("family") {}
  void SetUp() override {
    ConversionRunFixture::SetUp();
    if (doc_) doc_->SetRemoveAfterConversion(false);
  }

  // The same two-second picture, encoded once by the MPEG-4 version 3 encoder and labelled code.
  std::string Movie(const std::string& code) {
    const std::string path = dir_ + "/" + code + ".avi";
    EXPECT_TRUE(tavtest::GeneratedMovie(
        "-f lavfi -i testsrc=size=160x120:rate=15 -t 2 -c:v msmpeg4 -b:v 400k -vtag " + code + " -an", path));
    return path;
  }
  static std::string OutputOf(const std::string& source) {
    const std::filesystem::path p(source);
    return (p.parent_path() / ("[QVF]-" + p.stem().string() + ".qvf")).string();
  }
  // Names of the filters of the entry's conversion graph.
  std::set<std::u16string> FilterNames() const {
    std::set<std::u16string> names;
    for (const ComPtr<IBaseFilter>& f : FiltersOf(builder_->Graph())) names.insert(FilterName(f.Get()));
    return names;
  }
  // Converts every entry of the batch; inspect(entry) runs once while each converts.
  template <typename F>
  bool Convert(F inspect, int timeoutMs = 120000) {
    run_->StartConversion(player_.get());
    return RunToTheEnd(inspect, timeoutMs);
  }
};

TEST_F(SubtypeFamilyTest, FamilyCodes_ConvertThroughTheAdapter_AsTheFallbackDoes) {
  const std::u16string kAdapter = u"VXCMN Subtype Adapter Filter";
  const std::u16string kMp43Decoder = u"MPEG 4 codec version 3";

  // Without the adapter the named fallback decodes DIV3: the reference movie.
  CConvertOrder* fallback = doc_->AddOrder(Movie("DIV3"));
  std::set<std::u16string> fallbackGraph;
  ASSERT_TRUE(Convert([&](CConvertOrder*) { fallbackGraph = FilterNames(); })) << "the run did not end";
  ASSERT_EQ(fallback->GetState(), CConvertOrder::kConverted) << fallback->GetStatusText();
  EXPECT_EQ(fallbackGraph.count(u"AVI Decompressor"), 1u);
  EXPECT_EQ(fallbackGraph.count(kAdapter), 0u);
  EXPECT_EQ(fallbackGraph.count(kMp43Decoder), 0u);
  const std::string reference = dir_ + "/reference.qvf";
  std::filesystem::rename(OutputOf(fallback->SourcePath().Full()), reference);
  doc_->RemoveOrder(fallback);

  ASSERT_EQ(CallEntry("subtypeshim", "DllRegisterServer"), S_OK);
  // The family's codes in both cases, and MP43 itself, which needs no adapter.
  const char* const codes[] = {"DIV3", "div3", "DIV4", "DIV5", "DVX3", "AP41", "col1", "MPG3", "MP43"};
  std::vector<CConvertOrder*> entries;
  for (const char* code : codes) entries.push_back(doc_->AddOrder(Movie(code)));
  std::map<CConvertOrder*, std::set<std::u16string>> graphs;
  ASSERT_TRUE(Convert([&](CConvertOrder* e) { graphs[e] = FilterNames(); })) << "the run did not end";

  const int frames = FrameCount(reference);
  EXPECT_GE(frames, 29);
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string code = codes[i];
    SCOPED_TRACE(code);
    CConvertOrder* e = entries[i];
    ASSERT_EQ(e->GetState(), CConvertOrder::kConverted) << e->GetStatusText();
    const auto& names = graphs[e];
    EXPECT_EQ(names.count(kAdapter), code == "MP43" ? 0u : 1u);
    EXPECT_EQ(names.count(kMp43Decoder), 1u);
    EXPECT_EQ(names.count(u"AVI Decompressor"), 0u) << "the fallback decoded it";
    const std::string output = OutputOf(e->SourcePath().Full());
    EXPECT_EQ(FrameCount(output), frames);
    EXPECT_GT(Psnr(output, reference), 40.0);
  }
  CallEntry("subtypeshim", "DllUnregisterServer");
}

}  // namespace
}  // namespace tav
