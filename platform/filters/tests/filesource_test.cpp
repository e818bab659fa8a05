// File Source (Async): registration and seeded entries, loading, the pin's type from the
// check bytes, IAsyncReader reads (synchronous, queued, past the end), flushing, state
// changes without a connection, and no leaked objects.
#include <cstring>
#include <vector>

#include "media/contract/registry.h"
#include "platform/filters/tests/filtertest.h"
#include "platform/streaming/base/streams.h"

namespace {

using filtertest::Wide;

std::string RegString(const std::string& key, const char* name) {
  HKEY k = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return {};
  char data[512] = {};
  DWORD type = 0, size = sizeof data - 1;
  LSTATUS s = RegQueryValueEx(k, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(k);
  return s == ERROR_SUCCESS ? std::string(data) : std::string();
}

// A file that starts like an AVI file, then counts bytes.
std::string AviLikeBytes(size_t size) {
  std::string b("RIFF\x10\0\0\0AVI LIST", 16);
  b.resize(size);
  for (size_t i = 16; i < size; ++i) b[i] = char(i & 0xFF);
  return b;
}

class filters_FileSource : public filtertest::FilterTest {
 protected:
  ComPtr<IBaseFilter> MakeSource() {
    ComPtr<IBaseFilter> f;
    EXPECT_EQ(CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, f.AsVoidOut()),
              S_OK);
    return f;
  }
  static ComPtr<IPin> FirstPin(IBaseFilter* f) {
    ComPtr<IEnumPins> e;
    ComPtr<IPin> pin;
    if (SUCCEEDED(f->EnumPins(&e))) e->Next(1, &pin, nullptr);
    return pin;
  }
};

TEST_F(filters_FileSource, Registration_SeedsCheckBytesAndExtensions) {
  const std::string stream = "Media Type\\" + tav::GuidToString(MEDIATYPE_Stream) + "\\";
  const std::string avi = stream + tav::GuidToString(MEDIASUBTYPE_Avi);
  EXPECT_EQ(RegString(avi, "0"), "0,4,,52494646,8,4,,41564920");
  EXPECT_EQ(RegString(avi, "Source Filter"), tav::GuidToString(CLSID_AsyncReader));
  EXPECT_NE(RegString(stream + tav::GuidToString(MEDIASUBTYPE_WAVE), "0").find("52494646"), std::string::npos);
  EXPECT_NE(RegString(stream + tav::GuidToString(MEDIASUBTYPE_MPEG1System), "0"), "");
  EXPECT_NE(RegString(stream + tav::GuidToString(MEDIASUBTYPE_MPEG1Video), "0"), "");
  EXPECT_NE(RegString(stream + tav::GuidToString(MEDIASUBTYPE_MPEG1Audio), "0"), "");
  for (const char* ext : {".wmv", ".asf"})
    EXPECT_EQ(RegString(std::string("Media Type\\Extensions\\") + ext, "Source Filter"),
              tav::GuidToString(CLSID_WMAsfReader))
        << ext;
  for (const char* ext : {".mp4", ".mpg4", ".mov", ".qt", ".3gp", ".3gpp", ".3g2", ".3gp2"})
    EXPECT_NE(RegString(std::string("Media Type\\Extensions\\") + ext, "Source Filter"), "") << ext;
  for (const char* ext : {".m4v", ".mkv", ".webm", ".ts", ".mts", ".m2ts", ".flv", ".vob"})
    EXPECT_NE(RegString(std::string("Media Type\\Extensions\\") + ext, "Source Filter"), "") << ext;
}

TEST_F(filters_FileSource, Interfaces_PinsAndTypeFromCheckBytes) {
  ComPtr<IBaseFilter> f = MakeSource();
  ComPtr<IFileSourceFilter> load = f.As<IFileSourceFilter>();
  ASSERT_TRUE(load);
  EXPECT_FALSE(FirstPin(f.Get())) << "no pin before a file is loaded";
  EXPECT_EQ(load->Load(Wide(tavtest::TempDir() + "/missing.avi").c_str(), nullptr),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(load->Load(nullptr, nullptr), E_POINTER);

  const std::string path = filtertest::WriteFile("a.avi", AviLikeBytes(1000));
  ASSERT_EQ(load->Load(Wide(path).c_str(), nullptr), S_OK);
  ComPtr<IPin> pin = FirstPin(f.Get());
  ASSERT_TRUE(pin);
  EXPECT_TRUE(pin.As<IAsyncReader>());
  PIN_DIRECTION dir;
  EXPECT_EQ(pin->QueryDirection(&dir), S_OK);
  EXPECT_EQ(dir, PINDIR_OUTPUT);

  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(pin->EnumMediaTypes(&types), S_OK);
  AM_MEDIA_TYPE* mt = nullptr;
  ASSERT_EQ(types->Next(1, &mt, nullptr), S_OK);
  EXPECT_EQ(mt->majortype, MEDIATYPE_Stream);
  EXPECT_EQ(mt->subtype, MEDIASUBTYPE_Avi);
  DeleteMediaType(mt);
  EXPECT_EQ(types->Next(1, &mt, nullptr), S_FALSE);

  LPOLESTR name = nullptr;
  AM_MEDIA_TYPE cur{};
  ASSERT_EQ(load->GetCurFile(&name, &cur), S_OK);
  EXPECT_EQ(std::u16string(name), Wide(path));
  EXPECT_EQ(cur.subtype, MEDIASUBTYPE_Avi);
  CoTaskMemFree(name);
  FreeMediaType(cur);

  // Random bytes match no entry: the subtype stays open.
  const std::string junk = filtertest::WriteFile("junk.bin", std::string(300, '\x5A'));
  ASSERT_EQ(load->Load(Wide(junk).c_str(), nullptr), S_OK);
  ASSERT_EQ(load->GetCurFile(&name, &cur), S_OK);
  EXPECT_EQ(cur.subtype, GUID_NULL);
  CoTaskMemFree(name);
  FreeMediaType(cur);

  // State changes without a connection.
  EXPECT_EQ(f->Pause(), S_OK);
  EXPECT_EQ(f->Run(0), S_OK);
  EXPECT_EQ(f->Stop(), S_OK);
}

TEST_F(filters_FileSource, Reader_SyncQueuedAndPastTheEnd) {
  ComPtr<IBaseFilter> f = MakeSource();
  const std::string bytes = AviLikeBytes(5000);
  const std::string path = filtertest::WriteFile("b.avi", bytes);
  ASSERT_EQ(f.As<IFileSourceFilter>()->Load(Wide(path).c_str(), nullptr), S_OK);
  ComPtr<IAsyncReader> reader = FirstPin(f.Get()).As<IAsyncReader>();
  ASSERT_TRUE(reader);

  LONGLONG total = 0, available = 0;
  ASSERT_EQ(reader->Length(&total, &available), S_OK);
  EXPECT_EQ(total, 5000);
  EXPECT_EQ(available, 5000);

  std::vector<BYTE> buf(200);
  EXPECT_EQ(reader->SyncRead(100, 200, buf.data()), S_OK);
  EXPECT_EQ(std::memcmp(buf.data(), bytes.data() + 100, 200), 0);
  EXPECT_EQ(reader->SyncRead(4900, 200, buf.data()), S_FALSE) << "short read at the end";

  ALLOCATOR_PROPERTIES props{4, 1024, 0, 0};
  ComPtr<IMemAllocator> alloc;
  ASSERT_EQ(reader->RequestAllocator(nullptr, &props, &alloc), S_OK);
  ASSERT_EQ(alloc->Commit(), S_OK);
  // Two queued reads, one running past the end of the file.
  const LONGLONG starts[] = {1000, 4500};
  for (int i = 0; i < 2; ++i) {
    ComPtr<IMediaSample> s;
    ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    REFERENCE_TIME t0 = starts[i] * UNITS, t1 = (starts[i] + 1024) * UNITS;
    s->SetTime(&t0, &t1);
    ASSERT_EQ(reader->Request(s.Get(), DWORD_PTR(i + 7)), S_OK);
  }
  for (int i = 0; i < 2; ++i) {
    IMediaSample* s = nullptr;
    DWORD_PTR user = 0;
    ASSERT_EQ(reader->WaitForNext(5000, &s, &user), S_OK);
    ASSERT_TRUE(s);
    EXPECT_EQ(user, DWORD_PTR(i + 7));
    EXPECT_EQ(s->GetActualDataLength(), i == 0 ? 1024 : 500);
    BYTE* p = nullptr;
    s->GetPointer(&p);
    EXPECT_EQ(std::memcmp(p, bytes.data() + starts[i], size_t(s->GetActualDataLength())), 0);
    s->Release();
  }

  // During a flush new requests are refused and waiting returns at once.
  ASSERT_EQ(reader->BeginFlush(), S_OK);
  {
    ComPtr<IMediaSample> s;
    ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    REFERENCE_TIME t0 = 0, t1 = 100 * UNITS;
    s->SetTime(&t0, &t1);
    EXPECT_EQ(reader->Request(s.Get(), 0), VFW_E_WRONG_STATE);
    IMediaSample* out = nullptr;
    DWORD_PTR user = 0;
    EXPECT_EQ(reader->WaitForNext(INFINITE, &out, &user), VFW_E_WRONG_STATE);
    EXPECT_EQ(out, nullptr);
  }
  ASSERT_EQ(reader->EndFlush(), S_OK);
  IMediaSample* out = nullptr;
  DWORD_PTR user = 0;
  EXPECT_EQ(reader->WaitForNext(10, &out, &user), VFW_E_TIMEOUT);
  alloc->Decommit();
}

TEST_F(filters_FileSource, Graph_AddSourceFilterUsesCheckBytes) {
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.AsVoidOut()),
            S_OK);
  const std::string path = filtertest::WriteFile("c.avi", AviLikeBytes(400));
  ComPtr<IBaseFilter> source;
  ASSERT_EQ(graph->AddSourceFilter(Wide(path).c_str(), u"Source", &source), S_OK);
  CLSID clsid{};
  source->GetClassID(&clsid);
  EXPECT_EQ(clsid, CLSID_AsyncReader);
  AM_MEDIA_TYPE mt{};
  LPOLESTR name = nullptr;
  ASSERT_EQ(source.As<IFileSourceFilter>()->GetCurFile(&name, &mt), S_OK);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_Avi);
  CoTaskMemFree(name);
  FreeMediaType(mt);
  graph->RemoveFilter(source.Get());
}

}  // namespace
