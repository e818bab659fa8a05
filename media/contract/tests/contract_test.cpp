#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <thread>
#include <unordered_set>

#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/comptr.h"
#include "media/contract/errortext.h"
#include "media/contract/folders.h"
#include "media/contract/mediatypeptr.h"
#include "media/contract/mediatypes.h"
#include "media/contract/memoryowners.h"
#include "media/contract/objidl.h"
#include "media/contract/profile.h"
#include "media/contract/registry.h"
#include "media/contract/videoinfo.h"
#include "media/contract/sync.h"
#include "media/contract/syncowners.h"
#include "media/contract/window.h"

TEST(Guid, TextFormRoundTripsInUpperCase) {
  EXPECT_EQ(tav::GuidToString(MEDIATYPE_Stream), "{E436EB83-524F-11CE-9F53-0020AF0BA770}");
  EXPECT_EQ(tav::GuidToString(MEDIATYPE_Video), "{73646976-0000-0010-8000-00AA00389B71}");
  GUID g{};
  ASSERT_TRUE(tav::GuidFromString("{e436ebb5-524f-11ce-9f53-0020af0ba770}", &g));
  EXPECT_EQ(tav::GuidToString(g), "{E436EBB5-524F-11CE-9F53-0020AF0BA770}");
  ASSERT_TRUE(tav::GuidFromString(u"A551CAEA-E6D4-4e47-8422-9128EEEE0D46", &g));
  EXPECT_EQ(g.Data1, 0xA551CAEAu);
  EXPECT_EQ(g.Data4[7], 0x46);
}

TEST(Guid, RejectsMalformedText) {
  GUID g{};
  for (const char* bad : {"", "{}", "E436EBB5-524F-11CE-9F53-0020AF0BA770}", "{E436EBB5-524F-11CE-9F53-0020AF0BA77}",
                          "{E436EBB5+524F-11CE-9F53-0020AF0BA770}", "{G436EBB5-524F-11CE-9F53-0020AF0BA770}"}) {
    EXPECT_FALSE(tav::GuidFromString(bad, &g)) << bad;
  }
  EXPECT_FALSE(tav::GuidFromString("{E436EBB5-524F-11CE-9F53-0020AF0BA770}", static_cast<GUID*>(nullptr)));
}

TEST(Guid, HashesAndOrdersDistinctIdentifiers) {
  std::unordered_set<GUID> set{MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB32, MEDIASUBTYPE_PCM, MEDIASUBTYPE_RGB24};
  EXPECT_EQ(set.size(), 3u);
  EXPECT_TRUE(MEDIASUBTYPE_RGB24 < MEDIASUBTYPE_RGB32 || MEDIASUBTYPE_RGB32 < MEDIASUBTYPE_RGB24);
}

TEST(MediaTypes, FourccSubtypesFollowTheFourccLayout) {
  EXPECT_EQ(tav::GuidToString(MEDIASUBTYPE_MP43), "{3334504D-0000-0010-8000-00AA00389B71}");
  EXPECT_TRUE(IsFourccSubtype(MEDIASUBTYPE_XVID));
  EXPECT_FALSE(IsFourccSubtype(MEDIASUBTYPE_RGB24));
}

TEST(MediaTypes, ImageSizeRule) {
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = 321;
  h.biHeight = -240;
  h.biBitCount = 24;
  h.biCompression = BI_RGB;
  EXPECT_EQ(GetBitmapSize(&h), DWORD(((24 * 321 + 31) / 32) * 4 * 240));  // rows padded to 32 bits
  h.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
  h.biBitCount = 16;
  h.biHeight = 240;
  EXPECT_EQ(GetBitmapSize(&h), DWORD(16 * 321 * 240 / 8));
}

// Each header form read from a block just long enough, then the same block one byte short,
// then a missing block and a format that has no bitmap header.
TEST(MediaTypes, VideoBitmapHeaderOfEveryFormatBlock) {
  struct Form {
    const GUID* format;
    size_t headerBytes;   // the shortest block the format may have
    size_t bitmapOffset;  // where its BITMAPINFOHEADER starts
    size_t frameTimeOffset;
  };
  const Form forms[] = {
      {&FORMAT_VideoInfo, sizeof(VIDEOINFOHEADER), offsetof(VIDEOINFOHEADER, bmiHeader),
       offsetof(VIDEOINFOHEADER, AvgTimePerFrame)},
      {&FORMAT_VideoInfo2, sizeof(VIDEOINFOHEADER2), offsetof(VIDEOINFOHEADER2, bmiHeader),
       offsetof(VIDEOINFOHEADER2, AvgTimePerFrame)},
      {&FORMAT_MPEGVideo, sizeof(VIDEOINFOHEADER), offsetof(MPEG1VIDEOINFO, hdr.bmiHeader),
       offsetof(MPEG1VIDEOINFO, hdr.AvgTimePerFrame)},
      {&FORMAT_MPEG2Video, sizeof(VIDEOINFOHEADER2), offsetof(MPEG2VIDEOINFO, hdr.bmiHeader),
       offsetof(MPEG2VIDEOINFO, hdr.AvgTimePerFrame)},
  };
  alignas(8) BYTE block[sizeof(MPEG2VIDEOINFO)] = {};
  for (const Form& f : forms) {
    SCOPED_TRACE(tav::GuidToString(*f.format));
    std::memset(block, 0, sizeof block);
    BITMAPINFOHEADER bih{};
    bih.biWidth = 352;
    bih.biHeight = -288;
    std::memcpy(block + f.bitmapOffset, &bih, sizeof bih);
    const REFERENCE_TIME frameTime = 400000;
    std::memcpy(block + f.frameTimeOffset, &frameTime, sizeof frameTime);

    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.formattype = *f.format;
    mt.pbFormat = block;
    mt.cbFormat = ULONG(f.headerBytes);
    REFERENCE_TIME read = 0;
    const BITMAPINFOHEADER* h = VideoBitmapHeader(mt, &read);
    ASSERT_EQ(reinterpret_cast<const BYTE*>(h), block + f.bitmapOffset);
    EXPECT_EQ(h->biWidth, 352);
    EXPECT_EQ(h->biHeight, -288);
    EXPECT_EQ(read, frameTime);
    MutableVideoBitmapHeader(mt)->biCompression = BI_BITFIELDS;
    EXPECT_EQ(h->biCompression, BI_BITFIELDS);

    mt.cbFormat = ULONG(f.headerBytes - 1);
    read = 0;
    EXPECT_EQ(VideoBitmapHeader(mt, &read), nullptr);
    EXPECT_EQ(read, 0);
    EXPECT_EQ(MutableVideoBitmapHeader(mt), nullptr);
    mt.cbFormat = ULONG(f.headerBytes);
    mt.pbFormat = nullptr;
    EXPECT_EQ(VideoBitmapHeader(mt), nullptr);
  }
  AM_MEDIA_TYPE wave{};
  wave.formattype = FORMAT_WaveFormatEx;
  wave.pbFormat = block;
  wave.cbFormat = sizeof block;
  EXPECT_EQ(VideoBitmapHeader(wave), nullptr);
}

TEST(Results, Win32ErrorsWrapAsFacilityWin32) {
  EXPECT_EQ(DWORD(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), 0x80070002u);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SUCCESS), S_OK);
  EXPECT_EQ(DWORD(tav::HResultFromErrno(ENOSPC)), 0x80070070u);
  EXPECT_TRUE(FAILED(VFW_E_NO_ACCEPTABLE_TYPES));
  EXPECT_TRUE(SUCCEEDED(VFW_S_STATE_INTERMEDIATE));
}

namespace {
struct Counted : IUnknown {
  ULONG refs = 1;
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
};
}  // namespace

TEST(ComPtr, CountsReferencesThroughCopiesMovesAndOutParameters) {
  Counted obj;
  {
    ComPtr<IUnknown> a(&obj);
    EXPECT_EQ(obj.refs, 2u);
    ComPtr<IUnknown> b = a;
    ComPtr<IUnknown> c = std::move(b);
    EXPECT_FALSE(b);
    EXPECT_EQ(obj.refs, 3u);
    ComPtr<IUnknown> d = a.As<IUnknown>();
    EXPECT_EQ(obj.refs, 4u);
    IUnknown* raw = nullptr;
    a.CopyTo(&raw);
    EXPECT_EQ(obj.refs, 5u);
    ComPtr<IUnknown> e = ComPtr<IUnknown>::Adopt(raw);
    EXPECT_EQ(obj.refs, 5u);
  }
  EXPECT_EQ(obj.refs, 1u);
}

// A handle is closed once, by whichever owner holds it last; a held critical section keeps
// other threads out until its guard goes.
TEST(SyncOwners, HandleClosedOnceByItsLastOwnerAndGuardExcludesOtherThreads) {
  HANDLE raw = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  {
    tav::UniqueHandle first(raw);
    tav::UniqueHandle second(std::move(first));
    EXPECT_EQ(first.Get(), nullptr);
    EXPECT_TRUE(SetEvent(second));  // still open
    tav::UniqueHandle third;
    third = std::move(second);
    EXPECT_EQ(WaitForSingleObject(third, 0), WAIT_OBJECT_0);
  }
  EXPECT_FALSE(CloseHandle(raw)) << "the owner left the handle open";
  HANDLE kept = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HANDLE replaced = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  {
    tav::UniqueHandle owner(replaced);
    owner.Reset(kept);
    EXPECT_FALSE(CloseHandle(replaced)) << "Reset left the old handle open";
    EXPECT_EQ(owner.Release(), kept);
  }
  EXPECT_TRUE(CloseHandle(kept)) << "Release closed the handle it gave up";

  tav::CriticalSection cs;
  bool otherGotIn = true;
  {
    tav::CriticalSectionLock held(cs);
    tav::CriticalSectionLock again(cs);  // recursive on the owning thread
    std::thread([&] { otherGotIn = TryEnterCriticalSection(cs.Get()) != FALSE; }).join();
  }
  EXPECT_FALSE(otherGotIn);
  std::thread([&] {
    otherGotIn = TryEnterCriticalSection(cs.Get()) != FALSE;
    if (otherGotIn) LeaveCriticalSection(cs.Get());
  }).join();
  EXPECT_TRUE(otherGotIn) << "the guards left the section held";
}

// A handed-out media type, its format block and its interface are all let go exactly once,
// whether the owner goes, is moved from or is filled again.
TEST(MediaTypeOwners, FreeTheTypeItsBlockAndItsInterfaceOnce) {
  Counted obj;
  auto handOut = [&](AM_MEDIA_TYPE** out) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    *mt = AM_MEDIA_TYPE{};
    mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(16));
    mt->cbFormat = 16;
    mt->pUnk = &obj;
    obj.AddRef();
    *out = mt;
  };
  {
    tav::MediaTypePtr first;
    handOut(first.Out());
    handOut(first.Out());  // the first one is freed before the second comes
    EXPECT_EQ(obj.refs, 2u);
    tav::MediaTypePtr second = std::move(first);
    EXPECT_FALSE(first);
    EXPECT_EQ(obj.refs, 2u);
  }
  EXPECT_EQ(obj.refs, 1u);
  {
    tav::ScopedMediaType filled;
    AM_MEDIA_TYPE* mt = filled.Out();
    mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(8));
    mt->cbFormat = 8;
    mt->pUnk = &obj;
    obj.AddRef();
    EXPECT_EQ(filled->cbFormat, 8u);
  }
  EXPECT_EQ(obj.refs, 1u);
}

// A handed-out string or block stays whole through moves and refills and is freed by
// whichever owner holds it last (the sanitizer build reports a leak or a second free).
TEST(MemoryOwners, KeepTheTextThroughMovesAndFreeItOnce) {
  tav::BstrPtr first = tav::BstrPtr::Copy(u"caption");
  ASSERT_TRUE(first);
  EXPECT_EQ(SysStringLen(first.Get()), 7u);
  tav::BstrPtr second(std::move(first));
  EXPECT_FALSE(first);
  EXPECT_EQ(std::u16string(second.Get()), u"caption");
  *second.Out() = SysAllocString(u"again");  // the first string is freed before the call fills it
  EXPECT_EQ(std::u16string(second.Get()), u"again");
  BSTR kept = second.Release();
  EXPECT_FALSE(second);
  SysFreeString(kept);  // what the owner gave up is the caller's to free

  tav::TaskMemPtr<OLECHAR> name;
  auto handOut = [](LPOLESTR* out) {
    *out = static_cast<LPOLESTR>(CoTaskMemAlloc(4 * sizeof(OLECHAR)));
    std::memcpy(*out, u"abc", 4 * sizeof(OLECHAR));
  };
  handOut(name.Out());
  handOut(name.Out());
  tav::TaskMemPtr<OLECHAR> moved;
  moved = std::move(name);
  EXPECT_FALSE(name);
  EXPECT_EQ(std::u16string(moved.Get()), u"abc");
  moved.Reset(static_cast<OLECHAR*>(CoTaskMemAlloc(sizeof(OLECHAR))));
}
