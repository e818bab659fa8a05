// The library's classes (one row each, sorted by name) and its entry points. Registering
// the library also writes the media-type registry entries (check bytes, extensions).
#include <iterator>

#include "platform/filters/decoders/avdecoderfilter.h"
#include "platform/filters/decoders/decoderids.h"
#include "platform/filters/filterids.h"
#include "platform/filters/mediatyperegistry.h"
#include "platform/filters/renderers/dsoundrenderer.h"
#include "platform/filters/renderers/nullrenderer.h"
#include "platform/filters/renderers/videorenderer.h"
#include "platform/filters/sources/asyncfilesource.h"
#include "platform/filters/sources/avsplitter.h"
#include "platform/filters/sources/inftee.h"
#include "platform/streaming/base/streams.h"

using namespace tav::filters;

namespace {

const CFactoryTemplate g_Templates[] = {
    {u"ACM Wrapper", &CLSID_ACMWrapper, CAvDecoderFilter::CreateAcmWrapper, nullptr, &sudAcmWrapper},
    {u"Audio Decoder", &CLSID_AvAudioDecoder, CAvDecoderFilter::CreateAudioDecoder, nullptr, &sudAudioDecoder},
    {u"AVI Decompressor", &CLSID_AVIDec, CAvDecoderFilter::CreateAviDecompressor, nullptr, &sudAviDecompressor},
    {u"AVI Splitter", &CLSID_AviSplitter, CreateAviSplitter, nullptr, &sudAviSplitter},
    {u"Color Space Converter", &CLSID_Colour, CAvDecoderFilter::CreateColourConverter, nullptr, &sudColourConverter},
    {u"DirectSound Audio Renderer", &CLSID_DSoundRender, CDSoundRenderer::CreateInstance, nullptr, &sudDSoundRenderer},
    {u"DMO Wrapper Filter", &CLSID_DMOWrapperFilter, CAvDecoderFilter::CreateDmoWrapper, nullptr, &sudDmoWrapper},
    {u"DV Splitter", &CLSID_DVSplitter, CreateDvSplitter, nullptr, &sudDvSplitter},
    {u"DV Video Decoder", &CLSID_DVVideoCodec, CAvDecoderFilter::CreateDvVideoDecoder, nullptr, &sudDvVideoDecoder},
    {u"File Source (Async)", &CLSID_AsyncReader, CAsyncFileSource::CreateInstance, nullptr, &sudAsyncReader},
    {u"Infinite Pin Tee Filter", &CLSID_InfTee, CInfTee::CreateInstance, nullptr, &sudInfTee},
    {u"Media File Source", &CLSID_AvFileSource, CreateAvFileSource, nullptr, &sudAvFileSource},
    {u"MPEG Audio Decoder", &CLSID_CMpegAudioCodec, CAvDecoderFilter::CreateMpegAudioDecoder, nullptr, &sudMpegAudioDecoder},
    {u"MPEG Layer-3 Decoder", &CLSID_MPEGLayer3Decoder, CAvDecoderFilter::CreateMp3Decoder, nullptr, &sudMp3Decoder},
    {u"MPEG Program Source", &CLSID_MpegProgramSource, CreateMpegProgramSource, nullptr, &sudMpegProgramSource},
    {u"MPEG-4 Source", &CLSID_Mpeg4FileSource, CreateMpeg4Source, nullptr, &sudMpeg4Source},
    {u"MPEG1 Splitter", &CLSID_MPEG1Splitter, CreateMpeg1Splitter, nullptr, &sudMpeg1Splitter},
    {u"MPEG1 Video Decoder", &CLSID_CMpegVideoCodec, CAvDecoderFilter::CreateMpeg1VideoDecoder, nullptr, &sudMpeg1VideoDecoder},
    {u"Null Renderer", &CLSID_NullRenderer, CNullRenderer::CreateInstance, nullptr, &sudNullRenderer},
    {u"Video Decoder", &CLSID_AvVideoDecoder, CAvDecoderFilter::CreateVideoDecoder, nullptr, &sudVideoDecoder},
    {u"Video Mixing Renderer", &CLSID_VideoMixingRenderer, CVideoRenderer::CreateVmr7, nullptr, &sudVmr7},
    {u"Video Mixing Renderer 9", &CLSID_VideoMixingRenderer9, CVideoRenderer::CreateVmr9, nullptr, &sudVmr9},
    {u"Video Renderer", &CLSID_VideoRenderer, CVideoRenderer::CreateVideoRenderer, nullptr, &sudVideoRenderer},
    {u"WM ASF Reader", &CLSID_WMAsfReader, CreateAsfReader, nullptr, &sudAsfReader},
};

}  // namespace

TAV_DLL_CLASS_OBJECT_ENTRY_POINTS(g_Templates, std::size(g_Templates))

TAV_DLL_EXPORT HRESULT DllRegisterServer() {
  HRESULT hr = AMovieDllRegisterServer2(g_Templates, int(std::size(g_Templates)), TRUE);
  if (FAILED(hr)) return hr;
  hr = RegisterDecoderObjects(true);
  if (FAILED(hr)) return hr;
  return SeedMediaTypeEntries();
}

TAV_DLL_EXPORT HRESULT DllUnregisterServer() {
  RemoveMediaTypeEntries();
  RegisterDecoderObjects(false);
  return AMovieDllRegisterServer2(g_Templates, int(std::size(g_Templates)), FALSE);
}
