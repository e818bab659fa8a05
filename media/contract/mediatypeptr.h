// Owners of media types handed across interfaces. A media type's format block is
// task-allocated and it may hold an interface; a type that IEnumMediaTypes::Next hands out
// is itself task-allocated. These free what they own when they go, so no caller frees a
// media type by hand.
#pragma once

#include "media/contract/com.h"
#include "media/contract/mediatypes.h"
#include "media/contract/uniqueowner.h"

namespace tav {

// Frees the format block and releases the interface of mt, leaving it empty (the structure
// itself stays the caller's).
inline void FreeMediaTypeContents(AM_MEDIA_TYPE& mt) {
  if (mt.pbFormat) CoTaskMemFree(mt.pbFormat);
  mt.pbFormat = nullptr;
  mt.cbFormat = 0;
  if (mt.pUnk) mt.pUnk->Release();
  mt.pUnk = nullptr;
}

// A media type in a structure of its own, filled by a call such as
// IPin::ConnectionMediaType; its contents are freed when it goes.
class ScopedMediaType {
 public:
  ScopedMediaType() = default;
  ~ScopedMediaType() { FreeMediaTypeContents(mt_); }
  ScopedMediaType(const ScopedMediaType&) = delete;
  ScopedMediaType& operator=(const ScopedMediaType&) = delete;

  // For a call that fills one in; what was held is freed first.
  AM_MEDIA_TYPE* Out() {
    FreeMediaTypeContents(mt_);
    mt_ = AM_MEDIA_TYPE{};
    return &mt_;
  }
  AM_MEDIA_TYPE* operator->() { return &mt_; }
  const AM_MEDIA_TYPE* operator->() const { return &mt_; }
  const AM_MEDIA_TYPE& Get() const { return mt_; }

 private:
  AM_MEDIA_TYPE mt_{};
};

struct MediaTypeFree {
  void operator()(AM_MEDIA_TYPE* mt) const noexcept {
    FreeMediaTypeContents(*mt);
    CoTaskMemFree(mt);
  }
};

// A task-allocated media type (IEnumMediaTypes::Next); the structure, its block and its
// interface are freed when it goes or is replaced. The constructor takes over a type handed
// out elsewhere (CreateMediaType, IMediaSample::GetMediaType).
class MediaTypePtr : public UniqueOwner<AM_MEDIA_TYPE*, MediaTypeFree> {
 public:
  using UniqueOwner::UniqueOwner;
  AM_MEDIA_TYPE* operator->() const noexcept { return Get(); }
  AM_MEDIA_TYPE& operator*() const noexcept { return *Get(); }
};

}  // namespace tav
