// "VXCMN Qvf Reader Filter": a pull-model source that hands a QVF (or AVI) file to the
// AVI splitter as a byte stream through IAsyncReader, with the one header byte that
// differs from AVI delivered as AVI has it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "libs/qvfreader/qvffilestream.h"
#include "libs/qvfreader/qvfrequestengine.h"
#include "platform/streaming/base/streams.h"

class CQvfReaderFilter;

class CQvfOutputPin final : public CBasePin, public IAsyncReader {
 public:
  CQvfOutputPin(CQvfReaderFilter* filter, CCritSec* lock, HRESULT* phr);
  ~CQvfOutputPin() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Negotiation
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT BreakConnect() override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  HRESULT CheckMediaType(const CMediaType* mt) override;
  // The file is closed when the filter stops; the next read opens it again.
  HRESULT Inactive() override;

  // IAsyncReader (BeginFlush / EndFlush also answer IPin's)
  STDMETHODIMP RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                                IMemAllocator** actual) override;
  STDMETHODIMP Request(IMediaSample* sample, DWORD_PTR user) override;
  STDMETHODIMP WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* user) override;
  STDMETHODIMP SyncReadAligned(IMediaSample* sample) override;
  STDMETHODIMP SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
  STDMETHODIMP Length(LONGLONG* total, LONGLONG* available) override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

  // A new file was loaded: the probe starts over.
  void ResetProbe();

 private:
  // Probes the file once per load (not when it can't be opened). Filter lock held.
  void ProbeLocked();

  CQvfReaderFilter* const reader_;
  // Negotiation state, guarded by the filter lock.
  std::vector<CMediaType> probedTypes_;
  bool probed_ = false;
  // Set when the connecting pin asks for IAsyncReader; CompleteConnect needs it.
  bool readerRequested_ = false;
  // The file and the reads: stream_ must outlive engine_.
  QvfFileStream stream_;
  QvfRequestEngine engine_;
};

class CQvfReaderFilter final : public CBaseFilter, public IFileSourceFilter {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
  CQvfReaderFilter(LPUNKNOWN outer, HRESULT* phr);
  ~CQvfReaderFilter() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IFileSourceFilter
  STDMETHODIMP Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) override;

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;

  // For the pin; filter lock held by the caller.
  std::string AnsiFileNameLocked() const;
  bool TypeGivenLocked() const { return typeGiven_; }
  const CMediaType& LoadTypeLocked() const { return loadType_; }
  CCritSec* Lock() { return &lock_; }

 private:
  // Guards the file name, the load type and the pin's negotiation state.
  CCritSec lock_;
  std::u16string fileName_;  // guarded by lock_
  bool haveName_ = false;    // guarded by lock_
  CMediaType loadType_;      // guarded by lock_
  bool typeGiven_ = false;   // guarded by lock_
  std::unique_ptr<CQvfOutputPin> pin_;
};

extern const AMOVIESETUP_FILTER sudQvfReader;
