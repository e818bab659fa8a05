// The video renderer and the sound renderer, each fed by a push source.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <thread>

#include "media/contract/uuids.h"
#include "media/contract/window.h"
#include "media/contract/wingdi.h"
#include "platform/filters/tests/filtertest.h"
#include "platform/filters/tests/support_pfdec.h"
#include "tests/support/surfacepixels.h"

using namespace filtertest;
using tavtest::SurfacePixel;

namespace {

CMediaType Rgb24Type(LONG w, LONG h) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&MEDIASUBTYPE_RGB24);
  mt.SetFormatType(&FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  vih->AvgTimePerFrame = 400000;
  vih->bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, DWORD(w * h * 3), 0, 0, 0, 0};
  mt.SetSampleSize(DWORD(w * h * 3));
  return mt;
}

CMediaType PcmType(DWORD rate, WORD channels) {
  CMediaType mt(&MEDIATYPE_Audio);
  mt.SetSubtype(&MEDIASUBTYPE_PCM);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormatBuffer(sizeof(WAVEFORMATEX)));
  *wfx = {WAVE_FORMAT_PCM, channels, rate, rate * channels * 2, WORD(channels * 2), 16, 0};
  mt.SetSampleSize(wfx->nBlockAlign);
  return mt;
}

class filters_Renderers : public filtertest::FilterTest {};

TEST_F(filters_Renderers, VideoRenderer_KeepsTheCurrentFrame_AndAnswersItsSizes) {
  for (const CLSID* clsid : {&CLSID_VideoRenderer, &CLSID_VideoMixingRenderer, &CLSID_VideoMixingRenderer9}) {
    ComPtr<IBaseFilter> r;
    ASSERT_EQ(CreateFilter(*clsid, &r), S_OK);
    ComPtr<IBasicVideo> basic;
    ComPtr<IVideoWindow> window;
    ASSERT_EQ(r->QueryInterface(IID_IBasicVideo, basic.AsVoidOut()), S_OK);
    ASSERT_EQ(r->QueryInterface(IID_IVideoWindow, window.AsVoidOut()), S_OK);
    LONG w = 0, h = 0;
    EXPECT_EQ(basic->GetVideoSize(&w, &h), VFW_E_NOT_CONNECTED);

    ComPtr<PushSource> src = new PushSource(Rgb24Type(8, 4));
    ASSERT_EQ(src->Pin()->Connect(FindPin(r.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);
    ASSERT_EQ(basic->GetVideoSize(&w, &h), S_OK);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(h, 4);
    EXPECT_EQ(basic->SetSourcePosition(4, 0, 8, 4), E_INVALIDARG);
    EXPECT_EQ(window->put_Owner(OAHWND(0x1000)), S_OK);
    OAHWND owner = 0;
    window->get_Owner(&owner);
    EXPECT_EQ(owner, OAHWND(0x1000));
    EXPECT_EQ(window->SetWindowPosition(0, 0, 16, 8), S_OK);
    LONG l, t;
    basic->GetDestinationPosition(&l, &t, &w, &h);
    EXPECT_EQ(w, 16) << "the default destination follows the window";

    // Bottom row blue, the others red (rows stored bottom first).
    Packet p;
    p.data.resize(8 * 4 * 3);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 8; ++x) {
        BYTE* px = &p.data[size_t((y * 8 + x) * 3)];
        px[0] = y == 0 ? 255 : 0;  // blue
        px[2] = y == 0 ? 0 : 255;  // red
      }
    ASSERT_EQ(r->Run(0), S_OK);  // no clock: every frame is drawn at once
    src->Pause();
    EXPECT_EQ(src->Pin()->Push(p, true), S_OK);
    src->Stop();
    r->Stop();
    LONG size = 0;
    ASSERT_EQ(basic->GetCurrentImage(&size, nullptr), S_OK);
    std::vector<LONG> image(size_t(size + 3) / 4);
    ASSERT_EQ(basic->GetCurrentImage(&size, image.data()), S_OK);
    const BYTE* bits = reinterpret_cast<const BYTE*>(image.data()) + sizeof(BITMAPINFOHEADER);
    EXPECT_EQ(bits[0], 255);          // bottom row: blue
    EXPECT_EQ(bits[2], 0);
    EXPECT_EQ(bits[3 * 8 * 4 + 2], 255);  // top row: red
    src->Pin()->Disconnect();
    FindPin(r.Get(), PINDIR_INPUT)->Disconnect();
  }
}

LRESULT IgnoreMessages(HWND, UINT, WPARAM, LPARAM) { return 0; }

TEST_F(filters_Renderers, VideoRenderer_DrawsIntoTheOwnersSurfaceAtTheWindowPosition) {
  HWND owner = CreatePlatformWindow(&IgnoreMessages, nullptr);
  ASSERT_NE(owner, nullptr);
  {
    ComPtr<IBaseFilter> r;
    ASSERT_EQ(CreateFilter(CLSID_VideoRenderer, &r), S_OK);
    ComPtr<IVideoWindow> window;
    ASSERT_EQ(r->QueryInterface(IID_IVideoWindow, window.AsVoidOut()), S_OK);
    ComPtr<PushSource> src = new PushSource(Rgb24Type(8, 4));
    ASSERT_EQ(src->Pin()->Connect(FindPin(r.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);
    ASSERT_EQ(window->put_Owner(OAHWND(owner)), S_OK);
    ASSERT_EQ(window->SetWindowPosition(4, 2, 8, 4), S_OK);
    ASSERT_EQ(window->put_Visible(OATRUE), S_OK);

    // Bottom row blue, the others red (rows stored bottom first).
    Packet p;
    p.data.resize(8 * 4 * 3);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 8; ++x) {
        BYTE* px = &p.data[size_t((y * 8 + x) * 3)];
        px[0] = y == 0 ? 255 : 0;
        px[2] = y == 0 ? 0 : 255;
      }
    ASSERT_EQ(r->Run(0), S_OK);
    src->Pause();
    EXPECT_EQ(src->Pin()->Push(p, true), S_OK);
    src->Stop();
    r->Stop();
    ASSERT_NE(tav::GetWindowSurface(owner), nullptr) << "an owner without a surface gets one";
    EXPECT_EQ(SurfacePixel(owner, 4, 2), 0xFF0000u) << "the top row at the window's position";
    EXPECT_EQ(SurfacePixel(owner, 11, 5), 0x0000FFu) << "the bottom row";
    EXPECT_EQ(SurfacePixel(owner, 3, 2), 0u) << "outside the window nothing is drawn";
    src->Pin()->Disconnect();
    FindPin(r.Get(), PINDIR_INPUT)->Disconnect();
  }
  EXPECT_EQ(tav::GetWindowSurface(owner), nullptr) << "the renderer takes its surface away when it goes";
  DestroyWindow(owner);
}

TEST_F(filters_Renderers, SoundRenderer_WithoutDevice_PlaysAtRealTimeOnItsClock) {
  // No sound device, as on a build machine.
  setenv("SDL_AUDIODRIVER", "tavrion-no-such-driver", 1);
  ComPtr<IBaseFilter> r;
  ASSERT_EQ(CreateFilter(CLSID_DSoundRender, &r), S_OK);
  ComPtr<IReferenceClock> clock;
  ASSERT_EQ(r->QueryInterface(IID_IReferenceClock, clock.AsVoidOut()), S_OK);
  ComPtr<IBasicAudio> audio;
  ASSERT_EQ(r->QueryInterface(IID_IBasicAudio, audio.AsVoidOut()), S_OK);
  EXPECT_EQ(audio->put_Volume(1), E_INVALIDARG);

  ComPtr<PushSource> src = new PushSource(PcmType(8000, 1));
  ASSERT_EQ(src->Pin()->Connect(FindPin(r.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);
  ASSERT_EQ(r->SetSyncSource(clock.Get()), S_OK);
  std::vector<Packet> packets(8);
  for (int i = 0; i < 8; ++i) {
    packets[size_t(i)].data.assign(1600, 0);  // 0.1 s each
    packets[size_t(i)].timed = true;
    packets[size_t(i)].start = i * 1000000;
    packets[size_t(i)].stop = (i + 1) * 1000000;
  }
  r->Pause();
  src->Pause();
  std::thread pusher([&] {
    for (size_t i = 0; i < packets.size(); ++i) src->Pin()->Push(packets[i], i == 0);
    src->Pin()->DeliverEndOfStream();
  });
  // Paused, the renderer holds the first sample: the pause completes with it.
  FILTER_STATE paused = State_Stopped;
  ASSERT_EQ(r->GetState(10000, &paused), S_OK);
  EXPECT_EQ(paused, State_Paused);
  REFERENCE_TIME start = 0, end = 0;
  clock->GetTime(&start);
  ASSERT_EQ(r->Run(start), S_OK);
  pusher.join();
  clock->GetTime(&end);
  // The last sample starts at 0.7 s: delivery cannot finish earlier, and should not lag much.
  EXPECT_GE(end - start, 6800000);
  EXPECT_LT(end - start, 30000000);
  src->Stop();
  r->Stop();
  r->SetSyncSource(nullptr);
  clock = nullptr;
  src->Pin()->Disconnect();
  FindPin(r.Get(), PINDIR_INPUT)->Disconnect();
}

}  // namespace
