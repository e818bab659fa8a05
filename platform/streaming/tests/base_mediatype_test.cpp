// Media types: deep copies, comparison including the format block, partial matches, and
// the task-allocated helpers.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/streaming/base/streams.h"

namespace {

CMediaType VideoType(LONG width, LONG height) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&MEDIASUBTYPE_RGB32);
  mt.SetFormatType(&FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = width;
  vih->bmiHeader.biHeight = height;
  vih->bmiHeader.biBitCount = 32;
  vih->bmiHeader.biPlanes = 1;
  mt.SetSampleSize(GetBitmapSize(&vih->bmiHeader));
  return mt;
}

TEST(StrmBaseMediaType, CopiesOwnTheirFormatBlock) {
  CMediaType a = VideoType(320, 240);
  CMediaType b(a);
  ASSERT_NE(a.Format(), b.Format());
  EXPECT_TRUE(a == b);
  reinterpret_cast<VIDEOINFOHEADER*>(b.Format())->bmiHeader.biWidth = 640;
  EXPECT_FALSE(a == b) << "comparison must include the format block";
  b = a;
  EXPECT_TRUE(a == b);
  a = a;  // self-assignment keeps the block
  ASSERT_NE(a.Format(), nullptr);
  EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(a.Format())->bmiHeader.biWidth, 320);
}

TEST(StrmBaseMediaType, DifferentFormatLengthOrTypeIsNotEqual) {
  CMediaType a = VideoType(320, 240);
  CMediaType b = a;
  b.ReallocFormatBuffer(sizeof(VIDEOINFOHEADER) + 4);
  EXPECT_FALSE(a == b);
  CMediaType c = a;
  c.SetFormatType(&FORMAT_VideoInfo2);
  EXPECT_FALSE(a == c);
  CMediaType d = a;
  d.SetSubtype(&MEDIASUBTYPE_RGB24);
  EXPECT_FALSE(a == d);
}

TEST(StrmBaseMediaType, PartialMatchTreatsNullGuidsAsWildcards) {
  CMediaType full = VideoType(320, 240);
  CMediaType partial(&MEDIATYPE_Video);
  EXPECT_TRUE(partial.IsPartiallySpecified());
  EXPECT_TRUE(full.MatchesPartial(&partial));
  partial.SetSubtype(&MEDIASUBTYPE_RGB24);
  EXPECT_FALSE(full.MatchesPartial(&partial));
  CMediaType audio(&MEDIATYPE_Audio);
  EXPECT_FALSE(full.MatchesPartial(&audio));
  EXPECT_FALSE(full.IsPartiallySpecified());
}

TEST(StrmBaseMediaType, TaskAllocatedHelpersCopyAndFree) {
  CMediaType src = VideoType(160, 120);
  AM_MEDIA_TYPE* copy = CreateMediaType(&src);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->pbFormat, src.pbFormat);
  EXPECT_TRUE(MediaTypesEqual(*copy, src));
  AM_MEDIA_TYPE plain{};
  ASSERT_EQ(CopyMediaType(&plain, copy), S_OK);
  EXPECT_TRUE(MediaTypesEqual(plain, src));
  FreeMediaType(plain);
  EXPECT_EQ(plain.pbFormat, nullptr);
  EXPECT_EQ(plain.cbFormat, 0u);
  DeleteMediaType(copy);
  DeleteMediaType(nullptr);  // harmless
  EXPECT_EQ(CopyMediaType(nullptr, &src), E_POINTER);
}

TEST(StrmBaseMediaType, LengthWithoutBlockIsTreatedAsNoFormat) {
  AM_MEDIA_TYPE broken{};
  broken.majortype = MEDIATYPE_Video;
  broken.cbFormat = 88;  // claims a block it does not have
  CMediaType mt(broken);
  EXPECT_EQ(mt.FormatLength(), 0u);
  EXPECT_EQ(mt.Format(), nullptr);
}

// Counts the references a media type holds on its pUnk.
class CountedUnknown final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  ULONG refs = 1;
};

// A filter empties the type it holds when its pin disconnects, and a pin's type is
// cleared before it is filled in again: neither may keep the old block or reference.
TEST(StrmBaseMediaType, InitMediaTypeGivesUpTheFormatAndReference) {
  CountedUnknown unk;
  CMediaType held = VideoType(320, 240);
  held.pUnk = &unk;
  unk.AddRef();
  CMediaType copy(held);
  EXPECT_EQ(unk.refs, 3u);
  held.InitMediaType();
  EXPECT_EQ(unk.refs, 2u);
  EXPECT_EQ(held.Format(), nullptr);
  EXPECT_EQ(held.FormatLength(), 0u);
  EXPECT_EQ(held.pUnk, nullptr);
  EXPECT_TRUE(held.IsFixedSize());
  EXPECT_EQ(held.GetSampleSize(), 1u);
  held.InitMediaType();  // emptying an empty type is harmless
  copy = held;
  EXPECT_EQ(unk.refs, 1u);
}

}  // namespace
