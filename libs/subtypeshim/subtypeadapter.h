// "VXCMN Subtype Adapter Filter": sits between a splitter and the platform's MP43 decoder and
// relabels video of the MPEG-4 version 3 family (DIV3, DIV4, AP41, COL1, ...) as MP43. The
// samples pass through untouched, in place; only the media types change. The input is
// offered the downstream pin's MP43 types relabelled to every family code, the output the
// upstream pin's types relabelled to MP43, and a connection on one side reconnects the other
// with the matching relabelled type.
#pragma once

#include "libs/subtypeshim/subtypeshim.h"
#include "platform/streaming/base/dllsetup.h"
#include "platform/streaming/base/transip.h"

class CSubtypeAdapter final : public CTransInPlaceFilter {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

  // Pins "Input" and "Output" with the proxied, relabelled type lists.
  CBasePin* GetPin(int n) override;

  // Video with one of the family's sixteen codes.
  HRESULT CheckInputType(const CMediaType* mt) override;
  // Any pair: the output's type is checked by the upstream pin when the input reconnects.
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override;
  HRESULT CompleteConnect(PIN_DIRECTION dir, IPin* receivePin) override;
  // The compressed bits are passed on as they came.
  HRESULT Transform(IMediaSample* sample) override;

 private:
  CSubtypeAdapter(LPUNKNOWN outer, HRESULT* phr);
};

extern const AMOVIESETUP_FILTER sudSubtypeAdapter;
