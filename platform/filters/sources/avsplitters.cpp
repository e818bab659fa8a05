// The splitters and sources built on CAvSplitter: their kinds and registration.
#include <iterator>

#include "platform/filters/filterids.h"
#include "platform/filters/sources/avsplitter.h"

namespace tav::filters {
namespace {

const GUID* const kAviInputs[] = {&MEDIASUBTYPE_Avi, nullptr};
const GUID* const kMpeg1Inputs[] = {&MEDIASUBTYPE_MPEG1System, &MEDIASUBTYPE_MPEG1VideoCD, &MEDIASUBTYPE_MPEG1Video,
                                    &MEDIASUBTYPE_MPEG1Audio, nullptr};
const GUID* const kDvInputs[] = {&MEDIASUBTYPE_dvsd, nullptr};

const SplitterKind kAviSplitter = {&CLSID_AviSplitter, u"AVI Splitter", "avi", true, false, true, kAviInputs};
// libavformat's MPEG-PS demuxer takes system streams; elementary streams are probed.
const SplitterKind kMpeg1Splitter = {&CLSID_MPEG1Splitter, u"MPEG1 Splitter", nullptr, true, true, false,
                                     kMpeg1Inputs};
const SplitterKind kDvSplitter = {&CLSID_DVSplitter, u"DV Splitter", "dv", true, false, false, kDvInputs};
const SplitterKind kAsfReader = {&CLSID_WMAsfReader, u"WM ASF Reader", "asf", false, false, false, nullptr};
const SplitterKind kMpeg4Source = {&CLSID_Mpeg4FileSource, u"MPEG-4 Source", "mov", false, false, false, nullptr};
// Probed: a transport stream named .mts may as well be a program stream.
const SplitterKind kAvFileSource = {&CLSID_AvFileSource, u"Media File Source", nullptr, false, false, false, nullptr};
const SplitterKind kMpegProgramSource = {&CLSID_MpegProgramSource, u"MPEG Program Source", "mpeg", false, false,
                                         false, nullptr};

CUnknown* Make(const SplitterKind& kind, LPUNKNOWN outer, HRESULT* phr) {
  auto* f = new (std::nothrow) CAvSplitter(kind, outer, phr);
  if (!f && phr) *phr = E_OUTOFMEMORY;
  return f;
}

// Filter data: splitters take a stream on their input and give video and audio.
const AMOVIESETUP_MEDIATYPE kStreamTypes[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_Avi}};
const AMOVIESETUP_MEDIATYPE kMpeg1Types[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG1System},
                                             {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG1VideoCD},
                                             {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG1Video},
                                             {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG1Audio}};
const AMOVIESETUP_MEDIATYPE kDvTypes[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_dvsd}};
const AMOVIESETUP_MEDIATYPE kOutputTypes[] = {{&MEDIATYPE_Video, &GUID_NULL}, {&MEDIATYPE_Audio, &GUID_NULL}};

const AMOVIESETUP_PIN kAviPins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kStreamTypes},
    {u"Output", FALSE, TRUE, TRUE, TRUE, &CLSID_NULL, nullptr, 2, kOutputTypes},
};
const AMOVIESETUP_PIN kMpeg1Pins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 4, kMpeg1Types},
    {u"Output", FALSE, TRUE, TRUE, TRUE, &CLSID_NULL, nullptr, 2, kOutputTypes},
};
const AMOVIESETUP_PIN kDvPins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kDvTypes},
    {u"Output", FALSE, TRUE, TRUE, TRUE, &CLSID_NULL, nullptr, 2, kOutputTypes},
};
const AMOVIESETUP_PIN kSourcePins[] = {
    {u"Output", FALSE, TRUE, TRUE, TRUE, &CLSID_NULL, nullptr, 2, kOutputTypes},
};

}  // namespace

CUnknown* CreateAviSplitter(LPUNKNOWN outer, HRESULT* phr) { return Make(kAviSplitter, outer, phr); }
CUnknown* CreateMpeg1Splitter(LPUNKNOWN outer, HRESULT* phr) { return Make(kMpeg1Splitter, outer, phr); }
CUnknown* CreateDvSplitter(LPUNKNOWN outer, HRESULT* phr) { return Make(kDvSplitter, outer, phr); }
CUnknown* CreateAsfReader(LPUNKNOWN outer, HRESULT* phr) { return Make(kAsfReader, outer, phr); }
CUnknown* CreateMpeg4Source(LPUNKNOWN outer, HRESULT* phr) { return Make(kMpeg4Source, outer, phr); }
CUnknown* CreateMpegProgramSource(LPUNKNOWN outer, HRESULT* phr) { return Make(kMpegProgramSource, outer, phr); }
CUnknown* CreateAvFileSource(LPUNKNOWN outer, HRESULT* phr) { return Make(kAvFileSource, outer, phr); }

const AMOVIESETUP_FILTER sudAviSplitter = {&CLSID_AviSplitter, u"AVI Splitter", MERIT_NORMAL, 2, kAviPins};
const AMOVIESETUP_FILTER sudMpeg1Splitter = {&CLSID_MPEG1Splitter, u"MPEG1 Splitter", MERIT_NORMAL, 2, kMpeg1Pins};
const AMOVIESETUP_FILTER sudDvSplitter = {&CLSID_DVSplitter, u"DV Splitter", MERIT_NORMAL, 2, kDvPins};
const AMOVIESETUP_FILTER sudAsfReader = {&CLSID_WMAsfReader, u"WM ASF Reader", MERIT_UNLIKELY, 1, kSourcePins};
const AMOVIESETUP_FILTER sudMpeg4Source = {&CLSID_Mpeg4FileSource, u"MPEG-4 Source", MERIT_UNLIKELY, 1, kSourcePins};
const AMOVIESETUP_FILTER sudAvFileSource = {&CLSID_AvFileSource, u"Media File Source", MERIT_UNLIKELY, 1, kSourcePins};
const AMOVIESETUP_FILTER sudMpegProgramSource = {&CLSID_MpegProgramSource, u"MPEG Program Source", MERIT_UNLIKELY, 1,
                                                 kSourcePins};

}  // namespace tav::filters
