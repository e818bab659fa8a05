// Media types: deep copies, comparison including the format block, partial matches, and
// the task-allocated helpers.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/streaming/base/streams.h"

namespace {

TEST(StrmBaseMediaType, Rgb32VideoTypeDescribesOneFrame) {
  const CMediaType mt = Rgb32VideoType(320, -240, 400000);
  EXPECT_EQ(*mt.Type(), MEDIATYPE_Video);
  EXPECT_EQ(*mt.Subtype(), MEDIASUBTYPE_RGB32);
  ASSERT_EQ(*mt.FormatType(), FORMAT_VideoInfo);
  ASSERT_EQ(mt.FormatLength(), sizeof(VIDEOINFOHEADER));
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.Format());
  EXPECT_EQ(vih->AvgTimePerFrame, 400000);
  EXPECT_EQ(vih->bmiHeader.biHeight, -240) << "a negative height is a top-down frame";
  EXPECT_EQ(vih->bmiHeader.biBitCount, 32);
  EXPECT_EQ(vih->bmiHeader.biSizeImage, 320u * 240u * 4u);
  EXPECT_TRUE(mt.IsFixedSize());
  EXPECT_EQ(mt.GetSampleSize(), 320u * 240u * 4u);
}

TEST(StrmBaseMediaType, CopiesOwnTheirFormatBlock) {
  CMediaType a = Rgb32VideoType(320, 240);
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
  CMediaType a = Rgb32VideoType(320, 240);
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
  CMediaType full = Rgb32VideoType(320, 240);
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
  CMediaType src = Rgb32VideoType(160, 120);
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
  CMediaType held = Rgb32VideoType(320, 240);
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
