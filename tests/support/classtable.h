// Checks a component library's class table against what its registration put into the
// test's fresh registry: every row's class key, an object made by class identifier for every
// row with a factory (and "class not available", cleanly, for a row without one), and for
// every row with filter data the filter mapper finding it by each registered pin type at its
// merit. Walking the table itself means rows added later are covered without a test change.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "media/contract/com.h"
#include "media/contract/registry.h"
#include "media/contract/uuids.h"
#include "platform/streaming/base/dllsetup.h"
#include "tests/support/testenv.h"

namespace tavtest {

inline std::string NarrowAscii(LPCWSTR text) {
  std::string out;
  for (const WCHAR* p = text; p && *p; ++p) out += char(*p < 0x80 ? *p : '?');
  return out;
}

// A string value of a key under the classes root; "<missing>" when absent.
inline std::string ClassesRootString(const std::string& key, const char* value) {
  HKEY k = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "<missing>";
  char buf[1024] = {};
  DWORD size = sizeof buf - 1, type = 0;
  const LSTATUS st = RegQueryValueEx(k, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(k);
  return st == ERROR_SUCCESS ? std::string(buf) : "<missing>";
}

// A text property of a filter the mapper listed ("CLSID", "FriendlyName"); empty when absent.
inline std::string MonikerText(IMoniker* moniker, LPCOLESTR property) {
  ComPtr<IPropertyBag> bag;
  if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.AsVoidOut())) || !bag) return {};
  VARIANT v;
  VariantInit(&v);
  std::string text;
  if (SUCCEEDED(bag->Read(property, &v, nullptr)) && v.vt == VT_BSTR && v.bstrVal) text = NarrowAscii(v.bstrVal);
  VariantClear(&v);
  return text;
}

// Whether the mapper, asked for filters that take input and give output at minMerit or
// above, lists one under this friendly name; exactMatch leaves out filters that registered
// wildcard types.
inline bool MapperListsByName(const GUID (&input)[2], const GUID (&output)[2], const std::string& name,
                              DWORD minMerit = MERIT_DO_NOT_USE, bool exactMatch = false) {
  ComPtr<IFilterMapper2> mapper;
  ComPtr<IEnumMoniker> found;
  if (FAILED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                              mapper.AsVoidOut())) ||
      FAILED(mapper->EnumMatchingFilters(&found, 0, exactMatch, minMerit, TRUE, 1, input, nullptr, nullptr, FALSE,
                                         TRUE, 1, output, nullptr, nullptr)) ||
      !found)
    return false;
  ComPtr<IMoniker> m;
  ULONG n = 0;
  while (found->Next(1, &m, &n) == S_OK)
    if (MonikerText(m.Get(), u"FriendlyName") == name) return true;
  return false;
}

// Whether the mapper lists clsid, under the given friendly name, for one registered pin type.
inline bool MapperFinds(IFilterMapper2* mapper, const CLSID& clsid, const std::string& name, DWORD minMerit,
                        const AMOVIESETUP_PIN& pin, const AMOVIESETUP_MEDIATYPE& type) {
  const GUID pair[] = {type.clsMajorType ? *type.clsMajorType : GUID_NULL,
                       type.clsMinorType ? *type.clsMinorType : GUID_NULL};
  ComPtr<IEnumMoniker> found;
  const HRESULT hr = pin.bOutput
                         ? mapper->EnumMatchingFilters(&found, 0, TRUE, minMerit, FALSE, 0, nullptr, nullptr, nullptr,
                                                       FALSE, TRUE, 1, pair, nullptr, nullptr)
                         : mapper->EnumMatchingFilters(&found, 0, TRUE, minMerit, TRUE, 1, pair, nullptr, nullptr,
                                                       pin.bRendered, FALSE, 0, nullptr, nullptr, nullptr);
  if (FAILED(hr) || !found) return false;
  ComPtr<IMoniker> m;
  ULONG n = 0;
  while (found->Next(1, &m, &n) == S_OK) {
    GUID g{};
    if (!tav::GuidFromString(MonikerText(m.Get(), u"CLSID"), &g) || g != clsid) continue;
    return MonikerText(m.Get(), u"FriendlyName") == name;
  }
  return false;
}

// A class as the library publishes it, written out as literals: the identifier as text,
// the friendly name, and the filter merit (kNoFilterData for a class without filter data).
// A library's test lists them once, so a changed identifier, name or merit fails there
// instead of passing along with the table it was compared with.
inline constexpr DWORD kNoFilterData = 0xFFFFFFFF;
struct PublishedClass {
  const char* clsid;
  const char* name;
  DWORD merit;
};

// The table holds exactly the published classes, in that order.
inline void ExpectPublishedClasses(const CFactoryTemplate* table, int count,
                                   std::initializer_list<PublishedClass> published) {
  ASSERT_EQ(size_t(count), published.size()) << "classes in the table";
  int i = 0;
  for (const PublishedClass& p : published) {
    const CFactoryTemplate& row = table[i++];
    SCOPED_TRACE(p.name);
    EXPECT_EQ(p.clsid, tav::GuidToString(*row.m_ClsID));
    EXPECT_EQ(p.name, NarrowAscii(row.m_Name));
    const AMOVIESETUP_FILTER* sud = row.m_pAMovieSetup_Filter;
    EXPECT_EQ(p.merit, sud ? sud->dwMerit : kNoFilterData);
  }
}

// Whether a filter made by class identifier has the pins its filter data registers. The
// platform's sources, splitters and tee make theirs when a file loads or a pin connects.
enum class PinsAtCreation { kAsRegistered, kMadeLater };

// The checks described above, for a library already registered into the test's registry.
inline void ExpectClassTableRegistered(const CFactoryTemplate* table, int count, const std::string& library,
                                       PinsAtCreation pinsAtCreation = PinsAtCreation::kAsRegistered) {
  ComPtr<IFilterMapper2> mapper;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                   mapper.AsVoidOut()));
  for (int i = 0; i < count; ++i) {
    const CFactoryTemplate& row = table[i];
    const std::string name = NarrowAscii(row.m_Name);
    SCOPED_TRACE(name);
    const std::string key = "CLSID\\" + tav::GuidToString(*row.m_ClsID);
    EXPECT_EQ(name, ClassesRootString(key, nullptr));
    EXPECT_EQ(LibraryPath(library), ClassesRootString(key + "\\InprocServer32", nullptr));
    EXPECT_EQ("Both", ClassesRootString(key + "\\InprocServer32", "ThreadingModel"));

    const AMOVIESETUP_FILTER* sud = row.m_pAMovieSetup_Filter;
    ComPtr<IUnknown> object;
    const HRESULT created =
        CoCreateInstance(*row.m_ClsID, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.AsVoidOut());
    if (!row.m_lpfnNew) {
      // Made only by another object of the library: asking for it fails without an object.
      EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, created);
      EXPECT_FALSE(object);
    } else {
      ASSERT_EQ(S_OK, created);
      ASSERT_TRUE(object);
      if (sud) {
        ComPtr<IBaseFilter> filter = object.As<IBaseFilter>();
        ASSERT_TRUE(filter) << "a class with filter data is a filter";
        CLSID clsid{};
        EXPECT_EQ(S_OK, filter->GetClassID(&clsid));
        EXPECT_EQ(*row.m_ClsID, clsid);
        if (pinsAtCreation == PinsAtCreation::kAsRegistered) {
          // The registered pin names may differ from the pins' own; their directions may not.
          int registered[2] = {0, 0}, made[2] = {0, 0};
          for (UINT p = 0; p < sud->nPins; ++p) ++registered[sud->lpPin[p].bOutput ? 1 : 0];
          ComPtr<IEnumPins> pins;
          ASSERT_EQ(S_OK, filter->EnumPins(&pins));
          ComPtr<IPin> pin;
          ULONG n = 0;
          while (pins->Next(1, &pin, &n) == S_OK) {
            PIN_DIRECTION dir{};
            pin->QueryDirection(&dir);
            ++made[dir == PINDIR_OUTPUT ? 1 : 0];
          }
          EXPECT_EQ(registered[0], made[0]) << "input pins";
          EXPECT_EQ(registered[1], made[1]) << "output pins";
        }
      }
    }
    object = nullptr;

    if (!sud) continue;
    EXPECT_EQ(*row.m_ClsID, *sud->clsID);
    EXPECT_EQ(name, NarrowAscii(sud->strName));
    for (UINT p = 0; p < sud->nPins; ++p) {
      const AMOVIESETUP_PIN& pin = sud->lpPin[p];
      for (UINT t = 0; t < pin.nMediaTypes; ++t) {
        SCOPED_TRACE(NarrowAscii(pin.strName) + " type " + std::to_string(t));
        EXPECT_TRUE(MapperFinds(mapper.Get(), *row.m_ClsID, name, sud->dwMerit, pin, pin.lpMediaType[t]));
        EXPECT_FALSE(MapperFinds(mapper.Get(), *row.m_ClsID, name, sud->dwMerit + 1, pin, pin.lpMediaType[t]))
            << "registered above its merit";
      }
    }
  }
}

// One library's whole class check: the graph library and the library registered into the
// test's registry, its table against the published literals and against the registry, and
// no object of the library left alive afterwards.
inline void ExpectLibraryClasses(const std::string& library, const CFactoryTemplate* table, int count,
                                 std::initializer_list<PublishedClass> published,
                                 PinsAtCreation pinsAtCreation = PinsAtCreation::kAsRegistered) {
  CoInitialize(nullptr);
  ASSERT_EQ(S_OK, RegisterLibrary("tavrionstreaming"));
  void* module = nullptr;
  ASSERT_EQ(S_OK, RegisterLibrary(library, &module));
  ExpectPublishedClasses(table, count, published);
  ExpectClassTableRegistered(table, count, library, pinsAtCreation);

  CoFreeUnusedLibraries();
  EXPECT_EQ(S_OK, LibraryCanUnload(module)) << "objects of the library are still alive";
  CoUninitialize();
}

}  // namespace tavtest
