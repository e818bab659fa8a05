// Creation by class identifier through the registry, unloading, failures, and the
// memory helpers that cross interfaces. References are released and memory freed by hand:
// the counts and the freeing functions are what these tests check.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "media/contract/com.h"
#include "media/contract/comreg.h"
#include "media/contract/objidl.h"
#include "media/contract/registry.h"
#include "platform/runtime/tests/testcomponent.h"
#include "tests/support/testenv.h"

namespace {

TAV_DEFINE_GUID(CLSID_Unregistered, 0x5A1C00FF, 0x7E11, 0x4C3A, 0x9B, 0x20, 0x11, 0x22, 0x33, 0x44, 0x55, 0xFF);
TAV_DEFINE_GUID(CLSID_MissingLibrary, 0x5A1C00FE, 0x7E11, 0x4C3A, 0x9B, 0x20, 0x11, 0x22, 0x33, 0x44, 0x55, 0xFE);
TAV_DEFINE_GUID(CLSID_NoEntry, 0x5A1C00FD, 0x7E11, 0x4C3A, 0x9B, 0x20, 0x11, 0x22, 0x33, 0x44, 0x55, 0xFD);
TAV_DEFINE_GUID(CLSID_UnknownToLibrary, 0x5A1C00FC, 0x7E11, 0x4C3A, 0x9B, 0x20, 0x11, 0x22, 0x33, 0x44, 0x55, 0xFC);

std::string ComponentPath() { return tavtest::LibraryPath("tavtest_component"); }

bool IsLoaded(const std::string& path) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
}

// The component library's own count of live objects (it is loaded by then).
LONG LiveObjects() {
  void* h = dlopen(ComponentPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!h) return -1;
  auto fn = reinterpret_cast<LONG (*)()>(dlsym(h, "TestComponentLiveObjects"));
  const LONG n = fn ? fn() : -1;
  dlclose(h);
  return n;
}

class RuntimeCom : public ::testing::Test {
 protected:
  void SetUp() override {
    CoFreeUnusedLibraries();
    dir_ = tavtest::MakeTempSubdir("registry");
    setenv("TAVRION_REGISTRY_DIR", dir_.c_str(), 1);
    tav::RegistryReload();
  }
  void TearDown() override { CoFreeUnusedLibraries(); }
  void RegisterComponent() {
    const std::string path = ComponentPath();
    ASSERT_EQ(tav::RegisterInprocServer(CLSID_TestCounter, "Test Counter", path.c_str()), S_OK);
    ASSERT_EQ(tav::RegisterInprocServer(CLSID_TestInner, "Test Inner", path.c_str()), S_OK);
  }
  std::string dir_;
};

// A minimal outer object that aggregates the test library's inner object.
class Outer final : public IUnknown {
 public:
  HRESULT Init() {
    return CoCreateInstance(CLSID_TestInner, this, CLSCTX_INPROC_SERVER, IID_IUnknown,
                            reinterpret_cast<void**>(&inner_));
  }
  ~Outer() {
    if (inner_) inner_->Release();
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner_->QueryInterface(riid, ppv);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG r = --refs_;
    if (r == 0) delete this;
    return r;
  }

 private:
  std::atomic<ULONG> refs_{1};
  IUnknown* inner_ = nullptr;
};

TEST_F(RuntimeCom, RegisteredWithRegsvr_IsCreatedByIdentifierInAnotherProcess) {
  const std::string regsvr = tavtest::ProgramPath("regsvr");
  const std::string helper = tavtest::BuildDir() + "/tests/tavtest_createhelper";
  const std::string counter = tav::GuidToString(CLSID_TestCounter);
  ASSERT_EQ(tavtest::Run(regsvr + " -q " + ComponentPath()), 0);

  std::ifstream hive(dir_ + "/machine.reg");
  std::stringstream text;
  text << hive.rdbuf();
  EXPECT_NE(text.str().find("[HKEY_CLASSES_ROOT\\CLSID\\" + counter + "\\InprocServer32]"), std::string::npos)
      << text.str();
  EXPECT_NE(text.str().find(tav::GuidToString(CLSID_TestInner)), std::string::npos);

  int status = -1;
  EXPECT_EQ(tavtest::Capture(helper + " '" + counter + "'", &status), "created 5\n");
  EXPECT_EQ(status, 0);
  EXPECT_NE(tavtest::Capture(tavtest::ProgramPath("regdump") + " 'HKEY_CLASSES_ROOT\\CLSID'").find(ComponentPath()),
            std::string::npos);

  ASSERT_EQ(tavtest::Run(regsvr + " -q -u " + ComponentPath()), 0);
  EXPECT_EQ(tavtest::Capture(helper + " '" + counter + "'", &status), "failed 0x80040154\n");
  EXPECT_NE(status, 0);
  // Tools fail loudly, with the code, when registration fails or the library is not one.
  std::string err = tavtest::Capture("TAVTEST_FAIL_REGISTRATION=1 " + regsvr + " " + ComponentPath() + " 2>&1", &status);
  EXPECT_NE(status, 0);
  EXPECT_NE(err.find("0x80040201"), std::string::npos) << err;
  EXPECT_NE(tavtest::Run(regsvr + " -q " + tavtest::LibraryPath("tavtest_noentry") + " 2>/dev/null"), 0);
  EXPECT_NE(tavtest::Run(regsvr + " -q " + dir_ + "/absent.so 2>/dev/null"), 0);
}

TEST_F(RuntimeCom, LibraryUnloads_AfterLastReleaseAndFreeUnused_AndLoadsAgain) {
  RegisterComponent();
  ITestCounter* counter = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, &counter), S_OK);
  ASSERT_TRUE(IsLoaded(ComponentPath()));
  counter->Add(7);
  CoFreeUnusedLibraries();  // an object is alive: the library stays
  ASSERT_TRUE(IsLoaded(ComponentPath()));
  EXPECT_EQ(counter->Value(), 7);
  counter->Release();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsLoaded(ComponentPath()));

  // A held server lock keeps it too.
  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(CLSID_TestCounter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  factory->LockServer(TRUE);
  CoFreeUnusedLibraries();
  EXPECT_TRUE(IsLoaded(ComponentPath()));
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITestCounter, reinterpret_cast<void**>(&counter)), S_OK);
  counter->Release();
  factory->LockServer(FALSE);
  factory->Release();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsLoaded(ComponentPath()));
}

TEST_F(RuntimeCom, Aggregation_PassesTheOuterUnknown_AndRefusingClassesSaySo) {
  RegisterComponent();
  auto* outer = new Outer;
  ASSERT_EQ(outer->Init(), S_OK);
  ITestInner* inner = nullptr;
  ASSERT_EQ(outer->QueryInterface(IID_ITestInner, reinterpret_cast<void**>(&inner)), S_OK);
  IUnknown* seen = nullptr;
  ASSERT_EQ(inner->Outer(&seen), S_OK);
  EXPECT_EQ(seen, static_cast<IUnknown*>(outer));
  // QueryInterface through the inner object reaches the outer identity.
  IUnknown* identity = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(outer));
  identity->Release();
  inner->Release();
  outer->Release();
  EXPECT_EQ(LiveObjects(), 0);

  IUnknown* unk = nullptr;
  auto* other = new Outer;
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, other, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&unk)),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(unk, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_TestInner, other, CLSCTX_INPROC_SERVER, IID_ITestInner,
                             reinterpret_cast<void**>(&unk)),
            CLASS_E_NOAGGREGATION);
  other->Release();
}

TEST_F(RuntimeCom, BrokenRegistrations_FailWithThePlatformsCodes) {
  RegisterComponent();
  ASSERT_EQ(tav::RegisterInprocServer(CLSID_MissingLibrary, "gone", (dir_ + "/missing.so").c_str()), S_OK);
  ASSERT_EQ(tav::RegisterInprocServer(CLSID_NoEntry, "no entry", tavtest::LibraryPath("tavtest_noentry").c_str()),
            S_OK);
  ASSERT_EQ(tav::RegisterInprocServer(CLSID_UnknownToLibrary, "unknown", ComponentPath().c_str()), S_OK);
  IUnknown* unk = reinterpret_cast<IUnknown*>(0x1);
  auto create = [&](REFCLSID clsid) {
    unk = reinterpret_cast<IUnknown*>(0x1);
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&unk));
  };
  EXPECT_EQ(create(CLSID_Unregistered), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(unk, nullptr);
  EXPECT_EQ(create(CLSID_MissingLibrary), CO_E_DLLNOTFOUND);
  EXPECT_EQ(create(CLSID_NoEntry), CO_E_ERRORINDLL);
  EXPECT_EQ(create(CLSID_UnknownToLibrary), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(unk, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ITestCounter, nullptr), E_POINTER);
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&unk)),
            REGDB_E_CLASSNOTREG);
  // A class key without its server key, or with an empty path, is not registered.
  HKEY key;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, ("CLSID\\" + tav::GuidToString(CLSID_Unregistered)).c_str(), &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(create(CLSID_Unregistered), REGDB_E_CLASSNOTREG);
  ASSERT_EQ(tav::UnregisterInprocServer(CLSID_TestCounter), S_OK);
  ASSERT_EQ(tav::UnregisterInprocServer(CLSID_TestCounter), S_OK);

  // An expandable path takes its %NAME% parts from the environment.
  const std::string libPath = ComponentPath();
  const std::string libDir = libPath.substr(0, libPath.rfind('/'));
  setenv("TAVTEST_LIBDIR", libDir.c_str(), 1);
  const std::string expandable = "%TAVTEST_LIBDIR%" + libPath.substr(libDir.size());
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, ("CLSID\\" + tav::GuidToString(CLSID_TestCounter) + "\\InprocServer32").c_str(),
                         &key),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(key, nullptr, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expandable.c_str()),
                          static_cast<DWORD>(expandable.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
  ITestCounter* counter = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, &counter), S_OK);
  counter->Release();
}

// A process-local class object.
class LocalFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** ppv) override {
    ++created;
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
  std::atomic<ULONG> refs{1};
  int created = 0;
};

TEST_F(RuntimeCom, ProcessLocalClassObjects_ComeFirstUntilRevoked) {
  RegisterComponent();
  LocalFactory local;
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(CLSID_TestCounter, &local, CLSCTX_INPROC_SERVER, 0, &cookie), S_OK);
  IUnknown* unk = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&unk)),
            S_OK);
  EXPECT_EQ(unk, static_cast<IUnknown*>(&local));
  unk->Release();
  EXPECT_EQ(local.created, 1);
  ASSERT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(CoRevokeClassObject(cookie), CO_E_OBJNOTREG);
  EXPECT_EQ(local.refs, 1u);  // every reference the runtime took is given back
  ITestCounter* counter = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, &counter), S_OK);
  counter->Release();
}

TEST_F(RuntimeCom, ManyThreadsCreating_WhileUnusedLibrariesAreFreed) {
  RegisterComponent();
  std::atomic<int> failures{0};
  std::atomic<bool> stop{false};
  std::thread freer([&] {
    while (!stop) CoFreeUnusedLibraries();
  });
  std::vector<std::thread> creators;
  for (int t = 0; t < 4; ++t) {
    creators.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        ITestCounter* c = nullptr;
        if (CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, &c) != S_OK) {
          ++failures;
          continue;
        }
        c->Add(1);
        if (c->Value() != 1) ++failures;
        c->Release();
      }
    });
  }
  for (auto& t : creators) t.join();
  stop = true;
  freer.join();
  EXPECT_EQ(failures, 0);
}

TEST(RuntimeComMemory, BstrAndIdentifierText) {
  BSTR s = SysAllocStringLen(u"ab\0cd", 5);  // embedded terminator: the length counts
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 5u);
  EXPECT_EQ(s[5], u'\0');
  SysFreeString(s);
  s = SysAllocString(u"Subtitle Filter");
  EXPECT_EQ(SysStringLen(s), 15u);
  EXPECT_EQ(std::u16string(s), u"Subtitle Filter");
  SysFreeString(s);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  s = SysAllocStringLen(nullptr, 3);
  EXPECT_EQ(SysStringLen(s), 3u);
  SysFreeString(s);

  OLECHAR buf[39];
  EXPECT_EQ(StringFromGUID2(CLSID_TestCounter, buf, 38), 0);
  ASSERT_EQ(StringFromGUID2(CLSID_TestCounter, buf, 39), 39);
  EXPECT_EQ(std::u16string(buf), u"{5A1C0001-7E11-4C3A-9B20-112233445501}");
  LPOLESTR text = nullptr;
  ASSERT_EQ(StringFromCLSID(CLSID_TestInner, &text), S_OK);
  CLSID back{};
  ASSERT_EQ(CLSIDFromString(text, &back), S_OK);
  EXPECT_EQ(back, CLSID_TestInner);
  CoTaskMemFree(text);
  EXPECT_EQ(CLSIDFromString(u"{5a1c0001-7e11-4c3a-9b20-112233445501}", &back), S_OK);
  EXPECT_EQ(back, CLSID_TestCounter);
  EXPECT_EQ(CLSIDFromString(u"5A1C0001-7E11-4C3A-9B20-112233445501", &back), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(u"{5A1C0001-7E11-4C3A-9B20-11223344550}", &back), CO_E_CLASSSTRING);
  EXPECT_EQ(back, CLSID_NULL);
  EXPECT_EQ(IIDFromString(u"{00000000-0000-0000-C000-000000000046}", &back), S_OK);
  EXPECT_EQ(back, IID_IUnknown);
  EXPECT_EQ(IIDFromString(u"junk", &back), E_INVALIDARG);

  IMalloc* malloc = nullptr;
  ASSERT_EQ(CoGetMalloc(1, &malloc), S_OK);
  void* p = malloc->Alloc(10);
  ASSERT_NE(p, nullptr);
  EXPECT_GE(malloc->GetSize(p), 10u);
  p = CoTaskMemRealloc(p, 100000);
  ASSERT_NE(p, nullptr);
  malloc->Free(p);
  malloc->Release();
}

TEST(RuntimeComMemory, VariantsCopyDeeplyAndSafeArraysGuardTheirLocks) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, 4);
  ASSERT_NE(sa, nullptr);
  BYTE* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(sa, reinterpret_cast<void**>(&data)), S_OK);
  std::memcpy(data, "\x02\x00\x00\x00", 4);
  EXPECT_EQ(SafeArrayDestroy(sa), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnaccessData(sa), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(sa), E_UNEXPECTED);

  VARIANT a, b;
  VariantInit(&a);
  VariantInit(&b);
  a.vt = VT_ARRAY | VT_UI1;
  a.parray = sa;
  ASSERT_EQ(VariantCopy(&b, &a), S_OK);
  ASSERT_NE(b.parray, a.parray);
  EXPECT_EQ(b.parray->rgsabound[0].cElements, 4u);
  EXPECT_EQ(std::memcmp(b.parray->pvData, "\x02\x00\x00\x00", 4), 0);
  EXPECT_EQ(VariantClear(&a), S_OK);
  EXPECT_EQ(a.vt, VT_EMPTY);

  a.vt = VT_BSTR;
  a.bstrVal = SysAllocString(u"Merit");
  ASSERT_EQ(VariantCopy(&b, &a), S_OK);  // b's array is freed first
  EXPECT_EQ(b.vt, VT_BSTR);
  EXPECT_NE(b.bstrVal, a.bstrVal);
  EXPECT_EQ(std::u16string(b.bstrVal), u"Merit");
  VariantClear(&a);
  VariantClear(&b);

  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_UI1, 2, bounds), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
}

}  // namespace
