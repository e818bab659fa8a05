// Small helpers for the filter tests: media types, sample sources and an in-memory stream.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "media/contract/objidl.h"
#include "platform/streaming/base/allocator.h"
#include "platform/streaming/base/mtype.h"
#include "tests/support/videotype.h"

namespace vktest {

// A pointer to a temporary, valid for the full expression.
template <typename T>
const T* P(const T& t) {
  return &t;
}

// A filter of the library made directly by its CreateInstance, as the tests of one filter
// hold it: its IBaseFilter, the object itself and its control interface.
template <typename Impl, typename Control>
struct DirectFilter {
  ComPtr<IBaseFilter> filter;
  Impl* impl = nullptr;
  ComPtr<Control> control;

  DirectFilter() {
    HRESULT hr = E_FAIL;
    CUnknown* u = Impl::CreateInstance(nullptr, &hr);
    EXPECT_EQ(S_OK, hr);
    if (!u) return;
    EXPECT_EQ(S_OK, u->NonDelegatingQueryInterface(IID_IBaseFilter, filter.AsVoidOut()));
    impl = static_cast<Impl*>(u);
    control = filter.As<Control>();
  }
};

inline CMediaType VideoType(LONG width, LONG height, WORD bits, const GUID& subtype, bool vih2 = false) {
  CMediaType mt;
  BITMAPINFOHEADER* h = tavtest::InitVideoInfoType(mt, subtype, width, height, bits, BI_RGB, 333667, vih2);
  h->biSizeImage = GetBitmapSize(h);
  mt.SetSampleSize(h->biSizeImage);
  return mt;
}

inline CMediaType Rgb32(LONG width, LONG height, bool vih2 = false) {
  return VideoType(width, height, 32, MEDIASUBTYPE_RGB32, vih2);
}

inline BITMAPINFOHEADER* HeaderOf(CMediaType& mt) {
  if (mt.formattype == FORMAT_VideoInfo2) return &reinterpret_cast<VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader;
  return &reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
}

// A committed memory allocator of `count` buffers of `size` bytes.
inline ComPtr<IMemAllocator> CommittedAllocator(LONG count, LONG size) {
  ComPtr<IMemAllocator> a;
  EXPECT_EQ(S_OK, CreateMemoryAllocator(&a));
  ALLOCATOR_PROPERTIES want{count, size, 1, 0}, got{};
  EXPECT_EQ(S_OK, a->SetProperties(&want, &got));
  EXPECT_EQ(S_OK, a->Commit());
  return a;
}

inline ComPtr<IMediaSample> Buffer(IMemAllocator* a, DWORD flags = 0) {
  ComPtr<IMediaSample> s;
  const HRESULT hr = a->GetBuffer(&s, nullptr, nullptr, flags);
  if (FAILED(hr)) return nullptr;
  return s;
}

// An IStream over a byte vector.
class MemoryStream final : public IStream {
 public:
  std::vector<BYTE> data;
  size_t position = 0;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IStream || riid == IID_ISequentialStream) {
      *ppv = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }  // lives on the test's stack
  STDMETHODIMP Read(void* buffer, ULONG bytes, ULONG* read) override {
    const size_t n = std::min<size_t>(bytes, data.size() - std::min(position, data.size()));
    if (n) std::memcpy(buffer, data.data() + position, n);
    position += n;
    if (read) *read = ULONG(n);
    return n == bytes ? S_OK : S_FALSE;
  }
  STDMETHODIMP Write(const void* buffer, ULONG bytes, ULONG* written) override {
    if (data.size() < position + bytes) data.resize(position + bytes);
    std::memcpy(data.data() + position, buffer, bytes);
    position += bytes;
    if (written) *written = bytes;
    return S_OK;
  }
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* now) override {
    const LONGLONG base = origin == STREAM_SEEK_SET ? 0 : origin == STREAM_SEEK_CUR ? LONGLONG(position) : LONGLONG(data.size());
    position = size_t(base + move.QuadPart);
    if (now) now->QuadPart = position;
    return S_OK;
  }
  STDMETHODIMP SetSize(ULARGE_INTEGER size) override {
    data.resize(size_t(size.QuadPart));
    return S_OK;
  }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP Commit(DWORD) override { return S_OK; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

 private:
  std::atomic<ULONG> refs{1};
};

}  // namespace vktest
