// Samples and allocators: property negotiation, commit and decommit, a GetBuffer that
// blocks until a sample comes back and is released by a decommit, sample flags, times and
// type changes, the image allocator's layout, and no leaked references.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/streaming/tests/base_testutil.h"
#include "tests/support/testenv.h"

using namespace tavtest;
using namespace basetest;

namespace {

class StrmBaseAllocator : public BaseTest {};

TEST_F(StrmBaseAllocator, PropertiesAreCheckedAndRoundedToTheAlignment) {
  ComPtr<IMemAllocator> a;
  ASSERT_EQ(CreateMemoryAllocator(a.ReleaseAndGetAddressOf()), S_OK);
  ALLOCATOR_PROPERTIES req{2, 100, 3, 0}, got{};
  EXPECT_EQ(a->SetProperties(&req, &got), VFW_E_BADALIGN);
  req.cbAlign = 16;
  ASSERT_EQ(a->SetProperties(&req, &got), S_OK);
  EXPECT_EQ(got.cbBuffer, 112);
  EXPECT_EQ(got.cBuffers, 2);
  ComPtr<IMemAllocator> b;
  ASSERT_EQ(CreateMemoryAllocator(b.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(b->Commit(), VFW_E_SIZENOTSET) << "no sizes, no commit";

  ASSERT_EQ(a->Commit(), S_OK);
  EXPECT_EQ(a->SetProperties(&req, &got), VFW_E_ALREADY_COMMITTED);
  IMediaSample* s = nullptr;
  ASSERT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
  BYTE* p = nullptr;
  s->GetPointer(&p);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
  EXPECT_EQ(s->GetSize(), 112);
  a->Decommit();
  EXPECT_EQ(a->SetProperties(&req, &got), VFW_E_BUFFERS_OUTSTANDING);
  s->Release();
  EXPECT_EQ(a->SetProperties(&req, &got), S_OK);
}

TEST_F(StrmBaseAllocator, GetBufferWaitsForAFreeSampleAndDecommitReleasesIt) {
  ComPtr<IMemAllocator> a;
  ASSERT_EQ(CreateMemoryAllocator(a.ReleaseAndGetAddressOf()), S_OK);
  ALLOCATOR_PROPERTIES req{1, 64, 1, 0}, got{};
  ASSERT_EQ(a->SetProperties(&req, &got), S_OK);
  IMediaSample* held = nullptr;
  EXPECT_EQ(a->GetBuffer(&held, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  ASSERT_EQ(a->Commit(), S_OK);
  ASSERT_EQ(a->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
  IMediaSample* other = nullptr;
  EXPECT_EQ(a->GetBuffer(&other, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);

  // A thread that asks for a buffer, started once it is blocked in GetBuffer (or has its
  // answer already); result holds the answer.
  std::atomic<HRESULT> result{E_PENDING};
  std::atomic<int> waiterId{0};
  auto startWaiter = [&] {
    result = E_PENDING;
    waiterId = 0;
    std::thread waiter([&] {
      waiterId = tavtest::CurrentThreadId();
      IMediaSample* s = nullptr;
      result = a->GetBuffer(&s, nullptr, nullptr, 0);
      if (s) s->Release();
    });
    EXPECT_TRUE(tavtest::WaitFor(
        [&] { return result.load() != E_PENDING || (waiterId && tavtest::ThreadIsBlocked(waiterId)); }));
    return waiter;
  };

  // A waiter gets the sample as soon as it comes back.
  std::thread waiter = startWaiter();
  EXPECT_EQ(result.load(), E_PENDING);
  held->Release();
  waiter.join();
  EXPECT_EQ(result.load(), S_OK);

  // A decommit releases a waiter with an error.
  ASSERT_EQ(a->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
  std::thread blocked = startWaiter();
  ASSERT_EQ(a->Decommit(), S_OK);
  blocked.join();
  EXPECT_EQ(result.load(), VFW_E_NOT_COMMITTED);
  held->Release();
}

TEST_F(StrmBaseAllocator, AllocatorOutlivesItsLastReferenceWhileSamplesAreOut) {
  IMediaSample* s = nullptr;
  {
    ComPtr<IMemAllocator> a;
    ASSERT_EQ(CreateMemoryAllocator(a.ReleaseAndGetAddressOf()), S_OK);
    ALLOCATOR_PROPERTIES req{1, 32, 1, 0}, got{};
    ASSERT_EQ(a->SetProperties(&req, &got), S_OK);
    ASSERT_EQ(a->Commit(), S_OK);
    ASSERT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    a->Decommit();
  }
  // The sample is still usable; releasing it frees the allocator (checked by TearDown).
  BYTE* p = nullptr;
  ASSERT_EQ(s->GetPointer(&p), S_OK);
  p[31] = 1;
  s->Release();
}

TEST_F(StrmBaseAllocator, SampleTimesFlagsAndTypeChanges) {
  ComPtr<IMemAllocator> a;
  ASSERT_EQ(CreateMemoryAllocator(a.ReleaseAndGetAddressOf()), S_OK);
  ALLOCATOR_PROPERTIES req{1, 32, 1, 0}, got{};
  ASSERT_EQ(a->SetProperties(&req, &got), S_OK);
  ASSERT_EQ(a->Commit(), S_OK);
  IMediaSample* s = nullptr;
  REFERENCE_TIME t0 = 10, t1 = 20;
  ASSERT_EQ(a->GetBuffer(&s, &t0, &t1, 0), S_OK);
  REFERENCE_TIME start = 0, stop = 0;
  EXPECT_EQ(s->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(start, 10);
  EXPECT_EQ(stop, 20);
  s->SetTime(&t0, nullptr);
  EXPECT_EQ(s->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
  EXPECT_EQ(stop, 11);
  s->SetTime(nullptr, nullptr);
  EXPECT_EQ(s->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  EXPECT_EQ(s->SetActualDataLength(33), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(s->SetActualDataLength(32), S_OK);
  s->SetSyncPoint(TRUE);
  s->SetDiscontinuity(TRUE);
  AM_MEDIA_TYPE* mt = nullptr;
  EXPECT_EQ(s->GetMediaType(&mt), S_FALSE);
  CMediaType type = MakeVideoType(MEDIASUBTYPE_RGB32, 4, 4, 1);
  ASSERT_EQ(s->SetMediaType(&type), S_OK);
  ASSERT_EQ(s->GetMediaType(&mt), S_OK);
  EXPECT_TRUE(MediaTypesEqual(*mt, type));
  DeleteMediaType(mt);
  ComPtr<IMediaSample2> s2;
  ASSERT_EQ(s->QueryInterface(IID_IMediaSample2, s2.AsVoidOut()), S_OK);
  AM_SAMPLE2_PROPERTIES props{};
  ASSERT_EQ(s2->GetProperties(sizeof props, reinterpret_cast<BYTE*>(&props)), S_OK);
  EXPECT_TRUE(props.dwSampleFlags & AM_SAMPLE_SPLICEPOINT);
  EXPECT_TRUE(props.dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY);
  EXPECT_TRUE(props.dwSampleFlags & AM_SAMPLE_TYPECHANGED);
  EXPECT_EQ(props.lActual, 32);
  s2.Reset();
  s->Release();

  // A returned sample comes back clean.
  ASSERT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(s->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(s->IsDiscontinuity(), S_FALSE);
  EXPECT_EQ(s->GetMediaType(&mt), S_FALSE);
  s->Release();
  a->Decommit();
}

TEST_F(StrmBaseAllocator, ImageAllocatorMakesImagesOfTheConnectedType) {
  ComPtr<IBaseFilter> rnd;
  CTestRenderer* renderer = CTestRenderer::Create({}, rnd);
  HRESULT hr = S_OK;
  {
    CImageAllocator images(renderer, NAME("images"), &hr);
    CMediaType type = MakeVideoType(MEDIASUBTYPE_RGB24, 10, 4, 1);
    images.NotifyMediaType(&type);
    ALLOCATOR_PROPERTIES req{0, 1, 8, 0}, got{};
    ASSERT_EQ(images.SetProperties(&req, &got), S_OK);
    EXPECT_EQ(got.cbBuffer, 32 * 4) << "a whole image of padded rows";
    EXPECT_EQ(got.cBuffers, 1);
    ASSERT_EQ(images.Commit(), S_OK);
    IMediaSample* s = nullptr;
    ASSERT_EQ(images.GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    DIBDATA* dib = static_cast<CImageSample*>(s)->GetDIBData();
    EXPECT_EQ(dib->lStride, 32);
    EXPECT_EQ(dib->header.biWidth, 10);
    BYTE* p = nullptr;
    s->GetPointer(&p);
    EXPECT_EQ(p, dib->pBase);
    s->Release();
    images.Decommit();
  }
}

}  // namespace
