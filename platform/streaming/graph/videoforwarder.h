// IVideoWindow and IBasicVideo of an object that does not draw video itself (the graph
// manager): every call goes to the object that does (the graph's video renderer), looked up
// anew for each call since the graph's filters change; E_NOINTERFACE when there is none.
//
// Owner derives from VideoWindowForwarder<Owner> and BasicVideoForwarder<Owner>, implements
// IUnknown once for all its interfaces, and answers Owner::ForwardTarget<I>() (null: none).
#pragma once

#include "media/contract/comptr.h"
#include "media/contract/strmif.h"

namespace tav::graph {

template <class Owner, class I>
class InterfaceForwarder : public I {
 protected:
  template <class... Params, class... Args>
  HRESULT Forward(HRESULT (STDMETHODCALLTYPE I::*method)(Params...), Args... args) {
    ComPtr<I> target = static_cast<Owner*>(this)->template ForwardTarget<I>();
    return target ? (target.Get()->*method)(args...) : E_NOINTERFACE;
  }
};

template <class Owner>
class VideoWindowForwarder : public InterfaceForwarder<Owner, IVideoWindow> {
 public:
  STDMETHODIMP put_Caption(BSTR caption) override { return this->Forward(&IVideoWindow::put_Caption, caption); }
  STDMETHODIMP get_Caption(BSTR* caption) override { return this->Forward(&IVideoWindow::get_Caption, caption); }
  STDMETHODIMP put_WindowStyle(LONG style) override { return this->Forward(&IVideoWindow::put_WindowStyle, style); }
  STDMETHODIMP get_WindowStyle(LONG* style) override { return this->Forward(&IVideoWindow::get_WindowStyle, style); }
  STDMETHODIMP put_WindowStyleEx(LONG style) override { return this->Forward(&IVideoWindow::put_WindowStyleEx, style); }
  STDMETHODIMP get_WindowStyleEx(LONG* style) override {
    return this->Forward(&IVideoWindow::get_WindowStyleEx, style);
  }
  STDMETHODIMP put_AutoShow(LONG autoShow) override { return this->Forward(&IVideoWindow::put_AutoShow, autoShow); }
  STDMETHODIMP get_AutoShow(LONG* autoShow) override { return this->Forward(&IVideoWindow::get_AutoShow, autoShow); }
  STDMETHODIMP put_WindowState(LONG state) override { return this->Forward(&IVideoWindow::put_WindowState, state); }
  STDMETHODIMP get_WindowState(LONG* state) override { return this->Forward(&IVideoWindow::get_WindowState, state); }
  STDMETHODIMP put_BackgroundPalette(LONG palette) override {
    return this->Forward(&IVideoWindow::put_BackgroundPalette, palette);
  }
  STDMETHODIMP get_BackgroundPalette(LONG* palette) override {
    return this->Forward(&IVideoWindow::get_BackgroundPalette, palette);
  }
  STDMETHODIMP put_Visible(LONG visible) override { return this->Forward(&IVideoWindow::put_Visible, visible); }
  STDMETHODIMP get_Visible(LONG* visible) override { return this->Forward(&IVideoWindow::get_Visible, visible); }
  STDMETHODIMP put_Left(LONG left) override { return this->Forward(&IVideoWindow::put_Left, left); }
  STDMETHODIMP get_Left(LONG* left) override { return this->Forward(&IVideoWindow::get_Left, left); }
  STDMETHODIMP put_Width(LONG width) override { return this->Forward(&IVideoWindow::put_Width, width); }
  STDMETHODIMP get_Width(LONG* width) override { return this->Forward(&IVideoWindow::get_Width, width); }
  STDMETHODIMP put_Top(LONG top) override { return this->Forward(&IVideoWindow::put_Top, top); }
  STDMETHODIMP get_Top(LONG* top) override { return this->Forward(&IVideoWindow::get_Top, top); }
  STDMETHODIMP put_Height(LONG height) override { return this->Forward(&IVideoWindow::put_Height, height); }
  STDMETHODIMP get_Height(LONG* height) override { return this->Forward(&IVideoWindow::get_Height, height); }
  STDMETHODIMP put_Owner(OAHWND owner) override { return this->Forward(&IVideoWindow::put_Owner, owner); }
  STDMETHODIMP get_Owner(OAHWND* owner) override { return this->Forward(&IVideoWindow::get_Owner, owner); }
  STDMETHODIMP put_MessageDrain(OAHWND drain) override { return this->Forward(&IVideoWindow::put_MessageDrain, drain); }
  STDMETHODIMP get_MessageDrain(OAHWND* drain) override {
    return this->Forward(&IVideoWindow::get_MessageDrain, drain);
  }
  STDMETHODIMP get_BorderColor(LONG* color) override { return this->Forward(&IVideoWindow::get_BorderColor, color); }
  STDMETHODIMP put_BorderColor(LONG color) override { return this->Forward(&IVideoWindow::put_BorderColor, color); }
  STDMETHODIMP get_FullScreenMode(LONG* mode) override {
    return this->Forward(&IVideoWindow::get_FullScreenMode, mode);
  }
  STDMETHODIMP put_FullScreenMode(LONG mode) override { return this->Forward(&IVideoWindow::put_FullScreenMode, mode); }
  STDMETHODIMP SetWindowForeground(LONG focus) override {
    return this->Forward(&IVideoWindow::SetWindowForeground, focus);
  }
  STDMETHODIMP NotifyOwnerMessage(OAHWND hwnd, LONG msg, LONG_PTR wParam, LONG_PTR lParam) override {
    return this->Forward(&IVideoWindow::NotifyOwnerMessage, hwnd, msg, wParam, lParam);
  }
  STDMETHODIMP SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override {
    return this->Forward(&IVideoWindow::SetWindowPosition, left, top, width, height);
  }
  STDMETHODIMP GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    return this->Forward(&IVideoWindow::GetWindowPosition, left, top, width, height);
  }
  STDMETHODIMP GetMinIdealImageSize(LONG* width, LONG* height) override {
    return this->Forward(&IVideoWindow::GetMinIdealImageSize, width, height);
  }
  STDMETHODIMP GetMaxIdealImageSize(LONG* width, LONG* height) override {
    return this->Forward(&IVideoWindow::GetMaxIdealImageSize, width, height);
  }
  STDMETHODIMP GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    return this->Forward(&IVideoWindow::GetRestorePosition, left, top, width, height);
  }
  STDMETHODIMP HideCursor(LONG hide) override { return this->Forward(&IVideoWindow::HideCursor, hide); }
  STDMETHODIMP IsCursorHidden(LONG* hidden) override { return this->Forward(&IVideoWindow::IsCursorHidden, hidden); }
};

template <class Owner>
class BasicVideoForwarder : public InterfaceForwarder<Owner, IBasicVideo> {
 public:
  STDMETHODIMP get_AvgTimePerFrame(REFTIME* time) override {
    return this->Forward(&IBasicVideo::get_AvgTimePerFrame, time);
  }
  STDMETHODIMP get_BitRate(LONG* rate) override { return this->Forward(&IBasicVideo::get_BitRate, rate); }
  STDMETHODIMP get_BitErrorRate(LONG* rate) override { return this->Forward(&IBasicVideo::get_BitErrorRate, rate); }
  STDMETHODIMP get_VideoWidth(LONG* width) override { return this->Forward(&IBasicVideo::get_VideoWidth, width); }
  STDMETHODIMP get_VideoHeight(LONG* height) override { return this->Forward(&IBasicVideo::get_VideoHeight, height); }
  STDMETHODIMP put_SourceLeft(LONG v) override { return this->Forward(&IBasicVideo::put_SourceLeft, v); }
  STDMETHODIMP get_SourceLeft(LONG* v) override { return this->Forward(&IBasicVideo::get_SourceLeft, v); }
  STDMETHODIMP put_SourceWidth(LONG v) override { return this->Forward(&IBasicVideo::put_SourceWidth, v); }
  STDMETHODIMP get_SourceWidth(LONG* v) override { return this->Forward(&IBasicVideo::get_SourceWidth, v); }
  STDMETHODIMP put_SourceTop(LONG v) override { return this->Forward(&IBasicVideo::put_SourceTop, v); }
  STDMETHODIMP get_SourceTop(LONG* v) override { return this->Forward(&IBasicVideo::get_SourceTop, v); }
  STDMETHODIMP put_SourceHeight(LONG v) override { return this->Forward(&IBasicVideo::put_SourceHeight, v); }
  STDMETHODIMP get_SourceHeight(LONG* v) override { return this->Forward(&IBasicVideo::get_SourceHeight, v); }
  STDMETHODIMP put_DestinationLeft(LONG v) override { return this->Forward(&IBasicVideo::put_DestinationLeft, v); }
  STDMETHODIMP get_DestinationLeft(LONG* v) override { return this->Forward(&IBasicVideo::get_DestinationLeft, v); }
  STDMETHODIMP put_DestinationWidth(LONG v) override { return this->Forward(&IBasicVideo::put_DestinationWidth, v); }
  STDMETHODIMP get_DestinationWidth(LONG* v) override { return this->Forward(&IBasicVideo::get_DestinationWidth, v); }
  STDMETHODIMP put_DestinationTop(LONG v) override { return this->Forward(&IBasicVideo::put_DestinationTop, v); }
  STDMETHODIMP get_DestinationTop(LONG* v) override { return this->Forward(&IBasicVideo::get_DestinationTop, v); }
  STDMETHODIMP put_DestinationHeight(LONG v) override { return this->Forward(&IBasicVideo::put_DestinationHeight, v); }
  STDMETHODIMP get_DestinationHeight(LONG* v) override { return this->Forward(&IBasicVideo::get_DestinationHeight, v); }
  STDMETHODIMP SetSourcePosition(LONG left, LONG top, LONG width, LONG height) override {
    return this->Forward(&IBasicVideo::SetSourcePosition, left, top, width, height);
  }
  STDMETHODIMP GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    return this->Forward(&IBasicVideo::GetSourcePosition, left, top, width, height);
  }
  STDMETHODIMP SetDefaultSourcePosition() override { return this->Forward(&IBasicVideo::SetDefaultSourcePosition); }
  STDMETHODIMP SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) override {
    return this->Forward(&IBasicVideo::SetDestinationPosition, left, top, width, height);
  }
  STDMETHODIMP GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
    return this->Forward(&IBasicVideo::GetDestinationPosition, left, top, width, height);
  }
  STDMETHODIMP SetDefaultDestinationPosition() override {
    return this->Forward(&IBasicVideo::SetDefaultDestinationPosition);
  }
  STDMETHODIMP GetVideoSize(LONG* width, LONG* height) override {
    return this->Forward(&IBasicVideo::GetVideoSize, width, height);
  }
  STDMETHODIMP GetVideoPaletteEntries(LONG start, LONG count, LONG* retrieved, LONG* palette) override {
    return this->Forward(&IBasicVideo::GetVideoPaletteEntries, start, count, retrieved, palette);
  }
  STDMETHODIMP GetCurrentImage(LONG* bufferSize, LONG* image) override {
    return this->Forward(&IBasicVideo::GetCurrentImage, bufferSize, image);
  }
  STDMETHODIMP IsUsingDefaultSource() override { return this->Forward(&IBasicVideo::IsUsingDefaultSource); }
  STDMETHODIMP IsUsingDefaultDestination() override { return this->Forward(&IBasicVideo::IsUsingDefaultDestination); }
};

}  // namespace tav::graph
