#include "converter/engine/burninstage.h"

#include <memory>

#include "converter/engine/graphwalk.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/memoryowners.h"

namespace tav {

namespace {

// The interface takes strings as BSTRs; settings hold ANSI text.
BstrPtr ToBstr(const std::string& ansi) { return BstrPtr::Copy(AnsiToWide(ansi).c_str()); }

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
  const BstrPtr file = ToBstr(settings.file);
  const BstrPtr size = ToBstr(settings.sizeId);
  const BstrPtr language = ToBstr(settings.language);
  if (!file || !size || !language) checker.Check(E_OUTOFMEMORY);
  checker.Check(manager->LoadFile(file.Get(), FALSE));
  checker.Check(manager->SelectSizeById(size.Get()));
  checker.Check(manager->SelectLanguageByCode(language.Get()));
  return manager;
}

std::string LenientReaderName(ISubtitleManager* manager) {
  ComPtr<ISubtitleFileInfo> info;
  if (!manager || FAILED(manager->QueryInterface(IID_ISubtitleFileInfo, info.AsVoidOut())) || !info) return {};
  TaskMemPtr<WCHAR> name;
  const HRESULT hr = info->GetReaderName(name.Out());
  return hr == S_OK && name ? WideToAnsi(std::u16string_view(name.Get())) : std::string();
}

std::string SubtitleEncodingName(ISubtitleManager* manager) {
  ComPtr<ISubtitleFileInfo> info;
  if (!manager || FAILED(manager->QueryInterface(IID_ISubtitleFileInfo, info.AsVoidOut())) || !info) return {};
  TaskMemPtr<WCHAR> name;
  const HRESULT hr = info->GetEncodingName(name.Out());
  return SUCCEEDED(hr) && name ? WideToAnsi(std::u16string_view(name.Get())) : std::string();
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
