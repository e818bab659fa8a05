#include "converter/engine/burninstage.h"

#include <memory>

#include "converter/engine/graphwalk.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"

namespace tav {

namespace {

struct BstrFree {
  void operator()(OLECHAR* s) const { SysFreeString(s); }
};
using UniqueBstr = std::unique_ptr<OLECHAR, BstrFree>;

// The interface takes strings as BSTRs; settings hold ANSI text.
UniqueBstr ToBstr(const std::string& ansi) { return UniqueBstr(SysAllocString(AnsiToWide(ansi).c_str())); }

// Whether the filter that owns `pin` is a Subtitle Filter.
bool OwnedBySubtitleFilter(IPin* pin) {
  const ComPtr<IBaseFilter> owner = OwnerOf(pin);
  CLSID clsid{};
  return owner && SUCCEEDED(owner->GetClassID(&clsid)) && clsid == CLSID_SubtitleFilter;
}

}  // namespace

ComPtr<ISubtitleManager> CreateSubtitleManager(HRChecker& checker, const SubtitleSettings& settings) {
  checker.SetContext("Subtitle Manager Object");
  ComPtr<ISubtitleManager> manager;
  checker.Check(CoCreateInstance(CLSID_SubtitleManager, nullptr, CLSCTX_ALL, IID_ISubtitleManager,
                                 manager.AsVoidOut()));
  checker.CheckPointer(manager);
  const UniqueBstr file = ToBstr(settings.file);
  const UniqueBstr size = ToBstr(settings.sizeId);
  const UniqueBstr language = ToBstr(settings.language);
  if (!file || !size || !language) checker.Check(E_OUTOFMEMORY);
  checker.Check(manager->LoadFile(file.get(), FALSE));
  checker.Check(manager->SelectSizeById(size.get()));
  checker.Check(manager->SelectLanguageByCode(language.get()));
  return manager;
}

std::string LenientReaderName(ISubtitleManager* manager) {
  ComPtr<ISubtitleFileInfo> info;
  if (!manager || FAILED(manager->QueryInterface(IID_ISubtitleFileInfo, info.AsVoidOut())) || !info) return {};
  WCHAR* name = nullptr;
  const HRESULT hr = info->GetReaderName(&name);
  std::string out = hr == S_OK && name ? WideToAnsi(std::u16string_view(name)) : std::string();
  CoTaskMemFree(name);
  return out;
}

std::string SubtitleEncodingName(ISubtitleManager* manager) {
  ComPtr<ISubtitleFileInfo> info;
  if (!manager || FAILED(manager->QueryInterface(IID_ISubtitleFileInfo, info.AsVoidOut())) || !info) return {};
  WCHAR* name = nullptr;
  const HRESULT hr = info->GetEncodingName(&name);
  std::string out = SUCCEEDED(hr) && name ? WideToAnsi(std::u16string_view(name)) : std::string();
  CoTaskMemFree(name);
  return out;
}

ComPtr<IPin> AddBurnInStage(HRChecker& checker, IGraphBuilder* graph, IPin* pin, const SubtitleSettings& settings,
                            std::string* reader, std::string* encoding) {
  if (reader) reader->clear();
  if (encoding) encoding->clear();
  checker.SetContext("Subtitle Filter");
  if (!graph || !pin) checker.Check(E_POINTER);
  if (OwnedBySubtitleFilter(pin)) return ComPtr<IPin>(pin);
  // Checked before anything is made, so a missing file leaves nothing behind.
  if (settings.file.empty()) checker.Check(TAV_E_SUBTITLE_LOAD);

  ComPtr<IBaseFilter> filter;
  checker.Check(CoCreateInstance(CLSID_SubtitleFilter, nullptr, CLSCTX_ALL, IID_IBaseFilter, filter.AsVoidOut()));
  checker.CheckPointer(filter);
  ComPtr<IBurnInFilter> burnIn = filter.As<IBurnInFilter>();
  checker.CheckPointer(burnIn);
  ComPtr<ISubtitleManager> manager = CreateSubtitleManager(checker, settings);
  if (reader) *reader = LenientReaderName(manager.Get());
  if (encoding) *encoding = SubtitleEncodingName(manager.Get());
  checker.SetContext("Subtitle Filter");
  checker.Check(burnIn->SetManager(manager.Get()));
  checker.Check(graph->AddFilter(filter.Get(), kBurnInFilterName));

  const ComPtr<IPin> input = FirstPinOf(filter.Get(), PINDIR_INPUT);
  const ComPtr<IPin> output = FirstPinOf(filter.Get(), PINDIR_OUTPUT);
  if (!input || !output || FAILED(graph->ConnectDirect(pin, input.Get(), nullptr))) {
    graph->RemoveFilter(filter.Get());
    checker.Check(VFW_E_CANNOT_CONNECT);
  }
  return output;
}

}  // namespace tav
