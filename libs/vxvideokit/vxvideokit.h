// VxVideoKit's public interface: the class identifiers of its filters and the private
// control interfaces the converter reaches them through. Include this header; never link
// the library (its objects are created by class identifier).
#pragma once

#include "media/contract/mediatypes.h"
#include "media/contract/strmif.h"
#include "media/contract/unknown.h"

// ---- classes -------------------------------------------------------------------------------

// "VXCMN Deferred Resizer": scales frames when a downstream filter first reads them.
TAV_DEFINE_GUID(CLSID_VxDeferredResizer, 0xA01811DC, 0xAFBF, 0x490D, 0x89, 0x87, 0x7C, 0xDC, 0x53, 0x92, 0x74, 0xE8);
// "VXCMN Frame Rate Converter": drops and repeats frames to a fixed rate.
TAV_DEFINE_GUID(CLSID_VxFrameRateConverter, 0x5A43E2A7, 0xF981, 0x41F0, 0x8F, 0x8D, 0x50, 0xC6, 0x53, 0xAB, 0x6D, 0x60);
// "VXCMN Audio channel mixer" (ChannelDownmixer): folds any layout to the configured one.
TAV_DEFINE_GUID(CLSID_VxChannelDownmixer, 0xCC8153B2, 0xBFB0, 0x4B33, 0xAB, 0x54, 0x18, 0x1D, 0xAE, 0x73, 0x7E, 0xC7);

// Classes of the library that other parts of it provide.
TAV_DEFINE_GUID(CLSID_VxAudioCompressor, 0x64DBE03A, 0xA713, 0x45DF, 0x98, 0xCF, 0xF2, 0xB9, 0x7F, 0x8D, 0x08, 0x56);
TAV_DEFINE_GUID(CLSID_VxAudioCompressionFactory, 0x715A0A2F, 0x5C35, 0x4A91, 0xB3, 0x39, 0x88, 0x5A, 0x8B, 0xA0, 0x96, 0x12);
TAV_DEFINE_GUID(CLSID_VxInterlaceModeChecker, 0x77847556, 0x6768, 0x4BD9, 0x9A, 0xAD, 0x32, 0x6B, 0x12, 0xD7, 0x28, 0xF5);
TAV_DEFINE_GUID(CLSID_VxVideoAnalyzer, 0xC875E88C, 0x0762, 0x4808, 0x92, 0x43, 0x6A, 0x6C, 0x10, 0x77, 0xDD, 0x66);
TAV_DEFINE_GUID(CLSID_VxVideoResizer, 0xC30BBD34, 0x76BF, 0x4D59, 0x8A, 0xA7, 0x15, 0x2E, 0x87, 0x5D, 0x44, 0x6C);
TAV_DEFINE_GUID(CLSID_VxResizerProperties, 0xF5ED8920, 0x79A7, 0x46FD, 0x83, 0x66, 0x41, 0x43, 0x0C, 0xF9, 0x0B, 0x2E);
TAV_DEFINE_GUID(CLSID_VxVideoHeaderAdapter, 0x5DFE9C7B, 0xA9B5, 0x48C5, 0xA1, 0xE4, 0xEC, 0x65, 0xAE, 0x7C, 0xF7, 0x42);
TAV_DEFINE_GUID(CLSID_VxMediaReaderHolder, 0xAC53E022, 0xB59B, 0x44F6, 0xBF, 0xBC, 0xF1, 0x57, 0x77, 0x4B, 0x70, 0x72);
TAV_DEFINE_GUID(CLSID_VxMediaReaderFilter, 0x3CEE4CF0, 0x6FDA, 0x4FDE, 0x84, 0xD1, 0xBF, 0x19, 0x9D, 0x2B, 0xED, 0x77);

// ---- IResizerControl -----------------------------------------------------------------------

TAV_DEFINE_GUID(IID_IResizerControl, 0x4ADA63A0, 0x72D5, 0x11D2, 0x95, 0x2A, 0x00, 0x60, 0x08, 0x18, 0x40, 0xBC);

// Resize modes of SetOutputSize. Any other value behaves as 0.
enum VxResizeMode : int {
  VXRESIZE_STRETCH = 0,  // whole picture to the whole frame, aspect not kept
  VXRESIZE_CENTRE = 1,   // 1:1, centred; cut or black borders
  VXRESIZE_FIT = 2,      // aspect kept, black borders
  VXRESIZE_CROP = 3,     // aspect kept, cut on both sides
};

// Output size and mode of a resizer. Every method takes the filter lock.
struct IResizerControl : IUnknown {
  // biHeight / biWidth of the configured output type and the mode. E_POINTER for null;
  // E_UNEXPECTED while no output type is configured.
  STDMETHOD(GetOutputSize)(int* height, int* width, int* mode) = 0;
  // biHeight / biWidth of the input connection type. E_POINTER for null or no input type.
  STDMETHOD(GetInputSize)(int* height, int* width) = 0;
  // Stores the size into the configured type (image and sample size recomputed) and the
  // mode; a new size on a connected output pin reconnects that pin first.
  STDMETHOD(SetOutputSize)(int height, int width, int mode) = 0;
  // Deep copy of the configured output type into the caller's structure (the caller frees
  // its format block with the task allocator).
  STDMETHOD(GetOutputType)(AM_MEDIA_TYPE* type) = 0;
  // Only while unconnected (VFW_E_ALREADY_CONNECTED); video, FORMAT_VideoInfo and a
  // non-zero sample size (VFW_E_INVALID_MEDIA_TYPE).
  STDMETHOD(SetOutputType)(const AM_MEDIA_TYPE* type) = 0;
};
TAV_INTERFACE(IResizerControl, IID_IResizerControl);

// ---- IInterlaceModeRegistry ----------------------------------------------------------------

struct IBaseFilter;

TAV_DEFINE_GUID(IID_IInterlaceModeRegistry, 0x5ADA2AC2, 0x97ED, 0x47BC, 0xBF, 0xE8, 0xFE, 0xAF, 0x69, 0x04, 0xF3, 0xBF);

// "VXCMN Resizer Properties" (CLSID_VxResizerProperties), one per process: which interlace
// treatment the bilinear video resizer gives the frames of a source file. An entry maps a
// file name (compared without regard to case) and a time range in 100-ns units (start and
// stop both -1: the whole file) to a field mode (2 or 3: field-wise sampling) and a prepass
// type (1 line doubling, 2 line interpolation, 3 adaptive blend). No lock of its own: use it
// from one thread at a time.
struct IInterlaceModeRegistry : IUnknown {
  // Removes every entry.
  STDMETHOD(Clear)() = 0;
  // Updates the entry of the same name and range, else appends one. E_INVALIDARG for null.
  STDMETHOD(SetMode)(LPCWSTR file, REFERENCE_TIME start, REFERENCE_TIME stop, int fieldMode, int prepassType) = 0;
  // TRUE when there is no entry. E_POINTER for null.
  STDMETHOD(IsEmpty)(BOOL* empty) = 0;
  // Both outputs 0, then the first matching entry's values: S_OK; no match: S_FALSE.
  // E_INVALIDARG for a null name, E_POINTER for null outputs.
  STDMETHOD(Lookup)(LPCWSTR file, REFERENCE_TIME time, int* fieldMode, int* prepassType) = 0;
  // Lookup for the file of the source filter upstream of `filter`.
  STDMETHOD(LookupByFilter)(IBaseFilter* filter, REFERENCE_TIME time, int* fieldMode, int* prepassType) = 0;
  // The current file of the source filter upstream of `filter` (task-allocated; the caller
  // frees it). S_FALSE and null when no source is found.
  STDMETHOD(GetSourceFileName)(IBaseFilter* filter, LPOLESTR* name) = 0;
};
TAV_INTERFACE(IInterlaceModeRegistry, IID_IInterlaceModeRegistry);

// ---- IFrameRateControl ---------------------------------------------------------------------

TAV_DEFINE_GUID(IID_IFrameRateControl, 0x97BDA943, 0x95A6, 0x4A59, 0xB9, 0x9E, 0x38, 0x74, 0x1D, 0x21, 0x78, 0x49);

struct IFrameRateControl : IUnknown {
  // The target rate in frames per second (0: pass-through). E_POINTER for null.
  STDMETHOD(GetFrameRate)(double* fps) = 0;
  // E_INVALIDARG for a negative (or not finite) rate. Time stamps follow at once; types at
  // the next connection.
  STDMETHOD(SetFrameRate)(double fps) = 0;
};
TAV_INTERFACE(IFrameRateControl, IID_IFrameRateControl);

// ---- IChannelDownmixerSettings -------------------------------------------------------------

TAV_DEFINE_GUID(IID_IChannelDownmixerSettings, 0x2D1AE100, 0x336D, 0x4F8C, 0x9B, 0xAF, 0x45, 0xCC, 0x1B, 0xD7, 0xB5, 0x14);

// Sizes of the three blocks of the channel mixer's settings record.
constexpr DWORD VXDOWNMIX_FORMAT_BLOCK_BYTES = 44;   // output format and input constraints
constexpr DWORD VXDOWNMIX_GAIN_BLOCK_BYTES = 216;    // input, output and master gains
constexpr DWORD VXDOWNMIX_MATRIX_BLOCK_BYTES = 524;  // custom matrix switch and flags
constexpr DWORD VXDOWNMIX_SPEAKERS = 18;

// Settings of the channel mixer. The three blocks are copied whole; a null pointer skips its
// block. Changing the format block while a pin is connected gives VFW_E_ALREADY_CONNECTED.
struct IChannelDownmixerSettings : IUnknown {
  STDMETHOD(GetSettings)(BYTE* formatBlock, BYTE* gainBlock, BYTE* matrixBlock) = 0;
  // E_INVALIDARG when the resulting settings cannot produce an output format.
  STDMETHOD(SetSettings)(const BYTE* formatBlock, const BYTE* gainBlock, const BYTE* matrixBlock) = 0;
  // Whether the input and the output pin are connected. E_POINTER for null.
  STDMETHOD(GetPinConnections)(BOOL* inputConnected, BOOL* outputConnected) = 0;
  // The custom matrix: 18 x 18 coefficients, [output position][input position], row by row.
  STDMETHOD(GetMatrix)(double* coefficients) = 0;
  STDMETHOD(SetMatrix)(const double* coefficients) = 0;
};
TAV_INTERFACE(IChannelDownmixerSettings, IID_IChannelDownmixerSettings);

// ---- IMediaReaderControl -------------------------------------------------------------------

TAV_DEFINE_GUID(IID_IMediaReaderControl, 0x36A26DA3, 0xBB85, 0x41B2, 0x86, 0x4E, 0xF4, 0xE1, 0x9A, 0x54, 0xE3, 0x37);

// The control of "VXCMN Media Reader Filter", a sink that keeps one sample. Every method
// takes the filter lock.
struct IMediaReaderControl : IUnknown {
  // Appends a copy of an acceptable type. A type without a format block matches by major
  // type, subtype and format type; one with a block must be equal. E_POINTER for null.
  STDMETHOD(AddAcceptedType)(const AM_MEDIA_TYPE* type) = 0;
  // The input pin's connection type (the caller frees its contents). VFW_E_NOT_CONNECTED.
  STDMETHOD(GetConnectedType)(AM_MEDIA_TYPE* type) = 0;
  // Reserved: E_NOTIMPL, or E_POINTER when an argument is null.
  STDMETHOD(Reserved3)(void* a, void* b, void* c, void* d, void* e) = 0;
  STDMETHOD(Reserved4)(void* a, void* b) = 0;
  STDMETHOD(Reserved5)() = 0;
  // Hands over the held sample: a task-allocated buffer the caller frees, its length, and
  // (when type is not null) the connection type. The reader is then empty and takes the
  // next sample. E_UNEXPECTED when unconnected, E_FAIL when nothing is held.
  STDMETHOD(TakeSample)(BYTE** data, LONG* length, AM_MEDIA_TYPE* type) = 0;
};
TAV_INTERFACE(IMediaReaderControl, IID_IMediaReaderControl);

// ---- IMediaReaderHolder --------------------------------------------------------------------

// Both identifiers give the same interface.
TAV_DEFINE_GUID(IID_IMediaReaderHolder, 0xAA7BA87B, 0xCB50, 0x4832, 0xB5, 0x98, 0x54, 0xEF, 0x1C, 0x5F, 0x28, 0x60);
TAV_DEFINE_GUID(IID_IMediaReaderHolder2, 0x5260A281, 0x6C41, 0x471F, 0x86, 0x2E, 0x13, 0x0A, 0xCD, 0xD3, 0x18, 0xD9);

// "KORVA Media Reader Holder": reads single decoded samples (typically RGB24 frames) out of a
// media file through a private graph that runs without a clock. Calls come from one thread.
struct IMediaReaderHolder : IUnknown {
  // Builds the graph: the file's source, then the stream of streamType (any stream when null
  // or when the source has no such pin) rendered into a reader that accepts `types`. A time
  // format the graph supports is selected. A failure leaves the holder as far as it got;
  // E_UNEXPECTED once open.
  STDMETHOD(Open)(LPCWSTR file, const GUID* streamType, int typeCount, const AM_MEDIA_TYPE* types,
                  const GUID* timeFormat, IUnknown* site) = 0;
  // Reserved: E_NOTIMPL once open, else E_UNEXPECTED.
  STDMETHOD(Reserved2)() = 0;
  // Seeks to `time` (when the file can seek), runs the graph until the reader holds one
  // sample and hands it over as IMediaReaderControl::TakeSample does. E_FAIL when the stream
  // ends first (a time past the end). E_UNEXPECTED before Open.
  STDMETHOD(ReadSample)(REFERENCE_TIME time, BYTE** data, LONG* length, AM_MEDIA_TYPE* type) = 0;
  // The reader's connection type. E_UNEXPECTED before Open.
  STDMETHOD(GetConnectedType)(AM_MEDIA_TYPE* type) = 0;
  // The duration read at Open; E_FAIL with 0x7FFFFFFFFFFFFFFF when the graph gave none.
  STDMETHOD(GetDuration)(LONGLONG* duration) = 0;
  // Reserved: E_NOTIMPL.
  STDMETHOD(Reserved6)() = 0;
  // Open for decoded RGB24 video (VIDEOINFOHEADER or VIDEOINFOHEADER2).
  STDMETHOD(OpenVideo)(LPCWSTR file, const GUID* timeFormat, IUnknown* site) = 0;
};
TAV_INTERFACE(IMediaReaderHolder, IID_IMediaReaderHolder);

// ---- IInterlaceModeCheck -------------------------------------------------------------------

TAV_DEFINE_GUID(IID_IInterlaceModeCheck, 0x5FB2E5F1, 0xCAF8, 0x44C3, 0x9A, 0x6A, 0x04, 0x97, 0xAF, 0x1B, 0x4C, 0xA3);

// The verdict of "VXCMN Interlace Mode Checker" on the frames it has seen.
struct IInterlaceModeCheck : IUnknown {
  // 1 progressive, 2 interlaced with field 1 (the top row's field) first, 3 interlaced with
  // field 2 first; 0 before anything was seen. E_POINTER for null.
  STDMETHOD(GetInterlaceMode)(int* mode) = 0;
};
TAV_INTERFACE(IInterlaceModeCheck, IID_IInterlaceModeCheck);

// ---- ISceneAnalyser ------------------------------------------------------------------------

TAV_DEFINE_GUID(IID_ISceneAnalyser, 0xD64AFD1B, 0xF1C6, 0x4DDC, 0xBC, 0x39, 0xE9, 0x22, 0x1C, 0x68, 0xD3, 0xF8);

// The scenes "VXCMN Video Analizer Filter" has cut its stream into.
struct ISceneAnalyser : IUnknown {
  // The filter's pin `index` with a reference. VFW_E_NOT_FOUND past the last pin.
  STDMETHOD(GetPin)(int index, IPin** pin) = 0;
  // Discards the analysis; TRUE starts a fresh one (the filter starts enabled), FALSE leaves
  // the filter passing frames unanalysed.
  STDMETHOD(Reset)(BOOL enable) = 0;
  // Start times (seconds) of all scenes, in a task-allocated array the caller frees.
  // E_UNEXPECTED while disabled.
  STDMETHOD(GetSceneStarts)(int* count, double** times) = 0;
  // The same for the scenes not returned by this method before (a null array when none);
  // they count as returned afterwards.
  STDMETHOD(GetNewSceneStarts)(int* count, double** times) = 0;
};
TAV_INTERFACE(ISceneAnalyser, IID_ISceneAnalyser);
