// Self-registration from a class table: class keys with the library's path and threading
// model, filter data the mapper finds, and unregistration that removes both.
#include <gtest/gtest.h>

#include <string>

#include "media/contract/registry.h"
#include "platform/streaming/tests/base_testutil.h"
#include "platform/streaming/tests/graph_testutil.h"

using namespace tavtest;

namespace {

std::string ClassKey(REFCLSID clsid) { return "CLSID\\" + tav::GuidToString(clsid) + "\\InprocServer32"; }

std::string ReadString(HKEY root, const std::string& key, const char* value) {
  HKEY k = nullptr;
  if (RegOpenKeyEx(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "<missing>";
  char buf[1024] = {};
  DWORD size = sizeof buf, type = 0;
  const LSTATUS st = RegQueryValueEx(k, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(k);
  return st == ERROR_SUCCESS ? std::string(buf) : "<no value>";
}

// Names of the registered filters that take RGB32 video in and give RGB32 video out.
std::vector<std::u16string> Rgb32Transforms(IFilterMapper2* mapper) {
  std::vector<std::u16string> names;
  const GUID types[2] = {MEDIATYPE_Video, MEDIASUBTYPE_RGB32};
  ComPtr<IEnumMoniker> e;
  if (FAILED(mapper->EnumMatchingFilters(e.ReleaseAndGetAddressOf(), 0, FALSE, MERIT_DO_NOT_USE + 1, TRUE, 1, types,
                                         nullptr, nullptr, FALSE, TRUE, 1, types, nullptr, nullptr)))
    return names;
  IMoniker* m = nullptr;
  while (e->Next(1, &m, nullptr) == S_OK) {
    ComPtr<IMoniker> moniker = ComPtr<IMoniker>::Adopt(m);
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.AsVoidOut()))) continue;
    VARIANT v;
    VariantInit(&v);
    if (SUCCEEDED(bag->Read(u"FriendlyName", &v, nullptr)) && v.vt == VT_BSTR) names.emplace_back(v.bstrVal);
    VariantClear(&v);
  }
  return names;
}

class StrmBaseRegister : public graphtest::GraphTest {};

TEST_F(StrmBaseRegister, TableRegistersClassesAndFiltersAndUnregistersThem) {
  int count = 0;
  const CFactoryTemplate* table = TestFilterTemplates(&count);
  ASSERT_EQ(AMovieDllRegisterServer2(table, count, TRUE), S_OK);
  const std::string path = ReadString(HKEY_CLASSES_ROOT, ClassKey(CLSID_TestTransform), nullptr);
  EXPECT_NE(path.find("streaming_base_register_test"), std::string::npos) << path;
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, ClassKey(CLSID_TestTransform), "ThreadingModel"), "Both");

  ComPtr<IFilterMapper2> mapper;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                             mapper.AsVoidOut()),
            S_OK);
  auto names = Rgb32Transforms(mapper.Get());
  EXPECT_NE(std::find(names.begin(), names.end(), u"Test Transform"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), u"Test Push Source"), names.end());

  // Registering twice is harmless.
  ASSERT_EQ(AMovieDllRegisterServer2(table, count, TRUE), S_OK);
  ASSERT_EQ(AMovieDllRegisterServer2(table, count, FALSE), S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, ClassKey(CLSID_TestTransform), nullptr), "<missing>");
  names = Rgb32Transforms(mapper.Get());
  EXPECT_EQ(std::find(names.begin(), names.end(), u"Test Transform"), names.end());
  // Unregistering what is not registered is not an error.
  EXPECT_EQ(AMovieDllRegisterServer2(table, count, FALSE), S_OK);
}

}  // namespace
