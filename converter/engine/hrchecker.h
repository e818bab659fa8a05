// HRChecker: the error carrier of the engine. A code path that may fail makes one
// checker, sets its context and media type before risky steps and passes every result
// through Check; a failure throws a copy of the checker, which the run-level handlers
// catch to record code, media type and context in the batch entry.
#pragma once

#include <string>

#include "converter/engine/mediatype.h"
#include "media/contract/hresult.h"

namespace tav {

class HRChecker {
 public:
  HRChecker() = default;

  // Stores hr; a failure code throws a copy of this checker.
  HRESULT Check(HRESULT hr) {
    hr_ = hr;
    if (hr < 0) throw HRChecker(*this);
    return hr;
  }
  // A null p stores E_NOINTERFACE and throws; otherwise hr becomes S_OK.
  template <typename P>
  void CheckPointer(const P& p) {
    if (!p) {
      hr_ = E_NOINTERFACE;
      throw HRChecker(*this);
    }
    hr_ = S_OK;
  }
  HRESULT GetHr() const { return hr_; }

  void SetMediaType(const MediaTypeValue& mt) { mediaType_ = mt; }
  void SetMediaType(const AM_MEDIA_TYPE* mt) { mediaType_ = MediaTypeValue(mt); }
  const MediaTypeValue& GetMediaType() const { return mediaType_; }

  void SetContext(std::string context) { context_ = std::move(context); }
  const std::string& GetContext() const { return context_; }
  void ClearContext() { context_.clear(); }

 private:
  HRESULT hr_ = S_OK;
  MediaTypeValue mediaType_;
  std::string context_;
};

}  // namespace tav
