#include "platform/filters/tests/support_pfdec.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

#include "tests/support/testenv.h"

namespace filtertest {

namespace {
void* Library() {
  static void* m = dlopen(tavtest::LibraryPath("tavrionfilters").c_str(), RTLD_NOW);
  return m;
}
}  // namespace

HRESULT CreateFilter(REFCLSID clsid, IBaseFilter** filter) {
  auto get = reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(dlsym(Library(), "DllGetClassObject"));
  if (!get) return E_FAIL;
  ComPtr<IClassFactory> factory;
  HRESULT hr = get(clsid, IID_IClassFactory, factory.AsVoidOut());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
}

HRESULT LibraryCanUnloadNow() {
  auto fn = reinterpret_cast<HRESULT (*)()>(dlsym(Library(), "DllCanUnloadNow"));
  return fn ? fn() : E_FAIL;
}

std::string MakeMovie(const std::string& name, const std::string& args) {
  const std::string path = tavtest::TempDir() + "/" + name;
  tavtest::Run("ffmpeg -nostdin -loglevel error -y " + args + " '" + path + "'");
  return path;
}

bool ReadStream(const std::string& path, bool video, CMediaType* mt, std::vector<Packet>* packets) {
  AVFormatContext* fc = nullptr;
  if (avformat_open_input(&fc, path.c_str(), nullptr, nullptr) < 0) return false;
  avformat_find_stream_info(fc, nullptr);
  const int index = av_find_best_stream(fc, video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index < 0) {
    avformat_close_input(&fc);
    return false;
  }
  AVStream* st = fc->streams[index];
  AVCodecParameters* par = st->codecpar;
  mt->InitMediaType();
  if (video) {
    mt->SetType(&MEDIATYPE_Video);
    const GUID sub = FourccSubtype(par->codec_tag);
    mt->SetSubtype(&sub);
    mt->SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER) + par->extradata_size));
    vih->AvgTimePerFrame = st->avg_frame_rate.num ? REFERENCE_TIME(1e7 * st->avg_frame_rate.den / st->avg_frame_rate.num) : 0;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER) + par->extradata_size;
    vih->bmiHeader.biWidth = par->width;
    vih->bmiHeader.biHeight = par->height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = WORD(par->bits_per_coded_sample ? par->bits_per_coded_sample : 24);
    vih->bmiHeader.biCompression = par->codec_tag;
    if (par->extradata_size) std::memcpy(vih + 1, par->extradata, size_t(par->extradata_size));
  } else {
    mt->SetType(&MEDIATYPE_Audio);
    const GUID sub = FourccSubtype(par->codec_tag);
    mt->SetSubtype(&sub);
    mt->SetFormatType(&FORMAT_WaveFormatEx);
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt->AllocFormatBuffer(sizeof(WAVEFORMATEX) + par->extradata_size));
    wfx->wFormatTag = WORD(par->codec_tag);
    wfx->nChannels = WORD(par->ch_layout.nb_channels);
    wfx->nSamplesPerSec = DWORD(par->sample_rate);
    wfx->nBlockAlign = WORD(par->block_align ? par->block_align : 1);
    wfx->nAvgBytesPerSec = DWORD(par->bit_rate / 8);
    wfx->wBitsPerSample = WORD(par->bits_per_coded_sample);
    wfx->cbSize = WORD(par->extradata_size);
    if (par->extradata_size) std::memcpy(wfx + 1, par->extradata, size_t(par->extradata_size));
  }
  AVPacket* pkt = av_packet_alloc();
  while (av_read_frame(fc, pkt) >= 0) {
    if (pkt->stream_index == index) {
      Packet p;
      p.data.assign(pkt->data, pkt->data + pkt->size);
      const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
      if (ts != AV_NOPTS_VALUE) {
        p.timed = true;
        p.start = av_rescale_q(ts, st->time_base, AVRational{1, 10000000});
        p.stop = p.start + av_rescale_q(pkt->duration, st->time_base, AVRational{1, 10000000});
      }
      p.key = pkt->flags & AV_PKT_FLAG_KEY;
      packets->push_back(std::move(p));
    }
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  avformat_close_input(&fc);
  return true;
}

PushPin::PushPin(CBaseFilter* f, CCritSec* lock, HRESULT* phr, const CMediaType& mt)
    : CBaseOutputPin("push pin", f, lock, phr, u"Out"), type_(mt) {}
HRESULT PushPin::CheckMediaType(const CMediaType* mt) { return *mt == type_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
HRESULT PushPin::GetMediaType(int position, CMediaType* mt) {
  if (position != 0) return VFW_S_NO_MORE_ITEMS;
  *mt = type_;
  return S_OK;
}
HRESULT PushPin::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) {
  props->cBuffers = std::max<LONG>(props->cBuffers, 2);
  props->cbBuffer = std::max<LONG>(props->cbBuffer, 4 << 20);
  ALLOCATOR_PROPERTIES actual;
  return alloc->SetProperties(props, &actual);
}
HRESULT PushPin::Push(const Packet& p, bool discontinuity) {
  IMediaSample* s = nullptr;
  HRESULT hr = GetDeliveryBuffer(&s, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  ComPtr<IMediaSample> hold;
  hold.Attach(s);
  BYTE* d = nullptr;
  s->GetPointer(&d);
  if (long(p.data.size()) > s->GetSize()) return E_FAIL;
  std::memcpy(d, p.data.data(), p.data.size());
  s->SetActualDataLength(long(p.data.size()));
  REFERENCE_TIME a = p.start, b = p.stop;
  if (p.timed) s->SetTime(&a, &b);
  s->SetSyncPoint(p.key);
  s->SetDiscontinuity(discontinuity);
  return Deliver(s);
}

PushSource::PushSource(const CMediaType& mt)
    : CBaseFilter("push source", nullptr, &lock_, GUID_NULL), pin_(this, &lock_, &hr_, mt) {}

CollectPin::CollectPin(CollectSink* f, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin("collect pin", f, lock, phr, u"In"), sink_(f) {}
HRESULT CollectPin::CheckMediaType(const CMediaType* mt) {
  return sink_->subtype == GUID_NULL || *mt->Subtype() == sink_->subtype ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}
STDMETHODIMP CollectPin::Receive(IMediaSample* s) {
  HRESULT hr = CBaseInputPin::Receive(s);
  if (hr != S_OK) return hr;
  Received r;
  BYTE* d = nullptr;
  s->GetPointer(&d);
  r.data.assign(d, d + s->GetActualDataLength());
  r.buffer = d;
  s->GetTime(&r.start, &r.stop);
  r.discontinuity = s->IsDiscontinuity() == S_OK;
  sink_->samples.push_back(std::move(r));
  return S_OK;
}
STDMETHODIMP CollectPin::EndOfStream() {
  sink_->ended = true;
  return S_OK;
}

CollectSink::CollectSink(const GUID& st)
    : CBaseFilter("collect sink", nullptr, &lock_, GUID_NULL), subtype(st), pin_(this, &lock_, &hr_) {}

ComPtr<IPin> FindPin(IBaseFilter* f, PIN_DIRECTION dir, int index) {
  ComPtr<IEnumPins> e;
  f->EnumPins(&e);
  ComPtr<IPin> p;
  while (e && e->Next(1, &p, nullptr) == S_OK) {
    PIN_DIRECTION d;
    p->QueryDirection(&d);
    if (d == dir && index-- == 0) return p;
  }
  return nullptr;
}

HRESULT PushAll(PushSource* src, const std::vector<IBaseFilter*>& filters, const std::vector<Packet>& packets) {
  for (auto it = filters.rbegin(); it != filters.rend(); ++it) {
    HRESULT hr = (*it)->Pause();
    if (FAILED(hr)) return hr;
  }
  src->Pause();
  HRESULT hr = S_OK;
  bool first = true;
  for (const Packet& p : packets) {
    hr = src->Pin()->Push(p, first);
    first = false;
    if (FAILED(hr)) break;
  }
  src->Pin()->DeliverEndOfStream();
  src->Stop();
  for (IBaseFilter* f : filters) f->Stop();
  return hr;
}

}  // namespace filtertest
