// Building a graph: direct connection, intelligent connection (filters already in the
// graph first, then the mapper by merit, with the graph-builder callback's veto),
// rendering, undoing failed attempts, reconnection, names.
#include <memory>
#include <set>

#include "platform/streaming/graph/utf.h"
#include "platform/streaming/tests/graph_testfilters.h"
#include "platform/streaming/tests/graph_testutil.h"
#include "tests/support/testguid.h"

namespace {

using graphtest::Converter;
using graphtest::FirstPin;
using graphtest::LocalClass;
using graphtest::Outer;
using graphtest::SubtypeRenderer;
using graphtest::TypedSource;

TAVTEST_GUID(kSourceClass, 0x2B000001);
TAVTEST_GUID(kSinkClass, 0x2B000002);
TAVTEST_GUID(kLocalConv, 0x2B000003);
TAVTEST_GUID(kConvPreferred, 0x2B000010);
TAVTEST_GUID(kConvNormal, 0x2B000011);
TAVTEST_GUID(kConvDeadEnd, 0x2B000012);
TAVTEST_GUID(kConvYv12ToYuy2, 0x2B000013);
TAVTEST_GUID(kRendererClass, 0x2B000014);

// The graph-builder callback of an application: refuses filters by class identifier,
// read from the moniker's property bag, and counts what it is shown.
class VetoCallback final : public IAMGraphBuilderCallback {
 public:
  std::set<std::u16string> refusedClasses;
  std::set<std::u16string> refusedAtCreation;  // by graph name
  int selected = 0, created = 0;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IAMGraphBuilderCallback) {
      *ppv = static_cast<IAMGraphBuilderCallback*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP SelectedFilter(IMoniker* moniker) override {
    ++selected;
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.AsVoidOut()))) return S_OK;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    HRESULT verdict = S_OK;
    if (SUCCEEDED(bag->Read(u"CLSID", &v, nullptr)) && refusedClasses.count(v.bstrVal)) verdict = E_FAIL;
    VariantClear(&v);
    return verdict;
  }
  STDMETHODIMP CreatedFilter(IBaseFilter* filter) override {
    ++created;
    FILTER_INFO info{};
    filter->QueryFilterInfo(&info);
    if (info.pGraph) info.pGraph->Release();
    CLSID clsid;
    filter->GetClassID(&clsid);
    return refusedAtCreation.count(tav::GuidToWString(clsid)) ? E_FAIL : S_OK;
  }
  int refs = 0;
};


// A renderer with a video window: records what reaches it through the graph.
class WindowRenderer : public CBaseRenderer, public IVideoWindow, public IBasicVideo {
 public:
  explicit WindowRenderer(HRESULT* phr) : CBaseRenderer(kSinkClass, "window renderer", nullptr, phr) {}
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), ppv);
    if (riid == IID_IBasicVideo) return GetInterface(static_cast<IBasicVideo*>(this), ppv);
    return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
  }
  HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
  HRESULT DoRenderSample(IMediaSample*) override { return S_OK; }

  STDMETHODIMP put_Left(LONG left) override {
    left_ = left;
    return S_OK;
  }
  STDMETHODIMP SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override {
    left_ = left;
    width_ = width;
    return S_OK;
  }
  STDMETHODIMP get_VideoWidth(LONG* width) override {
    *width = 640;
    return S_OK;
  }
  LONG left_ = 0, width_ = 0;

  // The rest is not needed here.
  STDMETHODIMP put_Caption(BSTR caption) override { return E_NOTIMPL; }
  STDMETHODIMP get_Caption(BSTR* caption) override { return E_NOTIMPL; }
  STDMETHODIMP put_WindowStyle(LONG style) override { return E_NOTIMPL; }
  STDMETHODIMP get_WindowStyle(LONG* style) override { return E_NOTIMPL; }
  STDMETHODIMP put_WindowStyleEx(LONG style) override { return E_NOTIMPL; }
  STDMETHODIMP get_WindowStyleEx(LONG* style) override { return E_NOTIMPL; }
  STDMETHODIMP put_AutoShow(LONG autoShow) override { return E_NOTIMPL; }
  STDMETHODIMP get_AutoShow(LONG* autoShow) override { return E_NOTIMPL; }
  STDMETHODIMP put_WindowState(LONG state) override { return E_NOTIMPL; }
  STDMETHODIMP get_WindowState(LONG* state) override { return E_NOTIMPL; }
  STDMETHODIMP put_BackgroundPalette(LONG palette) override { return E_NOTIMPL; }
  STDMETHODIMP get_BackgroundPalette(LONG* palette) override { return E_NOTIMPL; }
  STDMETHODIMP put_Visible(LONG visible) override { return E_NOTIMPL; }
  STDMETHODIMP get_Visible(LONG* visible) override { return E_NOTIMPL; }
  STDMETHODIMP get_Left(LONG* left) override { return E_NOTIMPL; }
  STDMETHODIMP put_Width(LONG width) override { return E_NOTIMPL; }
  STDMETHODIMP get_Width(LONG* width) override { return E_NOTIMPL; }
  STDMETHODIMP put_Top(LONG top) override { return E_NOTIMPL; }
  STDMETHODIMP get_Top(LONG* top) override { return E_NOTIMPL; }
  STDMETHODIMP put_Height(LONG height) override { return E_NOTIMPL; }
  STDMETHODIMP get_Height(LONG* height) override { return E_NOTIMPL; }
  STDMETHODIMP put_Owner(OAHWND owner) override { return E_NOTIMPL; }
  STDMETHODIMP get_Owner(OAHWND* owner) override { return E_NOTIMPL; }
  STDMETHODIMP put_MessageDrain(OAHWND drain) override { return E_NOTIMPL; }
  STDMETHODIMP get_MessageDrain(OAHWND* drain) override { return E_NOTIMPL; }
  STDMETHODIMP get_BorderColor(LONG* color) override { return E_NOTIMPL; }
  STDMETHODIMP put_BorderColor(LONG color) override { return E_NOTIMPL; }
  STDMETHODIMP get_FullScreenMode(LONG* mode) override { return E_NOTIMPL; }
  STDMETHODIMP put_FullScreenMode(LONG mode) override { return E_NOTIMPL; }
  STDMETHODIMP SetWindowForeground(LONG focus) override { return E_NOTIMPL; }
  STDMETHODIMP NotifyOwnerMessage(OAHWND hwnd, LONG msg, LONG_PTR wParam, LONG_PTR lParam) override { return E_NOTIMPL; }
  STDMETHODIMP GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override { return E_NOTIMPL; }
  STDMETHODIMP GetMinIdealImageSize(LONG* width, LONG* height) override { return E_NOTIMPL; }
  STDMETHODIMP GetMaxIdealImageSize(LONG* width, LONG* height) override { return E_NOTIMPL; }
  STDMETHODIMP GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) override { return E_NOTIMPL; }
  STDMETHODIMP HideCursor(LONG hide) override { return E_NOTIMPL; }
  STDMETHODIMP IsCursorHidden(LONG* hidden) override { return E_NOTIMPL; }
  STDMETHODIMP get_AvgTimePerFrame(REFTIME* time) override { return E_NOTIMPL; }
  STDMETHODIMP get_BitRate(LONG* rate) override { return E_NOTIMPL; }
  STDMETHODIMP get_BitErrorRate(LONG* rate) override { return E_NOTIMPL; }
  STDMETHODIMP get_VideoHeight(LONG* height) override { return E_NOTIMPL; }
  STDMETHODIMP put_SourceLeft(LONG v) override { return E_NOTIMPL; }
  STDMETHODIMP get_SourceLeft(LONG* v) override { return E_NOTIMPL; }
  STDMETHODIMP put_SourceWidth(LONG v) override { return E_NOTIMPL; }
  STDMETHODIMP get_SourceWidth(LONG* v) override { return E_NOTIMPL; }
  STDMETHODIMP put_SourceTop(LONG v) override { return E_NOTIMPL; }
  STDMETHODIMP get_SourceTop(LONG* v) override { return E_NOTIMPL; }
  STDMETHODIMP put_SourceHeight(LONG v) override { return E_NOTIMPL; }
  STDMETHODIMP get_SourceHeight(LONG* v) override { return E_NOTIMPL; }
  STDMETHODIMP put_DestinationLeft(LONG v) override { return E_NOTIMPL; }
  STDMETHODIMP get_DestinationLeft(LONG* v) override { return E_NOTIMPL; }
  STDMETHODIMP put_DestinationWidth(LONG v) override { return E_NOTIMPL; }
  STDMETHODIMP get_DestinationWidth(LONG* v) override { return E_NOTIMPL; }
  STDMETHODIMP put_DestinationTop(LONG v) override { return E_NOTIMPL; }
  STDMETHODIMP get_DestinationTop(LONG* v) override { return E_NOTIMPL; }
  STDMETHODIMP put_DestinationHeight(LONG v) override { return E_NOTIMPL; }
  STDMETHODIMP get_DestinationHeight(LONG* v) override { return E_NOTIMPL; }
  STDMETHODIMP SetSourcePosition(LONG left, LONG top, LONG width, LONG height) override { return E_NOTIMPL; }
  STDMETHODIMP GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) override { return E_NOTIMPL; }
  STDMETHODIMP SetDefaultSourcePosition() override { return E_NOTIMPL; }
  STDMETHODIMP SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) override { return E_NOTIMPL; }
  STDMETHODIMP GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) override { return E_NOTIMPL; }
  STDMETHODIMP SetDefaultDestinationPosition() override { return E_NOTIMPL; }
  STDMETHODIMP GetVideoSize(LONG* width, LONG* height) override { return E_NOTIMPL; }
  STDMETHODIMP GetVideoPaletteEntries(LONG start, LONG count, LONG* retrieved, LONG* palette) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurrentImage(LONG* bufferSize, LONG* image) override { return E_NOTIMPL; }
  STDMETHODIMP IsUsingDefaultSource() override { return E_NOTIMPL; }
  STDMETHODIMP IsUsingDefaultDestination() override { return E_NOTIMPL; }
};

class GraphConnectTest : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, &graph_), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, &mapper_), S_OK);
  }
  void TearDown() override {
    for (const CLSID* c : {&kConvPreferred, &kConvNormal, &kConvDeadEnd, &kConvYv12ToYuy2, &kRendererClass})
      mapper_->UnregisterFilter(nullptr, nullptr, *c);
    graph_ = nullptr;
    mapper_ = nullptr;
    classes_.clear();
    EXPECT_EQ(CBaseObject::ObjectsActive(), 0) << "base-class objects leaked";
    GraphTest::TearDown();
  }

  // Registers a converter class with the mapper and makes it creatable here.
  LocalClass* AddConverterClass(const CLSID& clsid, const char16_t* name, DWORD merit, const GUID& in,
                                const GUID& out) {
    EXPECT_EQ(graphtest::RegisterTransform(mapper_.Get(), clsid, name, merit, {&MEDIATYPE_Video, &in},
                                           {&MEDIATYPE_Video, &out}),
              S_OK);
    classes_.push_back(std::make_unique<LocalClass>(clsid, [clsid, in, out] {
      return Outer(new Converter(clsid, in, out));
    }));
    return classes_.back().get();
  }

  ComPtr<IBaseFilter> AddSource(std::vector<GUID> subtypes, const char16_t* name = u"Source") {
    ComPtr<IBaseFilter> f(new TypedSource(kSourceClass, std::move(subtypes)));
    EXPECT_EQ(graph_->AddFilter(f.Get(), name), S_OK);
    return f;
  }
  ComPtr<IBaseFilter> AddSink(std::vector<GUID> subtypes, const char16_t* name = u"Sink") {
    HRESULT hr = S_OK;
    ComPtr<IBaseFilter> f(new SubtypeRenderer(kSinkClass, std::move(subtypes), &hr));
    EXPECT_EQ(graph_->AddFilter(f.Get(), name), S_OK);
    return f;
  }

  // Graph names of the filters in the graph.
  std::set<std::u16string> FilterNames() {
    std::set<std::u16string> names;
    ComPtr<IEnumFilters> e;
    graph_->EnumFilters(&e);
    IBaseFilter* f = nullptr;
    while (e->Next(1, &f, nullptr) == S_OK) {
      FILTER_INFO info{};
      f->QueryFilterInfo(&info);
      if (info.pGraph) info.pGraph->Release();
      names.insert(info.achName);
      f->Release();
    }
    return names;
  }

  static GUID ConnectionSubtype(IPin* pin) {
    AM_MEDIA_TYPE mt{};
    if (FAILED(pin->ConnectionMediaType(&mt))) return GUID_NULL;
    GUID s = mt.subtype;
    FreeMediaType(mt);
    return s;
  }

  ComPtr<IGraphBuilder> graph_;
  ComPtr<IFilterMapper2> mapper_;
  std::vector<std::unique_ptr<LocalClass>> classes_;
};

using Names = std::set<std::u16string>;

TEST_F(GraphConnectTest, ConnectDirect_ChecksPinsAndTypes) {
  ComPtr<IBaseFilter> src = AddSource({MEDIASUBTYPE_YUY2});
  ComPtr<IBaseFilter> sink = AddSink({MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB32});
  IPin* out = FirstPin(src.Get(), PINDIR_OUTPUT);
  IPin* in = FirstPin(sink.Get(), PINDIR_INPUT);
  EXPECT_EQ(graph_->ConnectDirect(in, out, nullptr), VFW_E_INVALID_DIRECTION);
  CMediaType rgb24 = graphtest::VideoType(MEDIASUBTYPE_RGB24);
  EXPECT_TRUE(FAILED(graph_->ConnectDirect(out, in, &rgb24)));
  ASSERT_EQ(graph_->ConnectDirect(out, in, nullptr), S_OK);
  EXPECT_EQ(ConnectionSubtype(in), MEDIASUBTYPE_YUY2);
  EXPECT_EQ(graph_->Connect(out, in), VFW_E_ALREADY_CONNECTED);

  // A pin whose filter is not in the graph.
  ComPtr<IBaseFilter> outsider(new TypedSource(kSourceClass, {MEDIASUBTYPE_YUY2}));
  EXPECT_EQ(graph_->ConnectDirect(FirstPin(outsider.Get(), PINDIR_OUTPUT), in, nullptr), VFW_E_NOT_IN_GRAPH);
  ComPtr<IFilterGraph2> g2 = graph_.As<IFilterGraph2>();
  EXPECT_EQ(g2->ReconnectEx(FirstPin(outsider.Get(), PINDIR_OUTPUT), nullptr), VFW_E_NOT_IN_GRAPH);

  // Removing a filter breaks its connections on both sides.
  EXPECT_EQ(graph_->RemoveFilter(sink.Get()), S_OK);
  ComPtr<IPin> peer;
  EXPECT_EQ(out->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(graph_->RemoveFilter(sink.Get()), E_FAIL);
}

TEST_F(GraphConnectTest, Connect_UsesAFilterAlreadyInTheGraphBeforeTheMapper) {
  LocalClass* preferred =
      AddConverterClass(kConvPreferred, u"Preferred converter", MERIT_PREFERRED, MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB32);
  ComPtr<IBaseFilter> src = AddSource({MEDIASUBTYPE_YUY2});
  ComPtr<IBaseFilter> sink = AddSink({MEDIASUBTYPE_RGB32});
  ComPtr<IBaseFilter> local(new Converter(kLocalConv, MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB32));
  ASSERT_EQ(graph_->AddFilter(local.Get(), u"Converter added first"), S_OK);

  ASSERT_EQ(graph_->Connect(FirstPin(src.Get(), PINDIR_OUTPUT), FirstPin(sink.Get(), PINDIR_INPUT)), S_OK);
  EXPECT_EQ(FilterNames(), (Names{u"Source", u"Sink", u"Converter added first"}));
  EXPECT_EQ(preferred->created, 0);
  EXPECT_EQ(ConnectionSubtype(FirstPin(sink.Get(), PINDIR_INPUT)), MEDIASUBTYPE_RGB32);
}

TEST_F(GraphConnectTest, Connect_InsertsTheMappersConverterByMerit) {
  AddConverterClass(kConvNormal, u"Normal converter", MERIT_NORMAL, MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB32);
  AddConverterClass(kConvPreferred, u"Preferred converter", MERIT_PREFERRED, MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB32);
  ComPtr<IBaseFilter> src = AddSource({MEDIASUBTYPE_YUY2});
  ComPtr<IBaseFilter> sink = AddSink({MEDIASUBTYPE_RGB32});
  ASSERT_EQ(graph_->Connect(FirstPin(src.Get(), PINDIR_OUTPUT), FirstPin(sink.Get(), PINDIR_INPUT)), S_OK);
  EXPECT_EQ(FilterNames(), (Names{u"Source", u"Sink", u"Preferred converter"}));
}

TEST_F(GraphConnectTest, Callback_VetoedFiltersAreNeverUsed) {
  LocalClass* preferred =
      AddConverterClass(kConvPreferred, u"Preferred converter", MERIT_PREFERRED, MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB32);
  AddConverterClass(kConvNormal, u"Normal converter", MERIT_NORMAL, MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB32);
  VetoCallback callback;
  callback.refusedClasses.insert(tav::GuidToWString(kConvPreferred));
  ComPtr<IObjectWithSite> site = graph_.As<IObjectWithSite>();
  ASSERT_TRUE(site);
  ASSERT_EQ(site->SetSite(&callback), S_OK);

  ComPtr<IBaseFilter> src = AddSource({MEDIASUBTYPE_YUY2});
  ComPtr<IBaseFilter> sink = AddSink({MEDIASUBTYPE_RGB32});
  ASSERT_EQ(graph_->Connect(FirstPin(src.Get(), PINDIR_OUTPUT), FirstPin(sink.Get(), PINDIR_INPUT)), S_OK);
  EXPECT_EQ(FilterNames(), (Names{u"Source", u"Sink", u"Normal converter"}));
  EXPECT_EQ(preferred->created, 0) << "a refused filter must not even be created";
  EXPECT_GE(callback.selected, 2);

  // Refused at creation: created, then discarded, never added.
  graph_->RemoveFilter(src.Get());
  graph_->RemoveFilter(sink.Get());
  ComPtr<IBaseFilter> normal;
  ASSERT_EQ(graph_->FindFilterByName(u"Normal converter", &normal), S_OK);
  graph_->RemoveFilter(normal.Get());
  normal = nullptr;
  callback.refusedClasses.clear();
  callback.refusedAtCreation.insert(tav::GuidToWString(kConvPreferred));
  src = AddSource({MEDIASUBTYPE_YUY2});
  sink = AddSink({MEDIASUBTYPE_RGB32});
  ASSERT_EQ(graph_->Connect(FirstPin(src.Get(), PINDIR_OUTPUT), FirstPin(sink.Get(), PINDIR_INPUT)), S_OK);
  EXPECT_EQ(FilterNames(), (Names{u"Source", u"Sink", u"Normal converter"}));
  EXPECT_EQ(preferred->created, 1);

  // The graph lets go of the site when told to.
  EXPECT_EQ(site->SetSite(nullptr), S_OK);
  EXPECT_EQ(callback.refs, 0);
}

TEST_F(GraphConnectTest, Connect_ChainsIntermediatesAndUndoesFailedAttempts) {
  // YV12 -> YUY2 (preferred) leads nowhere for RGB24; YV12 -> RGB24 directly has less merit.
  AddConverterClass(kConvYv12ToYuy2, u"YV12 to YUY2", MERIT_PREFERRED, MEDIASUBTYPE_YV12, MEDIASUBTYPE_YUY2);
  AddConverterClass(kConvDeadEnd, u"YV12 to RGB24", MERIT_NORMAL, MEDIASUBTYPE_YV12, MEDIASUBTYPE_RGB24);
  AddConverterClass(kConvNormal, u"YUY2 to RGB32", MERIT_NORMAL, MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB32);

  ComPtr<IBaseFilter> src = AddSource({MEDIASUBTYPE_YV12});
  ComPtr<IBaseFilter> sink = AddSink({MEDIASUBTYPE_RGB24});
  ASSERT_EQ(graph_->Connect(FirstPin(src.Get(), PINDIR_OUTPUT), FirstPin(sink.Get(), PINDIR_INPUT)), S_OK);
  EXPECT_EQ(FilterNames(), (Names{u"Source", u"Sink", u"YV12 to RGB24"}));

  // Two converters in a row: YV12 -> YUY2 -> RGB32.
  ComPtr<IBaseFilter> src2 = AddSource({MEDIASUBTYPE_YV12}, u"Source 2");
  ComPtr<IBaseFilter> sink2 = AddSink({MEDIASUBTYPE_RGB32}, u"Sink 2");
  ASSERT_EQ(graph_->Connect(FirstPin(src2.Get(), PINDIR_OUTPUT), FirstPin(sink2.Get(), PINDIR_INPUT)), S_OK);
  EXPECT_EQ(FilterNames(), (Names{u"Source", u"Sink", u"YV12 to RGB24", u"Source 2", u"Sink 2", u"YV12 to YUY2",
                                  u"YUY2 to RGB32"}));

  // Nothing leads to RGB555: the graph is left exactly as it was.
  ComPtr<IBaseFilter> src3 = AddSource({MEDIASUBTYPE_YV12}, u"Source 3");
  ComPtr<IBaseFilter> sink3 = AddSink({MEDIASUBTYPE_RGB555}, u"Sink 3");
  Names before = FilterNames();
  IPin* out3 = FirstPin(src3.Get(), PINDIR_OUTPUT);
  EXPECT_EQ(graph_->Connect(out3, FirstPin(sink3.Get(), PINDIR_INPUT)), VFW_E_CANNOT_CONNECT);
  EXPECT_EQ(FilterNames(), before);
  ComPtr<IPin> peer;
  EXPECT_EQ(out3->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
}

TEST_F(GraphConnectTest, Render_EndsInARegisteredRendererThroughAConverter) {
  AddConverterClass(kConvNormal, u"YUY2 to RGB32", MERIT_NORMAL, MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB32);
  ASSERT_EQ(graphtest::RegisterRenderer(mapper_.Get(), kRendererClass, u"Test renderer", MERIT_NORMAL, MEDIATYPE_Video,
                                        MEDIASUBTYPE_RGB32),
            S_OK);
  classes_.push_back(std::make_unique<LocalClass>(kRendererClass, [] {
    HRESULT hr = S_OK;
    return Outer(new SubtypeRenderer(kRendererClass, {MEDIASUBTYPE_RGB32}, &hr));
  }));

  ComPtr<IBaseFilter> src = AddSource({MEDIASUBTYPE_YUY2});
  ASSERT_EQ(graph_->Render(FirstPin(src.Get(), PINDIR_OUTPUT)), S_OK);
  EXPECT_EQ(FilterNames(), (Names{u"Source", u"YUY2 to RGB32", u"Test renderer"}));
  EXPECT_EQ(graph_->Render(FirstPin(src.Get(), PINDIR_OUTPUT)), VFW_E_ALREADY_CONNECTED);

  ComPtr<IBaseFilter> mono = AddSource({MEDIASUBTYPE_RGB8}, u"Unrenderable");
  EXPECT_EQ(graph_->Render(FirstPin(mono.Get(), PINDIR_OUTPUT)), VFW_E_CANNOT_RENDER);
}

TEST_F(GraphConnectTest, ReconnectEx_ChangesTheTypeOrKeepsTheOldConnection) {
  ComPtr<IBaseFilter> src = AddSource({MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB24});
  ComPtr<IBaseFilter> sink = AddSink({MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB32});
  IPin* out = FirstPin(src.Get(), PINDIR_OUTPUT);
  IPin* in = FirstPin(sink.Get(), PINDIR_INPUT);
  ComPtr<IFilterGraph2> g2 = graph_.As<IFilterGraph2>();
  EXPECT_EQ(g2->ReconnectEx(out, nullptr), VFW_E_NOT_CONNECTED);
  ASSERT_EQ(graph_->ConnectDirect(out, in, nullptr), S_OK);
  ASSERT_EQ(ConnectionSubtype(in), MEDIASUBTYPE_YUY2);

  CMediaType rgb32 = graphtest::VideoType(MEDIASUBTYPE_RGB32);
  ASSERT_EQ(g2->ReconnectEx(in, &rgb32), S_OK);
  EXPECT_EQ(ConnectionSubtype(in), MEDIASUBTYPE_RGB32);
  EXPECT_EQ(ConnectionSubtype(out), MEDIASUBTYPE_RGB32);

  CMediaType rgb24 = graphtest::VideoType(MEDIASUBTYPE_RGB24);
  EXPECT_TRUE(FAILED(g2->ReconnectEx(out, &rgb24)));
  EXPECT_EQ(ConnectionSubtype(in), MEDIASUBTYPE_RGB32);

  EXPECT_EQ(graph_->Reconnect(out), S_OK);
  EXPECT_NE(ConnectionSubtype(in), GUID_NULL);
}

TEST_F(GraphConnectTest, Names_AreUniqueInTheGraph) {
  ComPtr<IBaseFilter> a(new TypedSource(kSourceClass, {MEDIASUBTYPE_YUY2}));
  ComPtr<IBaseFilter> b(new TypedSource(kSourceClass, {MEDIASUBTYPE_YUY2}));
  ComPtr<IBaseFilter> c(new TypedSource(kSourceClass, {MEDIASUBTYPE_YUY2}));
  EXPECT_EQ(graph_->AddFilter(a.Get(), u"Tee"), S_OK);
  EXPECT_EQ(graph_->AddFilter(b.Get(), u"Tee"), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(graph_->AddFilter(c.Get(), nullptr), S_OK);
  EXPECT_EQ(graph_->AddFilter(a.Get(), u"Again"), VFW_E_DUPLICATE_NAME);
  ComPtr<IBaseFilter> found;
  ASSERT_EQ(graph_->FindFilterByName(u"Tee 0001", &found), S_OK);
  EXPECT_TRUE(IsSameObject(found.Get(), b.Get()));
  EXPECT_EQ(graph_->FindFilterByName(u"Nobody", &found), VFW_E_NOT_FOUND);
  EXPECT_EQ(FilterNames().size(), 3u);
}

TEST_F(GraphConnectTest, CaptureBuilder_RendersAStreamIntoTheGivenSink) {
  AddConverterClass(kConvNormal, u"YUY2 to RGB32", MERIT_NORMAL, MEDIASUBTYPE_YUY2, MEDIASUBTYPE_RGB32);
  ComPtr<ICaptureGraphBuilder2> builder;
  ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, &builder), S_OK);
  ComPtr<IBaseFilter> src = AddSource({MEDIASUBTYPE_YUY2});
  ComPtr<IBaseFilter> sink = AddSink({MEDIASUBTYPE_RGB32});
  EXPECT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, src.Get(), nullptr, sink.Get()), E_UNEXPECTED);
  ASSERT_EQ(builder->SetFiltergraph(graph_.Get()), S_OK);
  ComPtr<IGraphBuilder> same;
  ASSERT_EQ(builder->GetFiltergraph(&same), S_OK);
  EXPECT_TRUE(IsSameObject(same.Get(), graph_.Get()));

  // No audio pin on this source.
  EXPECT_TRUE(FAILED(builder->RenderStream(nullptr, &MEDIATYPE_Audio, src.Get(), nullptr, sink.Get())));
  ASSERT_EQ(builder->RenderStream(nullptr, &MEDIATYPE_Video, src.Get(), nullptr, sink.Get()), S_OK);
  EXPECT_EQ(FilterNames(), (Names{u"Source", u"Sink", u"YUY2 to RGB32"}));
  // The source's only output is taken now.
  EXPECT_TRUE(FAILED(builder->RenderStream(nullptr, nullptr, src.Get(), nullptr, sink.Get())));
}

TEST_F(GraphConnectTest, VideoWindow_IsForwardedToTheVideoRenderer) {
  ComPtr<IVideoWindow> window = graph_.As<IVideoWindow>();
  ComPtr<IBasicVideo> video = graph_.As<IBasicVideo>();
  ASSERT_TRUE(window && video);
  EXPECT_EQ(window->put_Left(10), E_NOINTERFACE);

  HRESULT hr = S_OK;
  auto* renderer = new WindowRenderer(&hr);
  ComPtr<IBaseFilter> keep(renderer);
  ASSERT_EQ(graph_->AddFilter(renderer, u"Video Renderer"), S_OK);
  EXPECT_EQ(window->put_Left(10), S_OK);
  EXPECT_EQ(renderer->left_, 10);
  EXPECT_EQ(window->SetWindowPosition(1, 2, 320, 240), S_OK);
  EXPECT_EQ(renderer->width_, 320);
  LONG width = 0;
  EXPECT_EQ(video->get_VideoWidth(&width), S_OK);
  EXPECT_EQ(width, 640);
}

}  // namespace
