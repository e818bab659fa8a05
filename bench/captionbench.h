// The caption the drawing benchmarks burn in: two lines shown for the whole first hour, loaded
// into a Subtitle Manager from a file of their own under the temporary folder.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "libs/captionparser/subtitlemanager.h"
#include "media/contract/comptr.h"

namespace captionbench {

constexpr REFERENCE_TIME kSecond = 10'000'000;

class TwoLineCaption {
 public:
  // `fileName`: the benchmark's own, so that two benchmarks can run at once.
  explicit TwoLineCaption(const std::string& fileName)
      : m_path((std::filesystem::temp_directory_path() / fileName).string()) {
    std::ofstream(m_path) << "1\n00:00:00,000 --> 01:00:00,000\n"
                             "This is the first line of the caption\nand here is the second one\n\n";
    HRESULT hr = E_FAIL;
    CUnknown* made = CSubtitleManager::CreateInstance(nullptr, &hr);
    if (made) made->NonDelegatingQueryInterface(IID_ISubtitleManager, m_manager.AsVoidOut());
    const std::u16string wide(m_path.begin(), m_path.end());
    if (m_manager && m_manager->LoadFile(wide.c_str(), FALSE) != S_OK) m_manager = nullptr;
    if (!m_manager) std::fprintf(stderr, "cannot load %s\n", m_path.c_str());
  }
  ~TwoLineCaption() { std::filesystem::remove(m_path); }
  TwoLineCaption(const TwoLineCaption&) = delete;
  TwoLineCaption& operator=(const TwoLineCaption&) = delete;

  // Null when the caption could not be loaded (the reason is printed).
  ISubtitleManager* Manager() const { return m_manager.Get(); }

 private:
  std::string m_path;
  ComPtr<ISubtitleManager> m_manager;
};

}  // namespace captionbench
