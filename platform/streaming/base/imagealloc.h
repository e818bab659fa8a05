// CImageAllocator: the video renderer's own allocator. Its samples (CImageSample) carry
// the bitmap layout of the connected video type, so a renderer can tell its own buffers
// from foreign ones and draw them without converting. The memory of an image comes from
// CreateImageMemory, which a renderer may override to place images in drawing surfaces
// (a section bitmap); the default is plain memory.
#pragma once

#include "platform/streaming/base/allocator.h"
#include "platform/streaming/base/basefilter.h"

// The drawing-surface view of one image.
struct DIBDATA {
  HBITMAP hBitmap = nullptr;     // a section bitmap when the memory lives in one
  BYTE* pBase = nullptr;         // first byte of the image
  LONG cbImage = 0;              // bytes
  BITMAPINFOHEADER header{};     // the layout the image was made for
  LONG lStride = 0;              // bytes per row
  BOOL bSyncSample = FALSE;      // drawn since it was last filled
  void* pOwnerData = nullptr;    // whatever CreateImageMemory wants back in FreeImageMemory
};

class CImageSample : public CMediaSample {
 public:
  CImageSample(CBaseAllocator* allocator, LPCTSTR name, HRESULT* phr, LPBYTE buffer, LONG length);
  void SetDIBData(const DIBDATA& dib) { m_DibData = dib; }
  DIBDATA* GetDIBData() { return &m_DibData; }

 private:
  DIBDATA m_DibData;
};

class CImageAllocator : public CBaseAllocator {
 public:
  CImageAllocator(CBaseFilter* filter, LPCTSTR name, HRESULT* phr);
  ~CImageAllocator() override;

  // The allocator is part of its filter: its references are the filter's.
  STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

  // The video type the images are made for (set before the allocator is committed).
  void NotifyMediaType(const CMediaType* mt);
  // Buffers are at least one image of the connected type; count at least one.
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;

 protected:
  // Fills dib with memory for one image of size bytes; override to use a drawing surface.
  virtual HRESULT CreateImageMemory(LONG size, DIBDATA* dib);
  virtual void FreeImageMemory(DIBDATA* dib);
  HRESULT Alloc() override;
  void Free() override;

  CBaseFilter* m_pFilter;       // owner, not counted
  CMediaType m_mtImage;         // guarded by the allocator's lock
};
