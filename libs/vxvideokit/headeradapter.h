// "VXCMN Video Header Adapter": lets a decoder that offers only VIDEOINFOHEADER2 formats feed
// filters that take only VIDEOINFOHEADER. It passes samples through in place and rewrites the
// format blocks between the two forms: downstream sees VIDEOINFOHEADER, upstream is offered
// and reconnected with VIDEOINFOHEADER2. Interlaced input is refused (the pixels are not
// touched, so fields would show as combed frames).
#pragma once

#include "libs/vxvideokit/vxvideokit.h"
#include "platform/streaming/base/dllsetup.h"
#include "platform/streaming/base/transip.h"

// Format conversions (other format types pass unchanged).
CMediaType VideoInfo2ToVideoInfo(const CMediaType& mt);
CMediaType VideoInfoToVideoInfo2(const CMediaType& mt);

class CVideoHeaderAdapter final : public CTransInPlaceFilter {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

  // Pins "Input" and "Output" that offer the other side's types converted.
  CBasePin* GetPin(int n) override;
  // Video, FORMAT_VideoInfo or FORMAT_VideoInfo2, and the word at byte 48 zero (progressive
  // VIDEOINFOHEADER2; a VIDEOINFOHEADER has its biSize there and is refused). A connected
  // output must accept the type converted to VIDEOINFOHEADER.
  HRESULT CheckInputType(const CMediaType* mt) override;
  // The input passes, the output is video with FORMAT_VideoInfo, and a connected upstream pin
  // accepts the output converted to VIDEOINFOHEADER2.
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override;
  HRESULT CompleteConnect(PIN_DIRECTION dir, IPin* receivePin) override;
  // A type change on the sample is passed on in its VIDEOINFOHEADER form.
  HRESULT Transform(IMediaSample* sample) override;

 private:
  CVideoHeaderAdapter(LPUNKNOWN outer, HRESULT* phr);
  friend class CHeaderAdapterInputPin;
  friend class CHeaderAdapterOutputPin;
};

extern const AMOVIESETUP_FILTER sudVideoHeaderAdapter;
