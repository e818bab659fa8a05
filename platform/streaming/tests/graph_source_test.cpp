// Source filters for files: the extension's entry, then the check bytes under the media
// types, then the default file source; loading failures; rendering a whole file.
#include <fstream>
#include <memory>

#include "media/contract/registry.h"
#include "platform/streaming/graph/utf.h"
#include "platform/streaming/tests/graph_testfilters.h"
#include "platform/streaming/tests/graph_testutil.h"
#include "tests/support/testguid.h"

namespace {

using graphtest::FirstPin;
using graphtest::LocalClass;
using graphtest::Outer;

TAVTEST_GUID(kExtSource, 0x4D000001);
TAVTEST_GUID(kCheckSource, 0x4D000002);
TAVTEST_GUID(kExtSubtype, 0x4D000003);
TAVTEST_GUID(kCheckSubtype, 0x4D000004);
TAVTEST_GUID(kParserClass, 0x4D000005);

// What the last file source was asked to load.
struct LoadRecord {
  CLSID source = GUID_NULL;
  std::u16string file;
  GUID subtype = GUID_NULL;
  bool hadType = false;
};

class FileSourcePin : public CBaseOutputPin {
 public:
  FileSourcePin(CBaseFilter* f, CCritSec* lock, HRESULT* phr) : CBaseOutputPin("file pin", f, lock, phr, u"Output") {}
  HRESULT CheckMediaType(const CMediaType* mt) override {
    return *mt->Type() == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* mt) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Stream);
    mt->SetSubtype(&subtype);
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override {
    props->cBuffers = 1;
    props->cbBuffer = 4096;
    ALLOCATOR_PROPERTIES actual;
    return alloc->SetProperties(props, &actual);
  }
  GUID subtype = GUID_NULL;
};

class FileSource : public CBaseFilter, public IFileSourceFilter {
 public:
  FileSource(const CLSID& clsid, LoadRecord* record)
      : CBaseFilter("file source", nullptr, &lock_, clsid), pin_(this, &lock_, &hr_), record_(record) {}
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
  STDMETHODIMP Load(LPCOLESTR file, const AM_MEDIA_TYPE* mt) override {
    GetClassID(&record_->source);
    record_->file = file;
    record_->hadType = mt != nullptr;
    record_->subtype = mt ? mt->subtype : GUID_NULL;
    pin_.subtype = record_->subtype;
    return record_->file.find(u"refuse") != std::u16string::npos ? VFW_E_INVALID_FILE_FORMAT : S_OK;
  }
  STDMETHODIMP GetCurFile(LPOLESTR*, AM_MEDIA_TYPE*) override { return E_NOTIMPL; }

 private:
  CCritSec lock_;
  HRESULT hr_ = S_OK;
  FileSourcePin pin_;
  LoadRecord* record_;
};

// Accepts any stream: stands in for a parser that renders a file's byte stream.
class StreamSink : public CBaseRenderer {
 public:
  explicit StreamSink(HRESULT* phr) : CBaseRenderer(kParserClass, "stream sink", nullptr, phr) {}
  HRESULT CheckMediaType(const CMediaType* mt) override {
    return *mt->Type() == MEDIATYPE_Stream && *mt->Subtype() == kCheckSubtype ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT DoRenderSample(IMediaSample*) override { return S_OK; }
};

void SetString(const std::string& key, const char* name, const std::string& value) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, key.c_str(), &k), ERROR_SUCCESS);
  RegSetValueEx(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                static_cast<DWORD>(value.size() + 1));
  RegCloseKey(k);
}

class GraphSourceTest : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, &graph_), S_OK);
    for (const CLSID* c : {&kExtSource, &kCheckSource, &CLSID_AsyncReader}) {
      const CLSID clsid = *c;
      classes_.push_back(std::make_unique<LocalClass>(clsid, [this, clsid] {
        return Outer(new FileSource(clsid, &record_));
      }));
    }
    RegDeleteTree(HKEY_CLASSES_ROOT, "Media Type");
    SetString("Media Type\\Extensions\\.tvx", "Source Filter", tav::GuidToString(kExtSource));
    SetString("Media Type\\Extensions\\.tvx", "Media Type", tav::GuidToString(MEDIATYPE_Stream));
    SetString("Media Type\\Extensions\\.tvx", "Subtype", tav::GuidToString(kExtSubtype));
    std::string check = "Media Type\\" + tav::GuidToString(MEDIATYPE_Stream) + "\\" + tav::GuidToString(kCheckSubtype);
    SetString(check, "Source Filter", tav::GuidToString(kCheckSource));
    SetString(check, "0", "0,4,,54415652");                // "TAVR" at the start
    SetString(check, "1", "0,2,,4D5A,-4,4,FFFFFF00,454E4400");  // "MZ" at the start and "END?" at the end
  }
  void TearDown() override {
    graph_ = nullptr;
    classes_.clear();
    EXPECT_EQ(CBaseObject::ObjectsActive(), 0) << "base-class objects leaked";
    GraphTest::TearDown();
  }
  std::u16string MakeFile(const std::string& name, const std::string& bytes) {
    std::string path = tavtest::TempDir() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return tav::graph::ToUtf16(path);
  }
  size_t FilterCount() {
    ComPtr<IEnumFilters> e;
    graph_->EnumFilters(&e);
    size_t n = 0;
    IBaseFilter* f = nullptr;
    while (e->Next(1, &f, nullptr) == S_OK) {
      f->Release();
      ++n;
    }
    return n;
  }

  ComPtr<IGraphBuilder> graph_;
  std::vector<std::unique_ptr<LocalClass>> classes_;
  LoadRecord record_;
};

TEST_F(GraphSourceTest, AddSourceFilter_ExtensionEntryComesFirst) {
  // The content would match the check bytes too: the extension wins.
  std::u16string file = MakeFile("movie.tvx", "TAVR and more");
  ComPtr<IBaseFilter> source;
  ASSERT_EQ(graph_->AddSourceFilter(file.c_str(), u"Source: movie", &source), S_OK);
  EXPECT_EQ(record_.source, kExtSource);
  EXPECT_EQ(record_.file, file);
  EXPECT_TRUE(record_.hadType);
  EXPECT_EQ(record_.subtype, kExtSubtype);
  ComPtr<IBaseFilter> named;
  EXPECT_EQ(graph_->FindFilterByName(u"Source: movie", &named), S_OK);
  EXPECT_TRUE(IsSameObject(named.Get(), source.Get()));
}

TEST_F(GraphSourceTest, AddSourceFilter_CheckBytesThenTheDefaultSource) {
  ComPtr<IBaseFilter> source;
  ASSERT_EQ(graph_->AddSourceFilter(MakeFile("a.bin", "TAVR....").c_str(), nullptr, &source), S_OK);
  EXPECT_EQ(record_.source, kCheckSource);
  EXPECT_EQ(record_.subtype, kCheckSubtype);

  // Both groups of the second line must match; the mask ignores the last byte.
  ASSERT_EQ(graph_->AddSourceFilter(MakeFile("b.bin", "MZ.......END!").c_str(), nullptr, &source), S_OK);
  EXPECT_EQ(record_.source, kCheckSource);
  ASSERT_EQ(graph_->AddSourceFilter(MakeFile("c.bin", "MZ.......FIN!").c_str(), nullptr, &source), S_OK);
  EXPECT_EQ(record_.source, CLSID_AsyncReader);
  EXPECT_FALSE(record_.hadType);
  // The file name is the graph name when none is given; a second copy gets a number.
  ASSERT_EQ(graph_->AddSourceFilter(MakeFile("c.bin", "MZ.......FIN!").c_str(), nullptr, &source), S_OK);
  EXPECT_EQ(FilterCount(), 4u);
}

TEST_F(GraphSourceTest, AddSourceFilter_FailuresLeaveTheGraphAsItWas) {
  ComPtr<IBaseFilter> source;
  std::u16string missing = tav::graph::ToUtf16(tavtest::TempDir() + "/missing.avi");
  EXPECT_EQ(graph_->AddSourceFilter(missing.c_str(), nullptr, &source), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(graph_->AddSourceFilter(MakeFile("refuse.bin", "garbage").c_str(), nullptr, &source),
            VFW_E_INVALID_FILE_FORMAT);
  EXPECT_FALSE(source);
  EXPECT_EQ(FilterCount(), 0u);
  EXPECT_EQ(graph_->AddSourceFilter(nullptr, nullptr, &source), E_POINTER);
}

TEST_F(GraphSourceTest, RenderFile_RendersTheSourceOrRemovesIt) {
  ComPtr<IFilterMapper2> mapper;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, &mapper), S_OK);
  ASSERT_EQ(graphtest::RegisterRenderer(mapper.Get(), kParserClass, u"Stream parser", MERIT_NORMAL, MEDIATYPE_Stream,
                                        kCheckSubtype),
            S_OK);
  classes_.push_back(std::make_unique<LocalClass>(kParserClass, [] {
    HRESULT hr = S_OK;
    return Outer(new StreamSink(&hr));
  }));

  ASSERT_EQ(graph_->RenderFile(MakeFile("d.bin", "TAVR").c_str(), nullptr), S_OK);
  EXPECT_EQ(FilterCount(), 2u);
  ComPtr<IBaseFilter> parser;
  EXPECT_EQ(graph_->FindFilterByName(u"Stream parser", &parser), S_OK);

  // Nothing takes the default source's untyped stream: the source goes again.
  EXPECT_EQ(graph_->RenderFile(MakeFile("e.bin", "nothing known").c_str(), nullptr), VFW_E_CANNOT_RENDER);
  EXPECT_EQ(FilterCount(), 2u);
  mapper->UnregisterFilter(nullptr, nullptr, kParserClass);
}

}  // namespace
