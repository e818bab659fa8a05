// IVideoWindow and IBasicVideo of the graph: forwarded to the first filter that has them
// (the video renderer); E_NOINTERFACE when the graph has none.
#include "platform/streaming/graph/filtergraph.h"

namespace tav::graph {

template <typename I>
ComPtr<I> FilterGraph::FindVideoInterface() {
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  for (const FilterEntry& e : filters_)
    if (ComPtr<I> p = e.filter.template As<I>()) return p;
  return nullptr;
}

// ---- IVideoWindow --------------------------------------------------------------------

STDMETHODIMP FilterGraph::put_Caption(BSTR caption) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->put_Caption(caption) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_Caption(BSTR* caption) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->get_Caption(caption) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_WindowStyle(LONG style) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->put_WindowStyle(style) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_WindowStyle(LONG* style) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->get_WindowStyle(style) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_WindowStyleEx(LONG style) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->put_WindowStyleEx(style) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_WindowStyleEx(LONG* style) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->get_WindowStyleEx(style) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_AutoShow(LONG autoShow) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->put_AutoShow(autoShow) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_AutoShow(LONG* autoShow) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->get_AutoShow(autoShow) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_WindowState(LONG state) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->put_WindowState(state) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_WindowState(LONG* state) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->get_WindowState(state) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_BackgroundPalette(LONG palette) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->put_BackgroundPalette(palette) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_BackgroundPalette(LONG* palette) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->get_BackgroundPalette(palette) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_Visible(LONG visible) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->put_Visible(visible) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_Visible(LONG* visible) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->get_Visible(visible) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_Left(LONG left) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->put_Left(left) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_Left(LONG* left) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->get_Left(left) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_Width(LONG width) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->put_Width(width) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_Width(LONG* width) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->get_Width(width) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_Top(LONG top) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->put_Top(top) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_Top(LONG* top) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->get_Top(top) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_Height(LONG height) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->put_Height(height) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_Height(LONG* height) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->get_Height(height) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_Owner(OAHWND owner) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->put_Owner(owner) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_Owner(OAHWND* owner) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->get_Owner(owner) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_MessageDrain(OAHWND drain) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->put_MessageDrain(drain) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_MessageDrain(OAHWND* drain) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->get_MessageDrain(drain) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_BorderColor(LONG* color) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->get_BorderColor(color) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_BorderColor(LONG color) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->put_BorderColor(color) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_FullScreenMode(LONG* mode) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->get_FullScreenMode(mode) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_FullScreenMode(LONG mode) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->put_FullScreenMode(mode) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::SetWindowForeground(LONG focus) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->SetWindowForeground(focus) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::NotifyOwnerMessage(OAHWND hwnd, LONG msg, LONG_PTR wParam, LONG_PTR lParam) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->NotifyOwnerMessage(hwnd, msg, wParam, lParam) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::SetWindowPosition(LONG left, LONG top, LONG width, LONG height) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->SetWindowPosition(left, top, width, height) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->GetWindowPosition(left, top, width, height) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::GetMinIdealImageSize(LONG* width, LONG* height) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->GetMinIdealImageSize(width, height) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::GetMaxIdealImageSize(LONG* width, LONG* height) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->GetMaxIdealImageSize(width, height) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->GetRestorePosition(left, top, width, height) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::HideCursor(LONG hide) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->HideCursor(hide) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::IsCursorHidden(LONG* hidden) {
  auto target = FindVideoInterface<IVideoWindow>();
  return target ? target->IsCursorHidden(hidden) : E_NOINTERFACE;
}

// ---- IBasicVideo --------------------------------------------------------------------

STDMETHODIMP FilterGraph::get_AvgTimePerFrame(REFTIME* time) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->get_AvgTimePerFrame(time) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_BitRate(LONG* rate) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->get_BitRate(rate) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_BitErrorRate(LONG* rate) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->get_BitErrorRate(rate) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_VideoWidth(LONG* width) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->get_VideoWidth(width) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_VideoHeight(LONG* height) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->get_VideoHeight(height) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_SourceLeft(LONG v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->put_SourceLeft(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_SourceLeft(LONG* v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->get_SourceLeft(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_SourceWidth(LONG v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->put_SourceWidth(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_SourceWidth(LONG* v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->get_SourceWidth(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_SourceTop(LONG v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->put_SourceTop(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_SourceTop(LONG* v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->get_SourceTop(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_SourceHeight(LONG v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->put_SourceHeight(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_SourceHeight(LONG* v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->get_SourceHeight(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_DestinationLeft(LONG v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->put_DestinationLeft(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_DestinationLeft(LONG* v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->get_DestinationLeft(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_DestinationWidth(LONG v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->put_DestinationWidth(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_DestinationWidth(LONG* v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->get_DestinationWidth(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_DestinationTop(LONG v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->put_DestinationTop(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_DestinationTop(LONG* v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->get_DestinationTop(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::put_DestinationHeight(LONG v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->put_DestinationHeight(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::get_DestinationHeight(LONG* v) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->get_DestinationHeight(v) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::SetSourcePosition(LONG left, LONG top, LONG width, LONG height) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->SetSourcePosition(left, top, width, height) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->GetSourcePosition(left, top, width, height) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::SetDefaultSourcePosition() {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->SetDefaultSourcePosition() : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->SetDestinationPosition(left, top, width, height) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->GetDestinationPosition(left, top, width, height) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::SetDefaultDestinationPosition() {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->SetDefaultDestinationPosition() : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::GetVideoSize(LONG* width, LONG* height) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->GetVideoSize(width, height) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::GetVideoPaletteEntries(LONG start, LONG count, LONG* retrieved, LONG* palette) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->GetVideoPaletteEntries(start, count, retrieved, palette) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::GetCurrentImage(LONG* bufferSize, LONG* image) {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->GetCurrentImage(bufferSize, image) : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::IsUsingDefaultSource() {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->IsUsingDefaultSource() : E_NOINTERFACE;
}

STDMETHODIMP FilterGraph::IsUsingDefaultDestination() {
  auto target = FindVideoInterface<IBasicVideo>();
  return target ? target->IsUsingDefaultDestination() : E_NOINTERFACE;
}

}  // namespace tav::graph
