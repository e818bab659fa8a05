// "Audio compression factory" and the objects it hands out: a wrapper of one audio
// compression driver for one compressed format tag (CAudioFormatDriver) and the enumerator
// of all such tags (CEnumAudioFormatTags). The audio compressor filter finds its output
// formats through them.
#pragma once

#include <mutex>
#include <vector>

#include "libs/vxvideokit/vxvideokit.h"
#include "media/contract/msacm.h"
#include "platform/streaming/base/combase.h"
#include "platform/streaming/base/dllsetup.h"

namespace vxvk {

// A format block: a WAVEFORMATEX and its extra bytes (a PCM format is kept with cbSize 0).
using WaveFormatBlock = std::vector<BYTE>;

// The bytes a caller's format occupies: 16 for PCM, else the structure and cbSize bytes.
DWORD WaveFormatBytes(const WAVEFORMATEX& w);
// A copy of a caller's format as a block (18 bytes at least).
WaveFormatBlock CopyWaveFormat(const WAVEFORMATEX& w);
// A block in task memory, for handing out through an interface.
HRESULT ToTaskMemory(const WaveFormatBlock& block, WAVEFORMATEX** format, DWORD* bytes);

// One (driver, compressed tag) pair of the installed drivers.
struct FormatTagEntry {
  HACMDRIVERID driver;
  WORD tag;
};
// All compressed tags of all drivers, in driver priority order.
std::vector<FormatTagEntry> InstalledFormatTags();

}  // namespace vxvk

class CAudioFormatDriver final : public CUnknown, public IAudioFormatDriver {
 public:
  // Opens the driver; *phr is set to E_FAIL when it cannot be opened.
  CAudioFormatDriver(HACMDRIVERID driver, WORD tag, HRESULT* phr);
  ~CAudioFormatDriver() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  STDMETHODIMP GetNames(char* driverName, char* tagName) override;
  STDMETHODIMP GetFormatTag(WORD* tag) override;
  STDMETHODIMP GetFormatCount(DWORD* count) override;
  STDMETHODIMP GetFormat(DWORD index, WAVEFORMATEX** format, DWORD* bytes) override;
  STDMETHODIMP SuggestFormat(const WAVEFORMATEX* source, WAVEFORMATEX** format, DWORD* bytes) override;
  STDMETHODIMP CanConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* target) override;

  // The same calls for code of the library, without task memory.
  bool Suggest(const WAVEFORMATEX& source, vxvk::WaveFormatBlock* out);
  bool Converts(const WAVEFORMATEX& source, const WAVEFORMATEX& target);
  const std::vector<vxvk::WaveFormatBlock>& Formats();

 private:
  const HACMDRIVERID m_driverId;
  const WORD m_tag;
  HACMDRIVER m_driver = nullptr;  // open for the object's life
  // Guards m_formats, read from the driver on first use.
  std::mutex m_lock;
  std::vector<vxvk::WaveFormatBlock> m_formats;  // guarded by m_lock
  bool m_formatsRead = false;                    // guarded by m_lock
};

class CEnumAudioFormatTags final : public CUnknown, public IEnumAudioFormatTags {
 public:
  CEnumAudioFormatTags(std::vector<vxvk::FormatTagEntry> entries, size_t position);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  STDMETHODIMP Next(ULONG count, IAudioFormatDriver** drivers, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumAudioFormatTags** clone) override;

 private:
  const std::vector<vxvk::FormatTagEntry> m_entries;
  std::mutex m_lock;      // guards m_position
  size_t m_position = 0;  // guarded by m_lock
};

class CAudioCompressionFactory final : public CUnknown, public IAudioCompressionFactory {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  STDMETHODIMP EnumFormatTags(IEnumAudioFormatTags** tags) override;
  STDMETHODIMP GetDriver(WORD tag, IAudioFormatDriver** driver) override;

 private:
  explicit CAudioCompressionFactory(LPUNKNOWN outer);
};
