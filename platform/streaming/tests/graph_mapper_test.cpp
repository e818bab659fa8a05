// The filter mapper: registration in the platform's form, matching by pins, types and
// merit, monikers with property bags, categories and decoder objects.
#include <cstring>
#include <string>
#include <vector>

#include "media/contract/objidl.h"
#include "media/contract/registry.h"
#include "platform/streaming/graph/utf.h"
#include "platform/streaming/tests/graph_testutil.h"
#include "tests/support/testguid.h"

namespace {

TAVTEST_GUID(kFilterA, 0x1A000001);
TAVTEST_GUID(kFilterB, 0x1A000002);
TAVTEST_GUID(kFilterC, 0x1A000003);
TAVTEST_GUID(kFilterD, 0x1A000004);
TAVTEST_GUID(kCategory, 0x1A0000C0);
TAVTEST_GUID(kDmo, 0x1A0000D0);

class GraphMapperTest : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, &mapper_), S_OK);
    // Tests run in one process share its registry when the program runs on its own.
    for (const CLSID* c : {&kFilterA, &kFilterB, &kFilterC, &kFilterD, &CLSID_SystemClock})
      mapper_->UnregisterFilter(nullptr, nullptr, *c);
    mapper_->UnregisterFilter(&kCategory, nullptr, kFilterA);
    RegDeleteTree(HKEY_CLASSES_ROOT, "DirectShow");
  }
  void TearDown() override {
    mapper_ = nullptr;
    GraphTest::TearDown();
  }

  // A transform-like filter: one input of (major, minor), one output of (outMajor, outMinor).
  HRESULT RegisterTransform(const CLSID& clsid, const char16_t* name, DWORD merit, const GUID& major,
                            const GUID& minor, const GUID& outMajor, const GUID& outMinor,
                            const CLSID* category = nullptr, DWORD inFlags = 0) {
    return graphtest::RegisterTransform(mapper_.Get(), clsid, name, merit, {&major, &minor}, {&outMajor, &outMinor},
                                        category, inFlags);
  }

  // Friendly names of EnumMatchingFilters' answer, in order.
  std::vector<std::string> Match(BOOL exact, DWORD merit, BOOL inputNeeded, std::vector<GUID> inTypes, BOOL render,
                                 BOOL outputNeeded, std::vector<GUID> outTypes) {
    ComPtr<IEnumMoniker> e;
    EXPECT_EQ(mapper_->EnumMatchingFilters(&e, 0, exact, merit, inputNeeded, static_cast<DWORD>(inTypes.size() / 2),
                                           inTypes.data(), nullptr, nullptr, render, outputNeeded,
                                           static_cast<DWORD>(outTypes.size() / 2), outTypes.data(), nullptr,
                                           nullptr),
              S_OK);
    std::vector<std::string> names;
    if (!e) return names;
    IMoniker* m = nullptr;
    while (e->Next(1, &m, nullptr) == S_OK) {
      ComPtr<IMoniker> moniker = ComPtr<IMoniker>::Adopt(m);
      names.push_back(tav::graph::ToUtf8(ReadString(moniker.Get(), u"FriendlyName")));
    }
    return names;
  }

  static std::u16string ReadString(IMoniker* m, const char16_t* name) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(m->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.AsVoidOut()))) return u"<no bag>";
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    std::u16string s = u"<missing>";
    if (SUCCEEDED(bag->Read(name, &v, nullptr)) && v.vt == VT_BSTR) s = v.bstrVal;
    VariantClear(&v);
    return s;
  }

  ComPtr<IFilterMapper2> mapper_;
};

TEST_F(GraphMapperTest, RegisterFilter_WritesInstanceKeyInPlatformForm) {
  ASSERT_EQ(RegisterTransform(kFilterA, u"Alpha", 0x00600001, MEDIATYPE_Video, MEDIASUBTYPE_YUY2, MEDIATYPE_Video,
                              MEDIASUBTYPE_RGB32),
            S_OK);
  std::string key = "CLSID\\" + tav::GuidToString(CLSID_LegacyAmFilterCategory) + "\\Instance\\" +
                    tav::GuidToString(kFilterA);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k), ERROR_SUCCESS);
  char text[128];
  DWORD size = sizeof text, type = 0;
  ASSERT_EQ(RegQueryValueEx(k, "FriendlyName", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
  EXPECT_STREQ(text, "Alpha");
  size = sizeof text;
  ASSERT_EQ(RegQueryValueEx(k, "CLSID", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
  EXPECT_EQ(text, tav::GuidToString(kFilterA));

  BYTE data[512];
  size = sizeof data;
  ASSERT_EQ(RegQueryValueEx(k, "FilterData", nullptr, &type, data, &size), ERROR_SUCCESS);
  RegCloseKey(k);
  EXPECT_EQ(type, REG_BINARY);
  DWORD header[4];
  std::memcpy(header, data, sizeof header);
  EXPECT_EQ(header[0], 2u);           // version
  EXPECT_EQ(header[1], 0x00600001u);  // merit
  EXPECT_EQ(header[2], 2u);           // pins
  EXPECT_EQ(std::memcmp(data + 16, "0pi3", 4), 0);
  DWORD flags;
  std::memcpy(&flags, data + 20, 4);
  EXPECT_EQ(flags, 0u);
  // The first pin's type record follows its 24-byte record; its offsets point at the GUIDs.
  EXPECT_EQ(std::memcmp(data + 40, "0ty3", 4), 0);
  DWORD majorOffset, minorOffset;
  std::memcpy(&majorOffset, data + 48, 4);
  std::memcpy(&minorOffset, data + 52, 4);
  ASSERT_LT(minorOffset + 16, size);
  EXPECT_EQ(std::memcmp(data + majorOffset, &MEDIATYPE_Video, 16), 0);
  EXPECT_EQ(std::memcmp(data + minorOffset, &MEDIASUBTYPE_YUY2, 16), 0);
  EXPECT_EQ(std::memcmp(data + 56, "1pi3", 4), 0);
}

TEST_F(GraphMapperTest, EnumMatchingFilters_HonoursEveryCriterionInMeritOrder) {
  ASSERT_EQ(RegisterTransform(kFilterA, u"Low", 0x00400000, MEDIATYPE_Video, MEDIASUBTYPE_YUY2, MEDIATYPE_Video,
                              MEDIASUBTYPE_RGB32),
            S_OK);
  ASSERT_EQ(RegisterTransform(kFilterB, u"High", 0x00800000, MEDIATYPE_Video, MEDIASUBTYPE_YUY2, MEDIATYPE_Video,
                              MEDIASUBTYPE_RGB24),
            S_OK);
  // Registered with a wildcard subtype: only found when the match need not be exact.
  ASSERT_EQ(RegisterTransform(kFilterC, u"Wild", 0x00600000, MEDIATYPE_Video, GUID_NULL, MEDIATYPE_Video,
                              MEDIASUBTYPE_RGB32),
            S_OK);
  // A renderer of audio: no output pin.
  ASSERT_EQ(
      graphtest::RegisterRenderer(mapper_.Get(), kFilterD, u"Sink", 0x00200001, MEDIATYPE_Audio, MEDIASUBTYPE_PCM),
      S_OK);

  const std::vector<GUID> yuy2{MEDIATYPE_Video, MEDIASUBTYPE_YUY2};
  using V = std::vector<std::string>;
  EXPECT_EQ(Match(FALSE, 0, TRUE, yuy2, FALSE, FALSE, {}), (V{"High", "Wild", "Low"}));
  EXPECT_EQ(Match(TRUE, 0, TRUE, yuy2, FALSE, FALSE, {}), (V{"High", "Low"}));
  EXPECT_EQ(Match(TRUE, 0x00500000, TRUE, yuy2, FALSE, FALSE, {}), (V{"High"}));
  EXPECT_EQ(Match(FALSE, 0, TRUE, yuy2, FALSE, TRUE, {MEDIATYPE_Video, MEDIASUBTYPE_RGB32}), (V{"Wild", "Low"}));
  // GUID_NULL in a request matches anything; render asks for a rendering input pin.
  EXPECT_EQ(Match(TRUE, 0, TRUE, {MEDIATYPE_Audio, GUID_NULL}, FALSE, FALSE, {}), (V{"Sink"}));
  EXPECT_EQ(Match(TRUE, 0, TRUE, {}, TRUE, FALSE, {}), (V{"Sink"}));
  EXPECT_EQ(Match(TRUE, 0, TRUE, {MEDIATYPE_Audio, GUID_NULL}, FALSE, TRUE, {}), V{});
  EXPECT_EQ(Match(TRUE, 0, TRUE, {MEDIATYPE_Stream, GUID_NULL}, FALSE, FALSE, {}), V{});

  // Gone after unregistering; a second attempt reports the missing registration.
  EXPECT_EQ(mapper_->UnregisterFilter(nullptr, nullptr, kFilterB), S_OK);
  EXPECT_TRUE(FAILED(mapper_->UnregisterFilter(nullptr, nullptr, kFilterB)));
  EXPECT_EQ(Match(TRUE, 0, TRUE, yuy2, FALSE, FALSE, {}), (V{"Low"}));
}

TEST_F(GraphMapperTest, Moniker_BagAnswersNamesAndBindCreatesTheObject) {
  // The system clock is a registered class, so a registration naming it can be bound.
  ComPtr<IMoniker> moniker;
  REGFILTER2 rf{};
  rf.dwVersion = 2;
  rf.dwMerit = MERIT_NORMAL;
  ASSERT_EQ(mapper_->RegisterFilter(CLSID_SystemClock, u"Clock as filter", &moniker, nullptr, nullptr, &rf), S_OK);
  ASSERT_TRUE(moniker);
  EXPECT_EQ(ReadString(moniker.Get(), u"FriendlyName"), u"Clock as filter");
  EXPECT_EQ(ReadString(moniker.Get(), u"CLSID"), tav::GuidToWString(CLSID_SystemClock));
  EXPECT_EQ(ReadString(moniker.Get(), u"NoSuchValue"), u"<missing>");

  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.AsVoidOut()), S_OK);
  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(bag->Read(u"FilterData", &v, nullptr), S_OK);
  EXPECT_EQ(v.vt, VT_ARRAY | VT_UI1);
  VariantClear(&v);

  ComPtr<IReferenceClock> clock;
  ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IReferenceClock, clock.AsVoidOut()), S_OK);
  REFERENCE_TIME t = 0;
  EXPECT_TRUE(SUCCEEDED(clock->GetTime(&t)));
  EXPECT_GT(t, 0);

  LPOLESTR display = nullptr;
  ASSERT_EQ(moniker->GetDisplayName(nullptr, nullptr, &display), S_OK);
  EXPECT_EQ(std::u16string(display).rfind(u"@device:sw:", 0), 0u);
  CoTaskMemFree(display);
}

TEST_F(GraphMapperTest, Categories_OnlyUsableOnesAreSearched_DecoderObjectsIncluded) {
  const std::vector<GUID> yuy2{MEDIATYPE_Video, MEDIASUBTYPE_YUY2};
  ASSERT_EQ(mapper_->CreateCategory(kCategory, MERIT_DO_NOT_USE, u"Hidden things"), S_OK);
  ASSERT_EQ(RegisterTransform(kFilterA, u"In hidden category", MERIT_NORMAL, MEDIATYPE_Video, MEDIASUBTYPE_YUY2,
                              MEDIATYPE_Video, MEDIASUBTYPE_RGB32, &kCategory),
            S_OK);
  EXPECT_TRUE(Match(TRUE, 0, TRUE, yuy2, FALSE, FALSE, {}).empty());
  ASSERT_EQ(mapper_->CreateCategory(kCategory, MERIT_NORMAL, u"Usable things"), S_OK);
  EXPECT_EQ(Match(TRUE, 0, TRUE, yuy2, FALSE, FALSE, {}), std::vector<std::string>{"In hidden category"});

  // A decoder object registered in the video decoder category with its types.
  std::string dmoKey = "DirectShow\\MediaObjects\\" + tav::GuidToString(kDmo);
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, dmoKey.c_str(), &k), ERROR_SUCCESS);
  const char name[] = "Test decoder object";
  RegSetValueEx(k, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof name);
  GUID types[2] = {MEDIATYPE_Video, MEDIASUBTYPE_WMV3};
  RegSetValueEx(k, "InputTypes", 0, REG_BINARY, reinterpret_cast<const BYTE*>(types), sizeof types);
  RegCloseKey(k);
  std::string catKey = "DirectShow\\MediaObjects\\Categories\\" + tav::GuidToString(DMOCATEGORY_VIDEO_DECODER) +
                       "\\" + tav::GuidToString(kDmo);
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, catKey.c_str(), &k), ERROR_SUCCESS);
  RegCloseKey(k);

  ComPtr<IEnumMoniker> e;
  GUID wmv3[2] = {MEDIATYPE_Video, MEDIASUBTYPE_WMV3};
  ASSERT_EQ(mapper_->EnumMatchingFilters(&e, 0, TRUE, MERIT_NORMAL, TRUE, 1, wmv3, nullptr, nullptr, FALSE, FALSE, 0,
                                         nullptr, nullptr, nullptr),
            S_OK);
  IMoniker* m = nullptr;
  ASSERT_EQ(e->Next(1, &m, nullptr), S_OK);
  ComPtr<IMoniker> moniker = ComPtr<IMoniker>::Adopt(m);
  EXPECT_EQ(ReadString(moniker.Get(), u"FriendlyName"), u"Test decoder object");
  EXPECT_EQ(ReadString(moniker.Get(), u"CLSID"), tav::GuidToWString(kDmo));
  EXPECT_EQ(e->Next(1, &m, nullptr), S_FALSE);
}

TEST_F(GraphMapperTest, BadArguments_AreRefused) {
  ComPtr<IEnumMoniker> e;
  EXPECT_EQ(mapper_->EnumMatchingFilters(nullptr, 0, TRUE, 0, TRUE, 0, nullptr, nullptr, nullptr, FALSE, FALSE, 0,
                                         nullptr, nullptr, nullptr),
            E_POINTER);
  EXPECT_EQ(mapper_->EnumMatchingFilters(&e, 0, TRUE, 0, TRUE, 2, nullptr, nullptr, nullptr, FALSE, FALSE, 0, nullptr,
                                         nullptr, nullptr),
            E_POINTER);
  EXPECT_EQ(mapper_->RegisterFilter(kFilterA, u"x", nullptr, nullptr, nullptr, nullptr), E_POINTER);
  REGFILTER2 rf{};
  rf.dwVersion = 7;
  EXPECT_EQ(mapper_->RegisterFilter(kFilterA, u"x", nullptr, nullptr, nullptr, &rf), E_INVALIDARG);
}

}  // namespace
