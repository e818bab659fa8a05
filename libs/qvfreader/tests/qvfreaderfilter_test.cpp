// Conformance of "VXCMN Qvf Reader Filter" as a component: registration, interfaces, the
// pin and its media types, connection rules, reading through IAsyncReader, flushing,
// state changes, and no objects left behind.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <string>

#include "libs/qvfreader/qvfreader.h"
#include "libs/qvfreader/tests/moviebytes.h"
#include "media/contract/com.h"
#include "media/contract/comptr.h"
#include "media/contract/registry.h"
#include "media/contract/strmif.h"
#include "media/contract/uuids.h"
#include "registrysnapshot.h"
#include "tests/support/filterharness.h"
#include "tests/support/standinpin.h"
#include "tests/support/testenv.h"

namespace {

void* Module(const char* name) { return dlopen(tavtest::LibraryPath(name).c_str(), RTLD_NOW); }

template <typename Fn>
Fn Entry(const char* library, const char* name) {
  void* m = Module(library);
  return m ? reinterpret_cast<Fn>(dlsym(m, name)) : nullptr;
}

// A movie file of `size` bytes in the test's temporary folder; its path.
std::string MovieFile(const std::string& name, bool qvf, size_t size) {
  return tavtest::WriteTempFile(name, qvftest::MovieBytes(qvf, size));
}

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// A downstream pin that reads through IAsyncReader, as a splitter's input does, or one that
// doesn't ask for it.
class PullPin final : public tavtest::StandInPin {
 public:
  explicit PullPin(bool asksForReader) : StandInPin(PINDIR_INPUT), asks_(asksForReader) {}
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override {
    if (asks_) {
      ComPtr<IAsyncReader> reader;
      HRESULT hr = connector->QueryInterface(IID_IAsyncReader, reader.AsVoidOut());
      if (FAILED(hr)) return hr;
      reader_ = reader;
    }
    return StandInPin::ReceiveConnection(connector, mt);
  }
  STDMETHODIMP Disconnect() override {
    reader_ = nullptr;
    return StandInPin::Disconnect();
  }

  ComPtr<IAsyncReader> reader_;

 private:
  bool asks_;
};

class qvfreader_Filter : public tavtest::FilterFixture {
 protected:
  void SetUp() override {
    Start({"tavrionstreaming", "qvfreader"}, AtEnd::kLastLibraryUnloads);
    if (HasFatalFailure()) return;
    ASSERT_EQ(CoCreateInstance(CLSID_QvfReaderFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               filter_.AsVoidOut()),
              S_OK);
    ASSERT_EQ(filter_->QueryInterface(IID_IFileSourceFilter, source_.AsVoidOut()), S_OK);
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(filter_->EnumPins(pins.ReleaseAndGetAddressOf()), S_OK);
    ULONG got = 0;
    ASSERT_EQ(pins->Next(1, pin_.ReleaseAndGetAddressOf(), &got), S_OK);
  }
  void TearDown() override {
    pin_ = nullptr;
    source_ = nullptr;
    filter_ = nullptr;
    FilterFixture::TearDown();
  }

  std::vector<std::pair<GUID, GUID>> OfferedTypes() {
    std::vector<std::pair<GUID, GUID>> out;
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin_->EnumMediaTypes(types.ReleaseAndGetAddressOf()))) return out;
    AM_MEDIA_TYPE* mt = nullptr;
    ULONG got = 0;
    while (types->Next(1, &mt, &got) == S_OK) {
      out.emplace_back(mt->majortype, mt->subtype);
      if (mt->pbFormat) CoTaskMemFree(mt->pbFormat);
      CoTaskMemFree(mt);
    }
    return out;
  }

  ComPtr<IAsyncReader> Reader() {
    ComPtr<IAsyncReader> reader;
    pin_->QueryInterface(IID_IAsyncReader, reader.AsVoidOut());
    return reader;
  }

  ComPtr<IBaseFilter> filter_;
  ComPtr<IFileSourceFilter> source_;
  ComPtr<IPin> pin_;
};

TEST_F(qvfreader_Filter, Interfaces_AndTheOnePin) {
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(filter_->QueryInterface(IID_IMediaFilter, unknown.AsVoidOut()), S_OK);
  EXPECT_EQ(filter_->QueryInterface(IID_IPersist, unknown.AsVoidOut()), S_OK);
  EXPECT_EQ(filter_->QueryInterface(IID_IAsyncReader, unknown.AsVoidOut()), E_NOINTERFACE);
  CLSID clsid{};
  EXPECT_EQ(filter_->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_QvfReaderFilter);

  PIN_INFO info{};
  ASSERT_EQ(pin_->QueryPinInfo(&info), S_OK);
  EXPECT_EQ(std::u16string(info.achName), u"Output");
  EXPECT_EQ(info.dir, PINDIR_OUTPUT);
  if (info.pFilter) info.pFilter->Release();
  ComPtr<IEnumPins> pins;
  filter_->EnumPins(pins.ReleaseAndGetAddressOf());
  ComPtr<IPin> second;
  ULONG got = 0;
  pins->Skip(1);
  EXPECT_EQ(pins->Next(1, second.ReleaseAndGetAddressOf(), &got), S_FALSE);

  // Unconnected state changes.
  EXPECT_EQ(filter_->Pause(), S_OK);
  EXPECT_EQ(filter_->Run(0), S_OK);
  FILTER_STATE state{};
  EXPECT_EQ(filter_->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  EXPECT_EQ(filter_->Stop(), S_OK);
}

TEST_F(qvfreader_Filter, MediaTypes_FollowTheProbe_AndAGivenLoadType) {
  EXPECT_EQ(source_->Load(Wide(MovieFile("a.qvf", true, 4096)).c_str(), nullptr), S_OK);
  auto types = OfferedTypes();
  ASSERT_EQ(types.size(), 2u);
  EXPECT_EQ(types[0], std::make_pair(MEDIATYPE_Stream, MEDIASUBTYPE_Avi));
  EXPECT_EQ(types[1], std::make_pair(MEDIATYPE_Stream, GUID_NULL));

  AM_MEDIA_TYPE avi{};
  avi.majortype = MEDIATYPE_Stream;
  avi.subtype = MEDIASUBTYPE_Avi;
  EXPECT_EQ(pin_->QueryAccept(&avi), S_OK);
  AM_MEDIA_TYPE video{};
  video.majortype = MEDIATYPE_Video;
  EXPECT_EQ(pin_->QueryAccept(&video), S_FALSE);

  // An ordinary AVI file is offered the same way; a foreign file only as a plain stream.
  source_->Load(Wide(MovieFile("b.avi", false, 200)).c_str(), nullptr);
  EXPECT_EQ(OfferedTypes().size(), 2u);
  source_->Load(Wide(MovieFile("short.qvf", true, 60)).c_str(), nullptr);
  ASSERT_EQ(OfferedTypes().size(), 1u);
  EXPECT_EQ(pin_->QueryAccept(&avi), S_FALSE);

  // A file that can't be opened yet is probed again once it exists.
  std::string later = tavtest::TempDir() + "/later.qvf";
  source_->Load(Wide(later).c_str(), nullptr);
  EXPECT_EQ(OfferedTypes().size(), 1u);
  MovieFile("later.qvf", true, 200);
  EXPECT_EQ(OfferedTypes().size(), 2u);

  // A given type is the only one offered and accepted.
  AM_MEDIA_TYPE given{};
  given.majortype = MEDIATYPE_Stream;
  given.subtype = MEDIASUBTYPE_Avi;
  given.formattype = GUID_NULL;
  source_->Load(Wide(MovieFile("c.qvf", true, 200)).c_str(), &given);
  types = OfferedTypes();
  ASSERT_EQ(types.size(), 1u);
  EXPECT_EQ(types[0], std::make_pair(MEDIATYPE_Stream, MEDIASUBTYPE_Avi));
  AM_MEDIA_TYPE plain{};
  plain.majortype = MEDIATYPE_Stream;
  EXPECT_EQ(pin_->QueryAccept(&plain), S_FALSE);

  LPOLESTR name = nullptr;
  AM_MEDIA_TYPE back{};
  ASSERT_EQ(source_->GetCurFile(&name, &back), S_OK);
  EXPECT_EQ(std::u16string(name), Wide(tavtest::TempDir() + "/c.qvf"));
  EXPECT_EQ(back.subtype, MEDIASUBTYPE_Avi);
  CoTaskMemFree(name);
  EXPECT_EQ(source_->GetCurFile(nullptr, nullptr), E_POINTER);
}

TEST_F(qvfreader_Filter, Connection_NeedsAPinThatReadsThroughIAsyncReader) {
  source_->Load(Wide(MovieFile("conn.qvf", true, 4096)).c_str(), nullptr);
  PullPin pusher(false);
  EXPECT_EQ(pin_->Connect(&pusher, nullptr), VFW_E_NO_TRANSPORT);
  EXPECT_FALSE(pusher.peer && pusher.reader_);

  PullPin puller(true);
  ASSERT_EQ(pin_->Connect(&puller, nullptr), S_OK);
  AM_MEDIA_TYPE mt{};
  ASSERT_EQ(pin_->ConnectionMediaType(&mt), S_OK);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_Avi);
  ASSERT_TRUE(puller.reader_);
  BYTE head[12];
  EXPECT_EQ(puller.reader_->SyncRead(0, 12, head), S_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(head) + 8, 4), "AVI ");
  EXPECT_EQ(filter_->Pause(), S_OK);
  EXPECT_EQ(filter_->Stop(), S_OK);
  EXPECT_EQ(pin_->Disconnect(), S_OK);
  puller.Disconnect();
}

TEST_F(qvfreader_Filter, Reading_ThroughSamples_WithTheHeaderPatchAndTheFileEnd) {
  const size_t kSize = 10000;
  source_->Load(Wide(MovieFile("read.qvf", true, kSize)).c_str(), nullptr);
  auto reader = Reader();
  ASSERT_TRUE(reader);
  LONGLONG total = 0, available = 0;
  ASSERT_EQ(reader->Length(&total, &available), S_OK);
  EXPECT_EQ(total, LONGLONG(kSize));
  EXPECT_EQ(available, LONGLONG(kSize));

  ALLOCATOR_PROPERTIES props{4, 4096, 0, 0};
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(reader->RequestAllocator(nullptr, &props, allocator.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(props.cbAlign, 1);
  ASSERT_EQ(allocator->Commit(), S_OK);

  auto requestAt = [&](LONGLONG at, LONG length, DWORD_PTR user) {
    ComPtr<IMediaSample> sample;
    EXPECT_EQ(allocator->GetBuffer(sample.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
    REFERENCE_TIME start = at * UNITS, stop = (at + length) * UNITS;
    sample->SetTime(&start, &stop);
    EXPECT_EQ(reader->Request(sample.Get(), user), S_OK);
    // The request keeps the sample (and its buffer) until WaitForNext hands it back.
    sample.Detach();
  };
  requestAt(0, 4096, 1);
  requestAt(kSize - 1000, 4096, 2);  // runs past the end
  for (int i = 0; i < 2; ++i) {
    IMediaSample* sample = nullptr;
    DWORD_PTR user = 0;
    ASSERT_EQ(reader->WaitForNext(2000, &sample, &user), S_OK);
    ASSERT_TRUE(sample);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    if (user == 1) {
      EXPECT_EQ(sample->GetActualDataLength(), 4096);
      EXPECT_EQ(data[11], 0x20);
    } else {
      EXPECT_EQ(sample->GetActualDataLength(), 1000);
    }
    sample->Release();
  }
  IMediaSample* none = nullptr;
  DWORD_PTR user = 0;
  EXPECT_EQ(reader->WaitForNext(10, &none, &user), VFW_E_TIMEOUT);
  EXPECT_EQ(reader->WaitForNext(10, nullptr, &user), E_POINTER);

  // The synchronous reads.
  ComPtr<IMediaSample> sample;
  ASSERT_EQ(allocator->GetBuffer(sample.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
  REFERENCE_TIME start = 11 * UNITS, stop = 12 * UNITS;
  sample->SetTime(&start, &stop);
  EXPECT_EQ(reader->SyncReadAligned(sample.Get()), S_OK);
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  EXPECT_EQ(sample->GetActualDataLength(), 1);
  EXPECT_EQ(data[0], 0x20);
  BYTE tail[100];
  EXPECT_EQ(reader->SyncRead(kSize - 50, 100, tail), S_FALSE);
  sample = nullptr;

  // Flushing: new requests are refused until the flush ends.
  EXPECT_EQ(reader->BeginFlush(), S_OK);
  ComPtr<IMediaSample> refused;
  ASSERT_EQ(allocator->GetBuffer(refused.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
  start = 0;
  stop = 100 * UNITS;
  refused->SetTime(&start, &stop);
  EXPECT_EQ(reader->Request(refused.Get(), 9), VFW_E_WRONG_STATE);
  EXPECT_EQ(reader->WaitForNext(100, &none, &user), VFW_E_WRONG_STATE);
  EXPECT_EQ(reader->EndFlush(), S_OK);
  // Times whose span no LONG length holds are refused, not read as a shorter length.
  REFERENCE_TIME hugeStop = ((1LL << 32) + 100) * UNITS;
  refused->SetTime(&start, &hugeStop);
  EXPECT_EQ(reader->Request(refused.Get(), 9), E_INVALIDARG);
  EXPECT_EQ(reader->SyncReadAligned(refused.Get()), E_INVALIDARG);
  REFERENCE_TIME lowest = LLONG_MIN, highest = LLONG_MAX;
  refused->SetTime(&lowest, &highest);
  EXPECT_EQ(reader->Request(refused.Get(), 9), E_INVALIDARG);
  refused->SetTime(&start, &stop);
  EXPECT_EQ(reader->Request(refused.Get(), 9), S_OK);
  ASSERT_EQ(reader->WaitForNext(2000, &none, &user), S_OK);
  EXPECT_EQ(user, DWORD_PTR(9));
  EXPECT_EQ(none, refused.Get());
  refused = nullptr;
  allocator->Decommit();
}

TEST_F(qvfreader_Filter, MissingFile_FailsReadsWithFileNotFound) {
  source_->Load(Wide(tavtest::TempDir() + "/nothing.qvf").c_str(), nullptr);
  auto reader = Reader();
  LONGLONG total = 0, available = 0;
  EXPECT_EQ(reader->Length(&total, &available), HRESULT(0x80070002));
  BYTE buffer[16];
  EXPECT_EQ(reader->SyncRead(0, 16, buffer), HRESULT(0x80070002));
}

TEST(qvfreader_Library, Registration_WritesClassExtensionAndFilter_UnregisterLeavesTheExtension) {
  CoInitialize(nullptr);
  auto streaming = Entry<PFN_DllRegisterServer>("tavrionstreaming", "DllRegisterServer");
  ASSERT_TRUE(streaming);
  ASSERT_EQ(streaming(), S_OK);
  HKEY k = nullptr;
  RegCreateKey(HKEY_CLASSES_ROOT, ".avi", &k);
  RegSetValueEx(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("AVIFile"), 8);
  RegCloseKey(k);
  auto reg = Entry<PFN_DllRegisterServer>("qvfreader", "DllRegisterServer");
  auto unreg = Entry<PFN_DllUnregisterServer>("qvfreader", "DllUnregisterServer");
  ASSERT_TRUE(reg && unreg);
  // Start from a registry without the reader (other tests of this process register it).
  unreg();
  for (const char* key : {".qvf", "qvfFile", "Media Type\\Extensions\\.qvf"}) RegDeleteTree(HKEY_CLASSES_ROOT, key);
  auto before = qvftest::SnapshotRegistry();
  ASSERT_EQ(reg(), S_OK);
  auto once = qvftest::SnapshotRegistry();
  ASSERT_EQ(reg(), S_OK);
  EXPECT_EQ(qvftest::SnapshotRegistry(), once) << "registering twice changes nothing";

  const std::string clsid = "HKCR\\CLSID\\{1616D96D-5D93-43EC-AC7B-C2AA3B41A5F7}";
  auto added = qvftest::Added(before, once);
  EXPECT_TRUE(added.count("V " + clsid + "\\InprocServer32|ThreadingModel=1:Both"));
  EXPECT_TRUE(added.count("V HKCR\\Media Type\\Extensions\\.qvf|Source Filter=1:{1616D96D-5D93-43EC-AC7B-C2AA3B41A5F7}"));
  EXPECT_TRUE(added.count("V HKCR\\.qvf|=1:qvfFile"));
  bool filterData = false;
  for (const auto& e : added)
    if (e.find("Instance\\{1616D96D-5D93-43EC-AC7B-C2AA3B41A5F7}") != std::string::npos) filterData = true;
  EXPECT_TRUE(filterData) << "the filter is registered with the mapper";

  ASSERT_EQ(unreg(), S_OK);
  auto after = qvftest::SnapshotRegistry();
  for (const auto& e : after) {
    EXPECT_EQ(e.find("{1616D96D-5D93-43EC-AC7B-C2AA3B41A5F7}\\InprocServer32"), std::string::npos) << e;
    EXPECT_EQ(e.find("Instance\\{1616D96D"), std::string::npos) << e;
  }
  EXPECT_TRUE(after.count("V HKCR\\Media Type\\Extensions\\.qvf|Source Filter=1:{1616D96D-5D93-43EC-AC7B-C2AA3B41A5F7}"));
  EXPECT_TRUE(after.count("V HKCR\\.qvf|=1:qvfFile"));
  EXPECT_TRUE(after.count("V HKLM\\SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\Types|856=1:*.qvf"));
  CoUninitialize();
}

}  // namespace
