// The audio end of the graph builder's chains: decoded sound, converted to the target
// format when asked, goes to the sound renderer or (converting) to the pending pins;
// compressed sound goes through the ACM wrapper first.
#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/graphwalk.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "media/contract/mediatypes.h"
#include "media/contract/uuids.h"

namespace tav {

AM_MEDIA_TYPE FilterGraphBuilder::AudioTargetType() {
  AM_MEDIA_TYPE target{};
  target.majortype = MEDIATYPE_Audio;
  target.subtype = MEDIASUBTYPE_PCM;
  target.bFixedSizeSamples = TRUE;
  target.lSampleSize = audioTarget_.nBlockAlign;
  target.formattype = FORMAT_WaveFormatEx;
  target.cbFormat = sizeof audioTarget_;
  target.pbFormat = reinterpret_cast<BYTE*>(&audioTarget_);
  return target;
}

bool FilterGraphBuilder::AudioEndPcm(IPin* start) {
  HRChecker& c = checker_;
  ComPtr<IPin> pin(start);
  if (audioConvertOn_) {
    auto config = pin.As<IAMStreamConfig>();
    AM_MEDIA_TYPE target = AudioTargetType();
    if (!config || FAILED(config->SetFormat(&target))) {
      ComPtr<IBaseFilter> acm = CreateFilter(CLSID_ACMWrapper, u"ACM Wrapper");
      if (!ConnectPin(pin.Get(), acm.Get(), false, nullptr, true)) {
        RemoveFilter(acm.Get());
        return false;
      }
      pin = FirstOutput(acm.Get());
      auto out = pin.As<IAMStreamConfig>();
      c.CheckPointer(out);
      c.Check(out->SetFormat(&target));
    }
  }
  if (conversionMode_) {
    pendingPins_.push_back(pin);
    return true;
  }
  ComPtr<IBaseFilter> renderer;
  if (TryCreate(CLSID_DSoundRender, renderer) &&
      SUCCEEDED(graph_->AddFilter(renderer.Get(), u"DirectSound Audio Renderer")) &&
      ConnectPin(pin.Get(), renderer.Get(), false, nullptr, false)) {
    return true;
  }
  if (renderer) RemoveFilter(renderer.Get());
  if (pin.Get() != start) {
    RemoveDownstream(OwnerOf(pin.Get()).Get());
  }
  return false;
}

bool FilterGraphBuilder::AudioEndCompressed(IPin* start) {
  HRChecker& c = checker_;
  ComPtr<IBaseFilter> downmixer = CreateFilter(CLSID_VxChannelDownmixer, u"Downmixer");
  ComPtr<IBaseFilter> acm = CreateFilter(CLSID_ACMWrapper, u"ACM Wrapper");
  ComPtr<IPin> last;
  auto removeUnconnected = [&] {
    for (auto* f : {downmixer.Get(), acm.Get()}) {
      bool connected = false;
      for (auto& in : PinsOf(f, PINDIR_INPUT)) connected = connected || IsConnected(in.Get());
      if (!connected) RemoveFilter(f);
    }
  };
  AM_MEDIA_TYPE target = AudioTargetType();

  if (audioConvertOn_) {
    if (!ConnectPin(start, acm.Get(), false, nullptr, false)) {
      RemoveFilter(downmixer.Get());
      RemoveFilter(acm.Get());
      c.Check(VFW_E_UNSUPPORTED_AUDIO);
    }
    last = FirstOutput(acm.Get());
    auto config = last.As<IAMStreamConfig>();
    if (!config || FAILED(config->SetFormat(&target))) {
      ComPtr<IBaseFilter> second = CreateFilter(CLSID_ACMWrapper, u"ACM Wrapper ][");
      if (!ConnectPin(last.Get(), second.Get(), true, nullptr, false)) {
        RemoveFilter(second.Get());
        c.Check(VFW_E_UNSUPPORTED_AUDIO);
      }
      last = FirstOutput(second.Get());
      auto out = last.As<IAMStreamConfig>();
      c.CheckPointer(out);
      c.Check(out->SetFormat(&target));
    }
  }
  if (conversionMode_) {
    removeUnconnected();
    if (!last) {
      // Without conversion the compressed stream itself is the chain end.
      last = start;
    }
    pendingPins_.push_back(last);
    return true;
  }
  if (!audioConvertOn_) {
    if (!ConnectPin(start, acm.Get(), false, nullptr, false)) {
      RemoveFilter(downmixer.Get());
      RemoveFilter(acm.Get());
      return false;
    }
  }
  removeUnconnected();
  return RenderOutputs(acm.Get());
}

}  // namespace tav
