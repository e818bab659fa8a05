// CAvSplitter: state, the input pin, the output pins, negotiation, streaming, seeking.
#include "platform/filters/sources/avsplitter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "media/contract/codepage.h"
#include "media/contract/trace.h"

namespace tav::filters {
namespace {
TAV_TRACE_SOURCE(kFilters, "splitter");

constexpr LONG kVideoBuffers = 4;
constexpr LONG kOtherBuffers = 16;
constexpr DWORD kSeekableCaps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                                AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetStopPos |
                                AM_SEEKING_CanGetDuration;

LONGLONG NewPosition(LONGLONG base, LONGLONG value, DWORD flags) {
  switch (flags & AM_SEEKING_PositioningBitsMask) {
    case AM_SEEKING_AbsolutePositioning: return value;
    case AM_SEEKING_RelativePositioning:
    case AM_SEEKING_IncrementalPositioning: return base + value;
    default: return base;
  }
}
}  // namespace

// ---- input pin ------------------------------------------------------------------------------

CAvInputPin::CAvInputPin(CAvSplitter* filter, CCritSec* lock, HRESULT* phr)
    : CBasePin("splitter input", filter, lock, phr, u"Input", PINDIR_INPUT), splitter_(filter) {}

HRESULT CAvInputPin::CheckConnect(IPin* pin) {
  PIN_DIRECTION dir;
  if (FAILED(pin->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
  ComPtr<IAsyncReader> reader;
  if (FAILED(pin->QueryInterface(IID_IAsyncReader, reader.AsVoidOut()))) return VFW_E_NO_TRANSPORT;
  return CBasePin::CheckConnect(pin);
}

HRESULT CAvInputPin::CheckMediaType(const CMediaType* mt) {
  if (mt->majortype != MEDIATYPE_Stream) return S_FALSE;
  if (mt->subtype == GUID_NULL) return S_OK;  // unknown bytes: opening decides
  for (const GUID* const* s = splitter_->Kind().inputSubtypes; s && *s; ++s)
    if (**s == mt->subtype) return S_OK;
  return S_FALSE;
}

HRESULT CAvInputPin::CompleteConnect(IPin* receivePin) {
  ComPtr<IAsyncReader> reader;
  HRESULT hr = receivePin->QueryInterface(IID_IAsyncReader, reader.AsVoidOut());
  if (FAILED(hr)) return VFW_E_NO_TRANSPORT;
  hr = splitter_->OpenLocked(std::make_unique<AsyncReaderByteSource>(reader.Get()), m_mt.subtype);
  TAV_TRACE("input connected: %#x", static_cast<unsigned>(hr));
  return hr;
}

HRESULT CAvInputPin::BreakConnect() {
  splitter_->CloseLocked();
  return CBasePin::BreakConnect();
}

// ---- output pins ----------------------------------------------------------------------------

CAvOutputPin::CAvOutputPin(CAvSplitter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name, int stream,
                           const CMediaType& mt)
    : CBaseOutputPin("splitter output", filter, lock, phr, name), splitter_(filter), stream_(stream), type_(mt) {}

STDMETHODIMP CAvOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CAvOutputPin::CheckMediaType(const CMediaType* mt) {
  return mt->majortype == type_.majortype && mt->subtype == type_.subtype && mt->formattype == type_.formattype
             ? S_OK
             : S_FALSE;
}

HRESULT CAvOutputPin::GetMediaType(int position, CMediaType* mt) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  *mt = type_;
  return S_OK;
}

HRESULT CAvOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  const bool video = type_.majortype == MEDIATYPE_Video;
  request->cBuffers = std::max(request->cBuffers, video ? kVideoBuffers : kOtherBuffers);
  LONG size = LONG(type_.GetSampleSize());
  if (video && type_.formattype == FORMAT_VideoInfo && type_.FormatLength() >= sizeof(VIDEOINFOHEADER)) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type_.Format());
    size = std::max<LONG>(size, LONG(std::max<int64_t>(
                                    int64_t(std::abs(vih->bmiHeader.biWidth)) * std::abs(vih->bmiHeader.biHeight) * 4 +
                                        65536,
                                    256 * 1024)));
  }
  request->cbBuffer = std::max(request->cbBuffer, std::max(size, LONG(video ? 1024 * 1024 : 256 * 1024)));
  if (request->cbAlign <= 0) request->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}

STDMETHODIMP CAvOutputPin::GetCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  *capabilities = splitter_->Capabilities();
  return S_OK;
}
STDMETHODIMP CAvOutputPin::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  splitter_->GetPositions(nullptr, nullptr, duration);
  return S_OK;
}
STDMETHODIMP CAvOutputPin::GetStopPosition(LONGLONG* stop) {
  if (!stop) return E_POINTER;
  splitter_->GetPositions(nullptr, stop, nullptr);
  return S_OK;
}
// The splitter does not know what has been presented; the graph asks its renderers.
STDMETHODIMP CAvOutputPin::GetCurrentPosition(LONGLONG* current) { return current ? E_NOTIMPL : E_POINTER; }
STDMETHODIMP CAvOutputPin::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  return splitter_->SetPositions(current, currentFlags, stop, stopFlags);
}
STDMETHODIMP CAvOutputPin::GetPositions(LONGLONG* current, LONGLONG* stop) {
  splitter_->GetPositions(current, stop, nullptr);
  return S_OK;
}
STDMETHODIMP CAvOutputPin::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  if (earliest) *earliest = 0;
  if (latest) splitter_->GetPositions(nullptr, nullptr, latest);
  return S_OK;
}
STDMETHODIMP CAvOutputPin::SetRate(double rate) { return rate == 1.0 ? S_OK : E_NOTIMPL; }
STDMETHODIMP CAvOutputPin::GetRate(double* rate) {
  if (!rate) return E_POINTER;
  *rate = 1.0;
  return S_OK;
}

// ---- the filter -----------------------------------------------------------------------------

CAvSplitter::CAvSplitter(const SplitterKind& kind, LPUNKNOWN outer, HRESULT* phr)
    : CBaseFilter("splitter", outer, &lock_, *kind.clsid, phr), kind_(kind) {
  if (kind.pull) {
    input_.reset(new (std::nothrow) CAvInputPin(this, &lock_, phr));
    if (!input_ && phr) *phr = E_OUTOFMEMORY;
  }
}

CAvSplitter::~CAvSplitter() {
  {
    CAutoLock seek(&seekLock_);
    StopStreaming(false);
  }
  CAutoLock lock(&lock_);
  CloseLocked();
  input_.reset();
}

STDMETHODIMP CAvSplitter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IFileSourceFilter && !kind_.pull) return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
  if (riid == IID_IPropertyBag) return GetInterface(static_cast<IPropertyBag*>(this), ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

int CAvSplitter::GetPinCount() {
  CAutoLock lock(&lock_);
  return (input_ ? 1 : 0) + int(outputs_.size());
}

CBasePin* CAvSplitter::GetPin(int n) {
  CAutoLock lock(&lock_);
  if (n < 0) return nullptr;
  if (input_) {
    if (n == 0) return input_.get();
    --n;
  }
  return n < int(outputs_.size()) ? outputs_[size_t(n)] : nullptr;
}

HRESULT CAvSplitter::OpenLocked(std::unique_ptr<ByteSource> source, const GUID& subtype) {
  CloseLocked();
  const char* format = kind_.format;
  if (kind_.mpegTypes) {
    // The MPEG-1 splitter takes system streams and elementary video and audio.
    if (subtype == MEDIASUBTYPE_MPEG1Video) format = "mpegvideo";
    else if (subtype == MEDIASUBTYPE_MPEG1Audio) format = "mp3";
    else if (subtype != GUID_NULL) format = "mpeg";
  }
  auto demuxer = std::make_unique<AvDemuxer>();
  HRESULT hr = demuxer->Open(source.get(), format);
  if (FAILED(hr)) return hr;
  int video = 0, audio = 0, subtitle = 0, data = 0;
  int covers = 0;
  for (int i = 0; i < demuxer->StreamCount(); ++i) {
    const AVStream* stream = demuxer->Stream(i);
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && (stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
      ++covers;
    CMediaType mt;
    if (FAILED(MediaTypeForStream(demuxer->Stream(i), kind_.mpegTypes, &mt))) continue;
    char name[32];
    auto label = [&name](const char* base, int* count) {
      if (++*count == 1)
        std::snprintf(name, sizeof name, "%s", base);
      else
        std::snprintf(name, sizeof name, "%s %d", base, *count);
    };
    if (kind_.streamPinNames)
      std::snprintf(name, sizeof name, "Stream %02d", i);
    else if (mt.majortype == MEDIATYPE_Video)
      label("Video", &video);
    else if (mt.majortype == MEDIATYPE_Audio)
      label("Audio", &audio);
    else if (mt.majortype == MEDIATYPE_Text)
      label("Subtitle", &subtitle);
    else
      label("Data", &data);
    HRESULT phr = S_OK;
    std::u16string wide = tav::Utf8ToUtf16(name);
    auto* pin = new (std::nothrow) CAvOutputPin(this, &lock_, &phr, wide.c_str(), i, mt);
    if (!pin) {
      CloseLocked();
      return E_OUTOFMEMORY;
    }
    outputs_.push_back(pin);
  }
  if (outputs_.empty()) return VFW_E_INVALID_FILE_FORMAT;
  source_ = std::move(source);
  demuxer_ = std::move(demuxer);
  coverPictures_ = covers;
  CAutoLock positions(&positionLock_);
  duration_ = demuxer_->Duration();
  start_ = seekTarget_ = 0;
  stopSet_ = false;
  stop_ = duration_ > 0 ? duration_ : MAX_TIME;
  IncrementPinVersion();
  return S_OK;
}

void CAvSplitter::CloseLocked() {
  for (CAvOutputPin* pin : outputs_) {
    if (IPin* peer = pin->GetConnected()) {
      peer->Disconnect();
      pin->DisconnectInternal();
    }
    // Callers may still hold the pin (it counts on the filter): it goes with the filter.
    retired_.emplace_back(pin);
  }
  if (!outputs_.empty()) IncrementPinVersion();
  outputs_.clear();
  demuxer_.reset();
  source_.reset();
  coverPictures_ = 0;
}

STDMETHODIMP CAvSplitter::Read(LPCOLESTR name, VARIANT* var, IErrorLog*) {
  if (!name || !var) return E_POINTER;
  if (std::u16string_view(name) != u"CoverPictures") return E_INVALIDARG;
  CAutoLock lock(&lock_);
  VariantInit(var);
  var->vt = VT_I4;
  var->lVal = coverPictures_;
  return S_OK;
}

STDMETHODIMP CAvSplitter::Write(LPCOLESTR, VARIANT*) { return E_NOTIMPL; }

STDMETHODIMP CAvSplitter::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE*) {
  if (!fileName) return E_POINTER;
  CAutoLock lock(&lock_);
  if (!IsStopped()) return VFW_E_WRONG_STATE;
  auto file = std::make_unique<FileByteSource>();
  HRESULT hr = file->Open(tav::Utf16ToUtf8(fileName));
  if (SUCCEEDED(hr)) hr = OpenLocked(std::move(file), GUID_NULL);
  TAV_TRACE("Load %s: %#x", tav::Utf16ToUtf8(fileName).c_str(), static_cast<unsigned>(hr));
  if (FAILED(hr)) return hr;
  fileName_ = fileName;
  return S_OK;
}

STDMETHODIMP CAvSplitter::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) {
  if (!fileName) return E_POINTER;
  CAutoLock lock(&lock_);
  *fileName = nullptr;
  if (!fileName_.empty()) {
    HRESULT hr = AMGetWideString(fileName_.c_str(), fileName);
    if (FAILED(hr)) return hr;
  }
  if (mt) {
    CMediaType stream(&MEDIATYPE_Stream);
    return CopyMediaType(mt, &stream);
  }
  return S_OK;
}

// ---- state ----------------------------------------------------------------------------------

STDMETHODIMP CAvSplitter::Pause() {
  CAutoLock seek(&seekLock_);
  const bool wasStopped = IsStopped();
  HRESULT hr = CBaseFilter::Pause();
  if (FAILED(hr) || !wasStopped) return hr;
  HRESULT start = StartStreaming();
  return FAILED(start) ? start : hr;
}

STDMETHODIMP CAvSplitter::Stop() {
  CAutoLock seek(&seekLock_);
  // The thread stops at its next packet; stopping the pins decommits their allocators,
  // which releases a thread waiting for a buffer.
  stopRequested_ = true;
  HRESULT hr = CBaseFilter::Stop();
  StopStreaming(false);
  return hr;
}

HRESULT CAvSplitter::StartStreaming() {
  if (thread_.joinable()) return S_OK;
  {
    CAutoLock lock(&lock_);
    if (!demuxer_) return S_OK;  // nothing connected: nothing to stream
    REFERENCE_TIME target;
    {
      CAutoLock positions(&positionLock_);
      target = seekTarget_;
    }
    // The key frame search reads the video stream, wanted or not.
    for (int i = 0; i < demuxer_->StreamCount(); ++i) demuxer_->SetStreamWanted(i, true);
    // The demuxer may land past the key frame that rules the target: position it so that
    // the key frame at or before the target is read, and drop the video ahead of it.
    REFERENCE_TIME keyFrame = AvDemuxer::kNoKeyFrame;
    if (target > 0)
      demuxer_->SeekToKeyFrame(target, &keyFrame);
    else
      demuxer_->Seek(target);
    // A stream no pin delivers is skipped in the file: a conversion opens the source twice,
    // once for the picture and once for the sound, and neither reader then reads the
    // other's packets.
    for (int i = 0; i < demuxer_->StreamCount(); ++i) {
      bool wanted = false;
      for (CAvOutputPin* pin : outputs_) wanted = wanted || (pin->IsConnected() && pin->StreamIndex() == i);
      demuxer_->SetStreamWanted(i, wanted);
    }
    const int video = demuxer_->VideoStream();
    for (CAvOutputPin* pin : outputs_) {
      pin->discontinuity = true;
      pin->ended = false;
      pin->waitKeyFrame = pin->StreamIndex() == video ? keyFrame : AvDemuxer::kNoKeyFrame;
    }
  }
  stopRequested_ = false;
  try {
    CAutoLock lock(&lock_);
    for (CAvOutputPin* pin : outputs_) {
      if (!pin->IsConnected()) continue;
      auto d = std::make_unique<PinDelivery>();
      d->pin = pin;
      d->thread = std::thread([this, raw = d.get()] { DeliveryThread(raw); });
      deliveries_.push_back(std::move(d));
    }
    thread_ = std::thread([this] { StreamingThread(); });
  } catch (...) {
    StopStreaming(false);
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void CAvSplitter::StopStreaming(bool flush) {
  stopRequested_ = true;
  std::vector<CAvOutputPin*> pins;
  {
    CAutoLock lock(&lock_);
    for (CAvOutputPin* pin : outputs_)
      if (pin->IsConnected()) pins.push_back(pin);
  }
  // Queued packets are dropped; a reading thread waiting for room and a delivery thread
  // waiting for packets wake up and end.
  for (auto& d : deliveries_) {
    std::lock_guard<std::mutex> g(d->lock);
    d->quit = true;
    d->items.clear();
    d->bytes = 0;
    d->roomFreed.notify_all();
    d->itemQueued.notify_all();
  }
  const bool running = thread_.joinable() || !deliveries_.empty();
  // A flush releases a delivery blocked downstream.
  if (flush && running)
    for (CAvOutputPin* pin : pins) pin->DeliverBeginFlush();
  if (thread_.joinable()) thread_.join();
  for (auto& d : deliveries_)
    if (d->thread.joinable()) d->thread.join();
  deliveries_.clear();
  if (flush)
    for (CAvOutputPin* pin : pins) pin->DeliverEndFlush();
  stopRequested_ = false;
}

namespace {
// Enough for seconds of interleaving between the streams, in packets and in bytes.
constexpr size_t kMaxQueuedPackets = 512;
constexpr size_t kMaxQueuedBytes = 32u << 20;
}  // namespace

bool CAvSplitter::Queue(PinDelivery& d, PinDelivery::Item item) {
  std::unique_lock<std::mutex> g(d.lock);
  if (d.items.size() >= kMaxQueuedPackets || d.bytes >= kMaxQueuedBytes) {
    // Full: wait until half of it is delivered, so that the two threads meet once for every
    // few hundred packets rather than once a packet.
    d.readerWaiting = true;
    d.roomFreed.wait(g, [&] {
      return d.quit || stopRequested_ || (d.items.size() <= kMaxQueuedPackets / 2 && d.bytes <= kMaxQueuedBytes / 2);
    });
    d.readerWaiting = false;
  }
  if (d.quit || stopRequested_) return false;
  if (item.packet) d.bytes += size_t(item.packet->size);
  d.items.push_back(std::move(item));
  const bool wake = d.deliveryWaiting;
  g.unlock();
  // Notified after unlocking, so the delivery thread does not wake into a held lock.
  if (wake) d.itemQueued.notify_one();
  return true;
}

void CAvSplitter::DeliveryThread(PinDelivery* d) {
  for (;;) {
    PinDelivery::Item item;
    {
      std::unique_lock<std::mutex> g(d->lock);
      if (!d->quit && d->items.empty()) {
        d->deliveryWaiting = true;
        d->itemQueued.wait(g, [&] { return d->quit || !d->items.empty(); });
        d->deliveryWaiting = false;
      }
      if (d->quit) return;
      item = std::move(d->items.front());
      d->items.pop_front();
      if (item.packet) d->bytes -= size_t(item.packet->size);
      const bool wake =
          d->readerWaiting && d->items.size() <= kMaxQueuedPackets / 2 && d->bytes <= kMaxQueuedBytes / 2;
      g.unlock();
      if (wake) d->roomFreed.notify_one();
    }
    switch (item.kind) {
      case PinDelivery::Item::Segment:
        d->pin->DeliverNewSegment(item.start, item.stop, 1.0);
        break;
      case PinDelivery::Item::End:
        d->pin->DeliverEndOfStream();
        return;
      case PinDelivery::Item::Packet:
        // A pin whose peer refuses more (stopped, flushing, failed) takes no more samples.
        if (!d->pin->ended && DeliverPacket(d->pin, item.packet.get()) != S_OK) d->pin->ended = true;
        break;
    }
  }
}

// ---- streaming ------------------------------------------------------------------------------

// The streaming thread reads outputs_ and demuxer_, which lock_ guards, without taking
// lock_ (and the delivery threads read demuxer_ in DeliverPacket): they change only in
// OpenLocked and CloseLocked, which run while the filter is stopped (Load and the input
// connection refuse otherwise), and the threads exist only between StartStreaming and the
// joins in StopStreaming (Stop, and every seek, end them first). Starting and joining the
// threads order their reads after and before those writes. deliveries_ (seekLock_) is
// read the same way: it is filled before the threads start and cleared after the joins.
void CAvSplitter::StreamingThread() {
  std::vector<PinDelivery*> byStream(size_t(demuxer_->StreamCount()), nullptr);
  for (auto& d : deliveries_) byStream[size_t(d->pin->StreamIndex())] = d.get();
  REFERENCE_TIME start, stop;
  {
    CAutoLock positions(&positionLock_);
    start = start_;
    // Without a stop set the segment runs to the end of the file, whatever the duration
    // the container announced.
    stop = stopSet_ ? stop_ : MAX_TIME;
  }
  for (auto& d : deliveries_) {
    PinDelivery::Item segment;
    segment.kind = PinDelivery::Item::Segment;
    segment.start = start;
    segment.stop = stop;
    if (!Queue(*d, std::move(segment))) return;
  }

  AvPacketPtr packet(av_packet_alloc());
  HRESULT hr = packet ? S_OK : E_OUTOFMEMORY;
  auto allEnded = [&] {
    for (auto& d : deliveries_)
      if (!d->pin->ended) return false;
    return true;
  };
  // Each stream's times pass a guard that takes the damaged ones out.
  std::vector<TimeSpikeGuard> guards(byStream.size());
  std::vector<AvPacketPtr> ready;
  auto queueReady = [&](PinDelivery* d) {
    for (AvPacketPtr& p : ready) {
      PinDelivery::Item item;
      item.packet = std::move(p);
      if (!Queue(*d, std::move(item))) return false;
    }
    ready.clear();
    return true;
  };
  while (SUCCEEDED(hr) && !stopRequested_ && !allEnded()) {
    hr = demuxer_->ReadPacket(packet.get());
    if (hr != S_OK) break;
    const int index = packet->stream_index;
    PinDelivery* d = index < int(byStream.size()) ? byStream[size_t(index)] : nullptr;
    if (d && !d->pin->ended) {
      AvPacketPtr owned(av_packet_alloc());
      if (!owned) {
        hr = E_OUTOFMEMORY;
        break;
      }
      av_packet_move_ref(owned.get(), packet.get());
      REFERENCE_TIME pts = TimeSpikeGuard::kNoTime, dts = TimeSpikeGuard::kNoTime;
      if (!demuxer_->ToReferenceTime(index, owned->pts, &pts)) pts = TimeSpikeGuard::kNoTime;
      if (!demuxer_->ToReferenceTime(index, owned->dts, &dts)) dts = TimeSpikeGuard::kNoTime;
      guards[size_t(index)].Push(std::move(owned), pts, dts, &ready);
      if (!queueReady(d)) return;
    }
    av_packet_unref(packet.get());
  }
  if (stopRequested_) return;
  for (size_t i = 0; i < guards.size(); ++i) {
    if (!byStream[i]) continue;
    guards[i].Finish(&ready);
    if (!queueReady(byStream[i])) return;
  }
  if (FAILED(hr)) {
    TAV_TRACE("streaming failed: %#x", static_cast<unsigned>(hr));
    NotifyEvent(EC_ERRORABORT, hr, 0);
  }
  for (auto& d : deliveries_) {
    PinDelivery::Item end;
    end.kind = PinDelivery::Item::End;
    if (!Queue(*d, std::move(end))) return;
  }
}

HRESULT CAvSplitter::DeliverPacket(CAvOutputPin* pin, AVPacket* packet) {
  const int index = packet->stream_index;
  REFERENCE_TIME time = 0, segmentStart, stop;
  {
    CAutoLock positions(&positionLock_);
    segmentStart = start_;
    stop = stopSet_ ? stop_ : MAX_TIME;
  }
  // A time far outside the file is damage: the packet goes on without it.
  const bool haveTime =
      demuxer_->ToReferenceTime(index, packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts, &time) &&
      demuxer_->PlausibleTime(time);
  if (pin->waitKeyFrame != AvDemuxer::kNoKeyFrame) {
    // After a seek the video starts at its key frame; what the demuxer read ahead of it
    // could not be decoded.
    if (!(packet->flags & AV_PKT_FLAG_KEY) || !haveTime || time < pin->waitKeyFrame) return S_OK;
    pin->waitKeyFrame = AvDemuxer::kNoKeyFrame;
  }
  // The stream ends at the first packet decoded at or after the stop time. With reordered
  // pictures (B-frames) a packet shown after the stop can be decoded before it, and the
  // pictures shown before the stop need it: it is delivered, and the decoder drops the
  // pictures that start at or after the stop.
  REFERENCE_TIME decodeTime = time;
  if (packet->dts != AV_NOPTS_VALUE && packet->pts != AV_NOPTS_VALUE &&
      (!demuxer_->ToReferenceTime(index, packet->dts, &decodeTime) || !demuxer_->PlausibleTime(decodeTime)))
    decodeTime = time;
  if (haveTime && decodeTime >= stop) {
    pin->ended = true;
    return S_OK;
  }
  ComPtr<IMediaSample> sample;
  HRESULT hr = pin->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  BYTE* buffer = nullptr;
  sample->GetPointer(&buffer);
  if (packet->size > sample->GetSize()) {
    // Larger than any buffer the stream's format led us to expect: the file is damaged.
    TAV_TRACE("packet of %d bytes dropped (buffer %d)", packet->size, sample->GetSize());
    return S_OK;
  }
  std::memcpy(buffer, packet->data, size_t(packet->size));
  sample->SetActualDataLength(packet->size);
  if (haveTime) {
    REFERENCE_TIME t0 = time - segmentStart;
    // A damaged duration ends no later than the file may.
    REFERENCE_TIME length = demuxer_->ToReferenceDuration(index, packet->duration);
    if (length > 0 && !demuxer_->PlausibleTime(time + length)) length = 0;
    REFERENCE_TIME t1 = t0 + length;
    sample->SetTime(&t0, length > 0 ? &t1 : nullptr);
    // Samples before the seek target are decoded but not shown.
    if (t0 < 0) sample->SetPreroll(TRUE);
  }
  sample->SetSyncPoint((packet->flags & AV_PKT_FLAG_KEY) != 0);
  sample->SetDiscontinuity(pin->discontinuity);
  pin->discontinuity = false;
  return pin->Deliver(sample.Get());
}

// ---- seeking --------------------------------------------------------------------------------

DWORD CAvSplitter::Capabilities() {
  CAutoLock lock(&lock_);
  if (!demuxer_) return 0;
  const bool known = demuxer_->Duration() > 0;
  DWORD caps = known ? AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration : AM_SEEKING_CanGetStopPos;
  if (known && demuxer_->Seekable()) caps |= kSeekableCaps;
  return caps;
}

void CAvSplitter::GetPositions(LONGLONG* current, LONGLONG* stop, LONGLONG* duration) {
  CAutoLock positions(&positionLock_);
  if (current) *current = start_;
  if (stop) *stop = stop_;
  if (duration) *duration = duration_;
}

HRESULT CAvSplitter::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  const DWORD curMode = currentFlags & AM_SEEKING_PositioningBitsMask;
  const DWORD stopMode = stopFlags & AM_SEEKING_PositioningBitsMask;
  if ((curMode && !current) || (stopMode && !stop)) return E_POINTER;
  CAutoLock seek(&seekLock_);
  const DWORD caps = Capabilities();
  if (curMode && !(caps & AM_SEEKING_CanSeekAbsolute)) return E_NOTIMPL;
  REFERENCE_TIME newStart, newStop, duration;
  {
    CAutoLock positions(&positionLock_);
    newStart = NewPosition(start_, curMode ? *current : 0, currentFlags);
    newStop = NewPosition(stop_, stopMode ? *stop : 0, stopFlags);
    duration = duration_;
  }
  newStart = std::clamp<REFERENCE_TIME>(newStart, 0, duration > 0 ? duration : MAX_TIME);
  if (newStop < newStart) newStop = newStart;
  TAV_TRACE("SetPositions %lld/%#x %lld/%#x", static_cast<long long>(newStart), currentFlags,
            static_cast<long long>(newStop), stopFlags);

  if (curMode) {
    const bool restart = thread_.joinable() || IsActive();
    StopStreaming(true);
    const REFERENCE_TIME target = newStart;
    REFERENCE_TIME keyFrame = -1;
    if (currentFlags & AM_SEEKING_SeekToKeyFrame) {
      // The segment starts at the key frame the demuxer lands on.
      CAutoLock lock(&lock_);
      REFERENCE_TIME found = AvDemuxer::kNoKeyFrame;
      if (demuxer_ && SUCCEEDED(demuxer_->SeekToKeyFrame(newStart, &found)) && found != AvDemuxer::kNoKeyFrame)
        keyFrame = std::max<REFERENCE_TIME>(0, found);
    }
    {
      CAutoLock positions(&positionLock_);
      seekTarget_ = target;
      start_ = keyFrame >= 0 ? keyFrame : newStart;
      if (stopMode) {
        stop_ = std::max(newStop, start_);
        stopSet_ = duration <= 0 || stop_ < duration;
      }
    }
    if (restart && IsActive()) {
      HRESULT hr = StartStreaming();
      if (FAILED(hr)) return hr;
    }
  } else if (stopMode) {
    CAutoLock positions(&positionLock_);
    stop_ = newStop;
    stopSet_ = duration <= 0 || stop_ < duration;
  }
  CAutoLock positions(&positionLock_);
  if (curMode && (currentFlags & AM_SEEKING_ReturnTime)) *current = start_;
  if (stopMode && (stopFlags & AM_SEEKING_ReturnTime)) *stop = stop_;
  return S_OK;
}

}  // namespace tav::filters
