// The streaming framework's interfaces, structures, event codes, seeking flags and merit
// values: what filters, the graph manager and the application talk through. Automation
// interfaces (IMediaControl, IMediaPosition, IVideoWindow, ...) are plain IUnknown
// descendants here, with the same methods in the same order.
#pragma once

#include "media/contract/mediatypes.h"
#include "media/contract/objidl.h"
#include "media/contract/unknown.h"

// ---- basic types ------------------------------------------------------------------------

using REFTIME = double;          // seconds, as the automation interfaces use them
using OAFilterState = LONG;
using OAHWND = LONG_PTR;
using OAEVENT = LONG_PTR;
using HEVENT = DWORD_PTR;        // an event HANDLE passed through IReferenceClock
using HSEMAPHORE = DWORD_PTR;    // a HANDLE signalled once per period (an auto-reset event here)

constexpr REFERENCE_TIME MILLISECONDS = 10000;
constexpr REFERENCE_TIME UNITS = 10000000;
constexpr REFERENCE_TIME MAX_TIME = 0x7FFFFFFFFFFFFFFFLL;

#define CHARS_IN_GUID 39
#define MAX_PIN_NAME 128
#define MAX_FILTER_NAME 128

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

// ---- interface identifiers ----------------------------------------------------------------

#define TAV_STRM_IID(name, l) \
  TAV_DEFINE_GUID(name, l, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70)
TAV_STRM_IID(IID_IPin, 0x56A86891);
TAV_STRM_IID(IID_IEnumPins, 0x56A86892);
TAV_STRM_IID(IID_IEnumFilters, 0x56A86893);
TAV_STRM_IID(IID_IBaseFilter, 0x56A86895);
TAV_STRM_IID(IID_IReferenceClock, 0x56A86897);
TAV_STRM_IID(IID_IMediaFilter, 0x56A86899);
TAV_STRM_IID(IID_IMediaSample, 0x56A8689A);
TAV_STRM_IID(IID_IMemAllocator, 0x56A8689C);
TAV_STRM_IID(IID_IMemInputPin, 0x56A8689D);
TAV_STRM_IID(IID_IFilterGraph, 0x56A8689F);
TAV_STRM_IID(IID_IMediaEventSink, 0x56A868A2);
TAV_STRM_IID(IID_IQualityControl, 0x56A868A5);
TAV_STRM_IID(IID_IFileSourceFilter, 0x56A868A6);
TAV_STRM_IID(IID_IGraphBuilder, 0x56A868A9);
TAV_STRM_IID(IID_IAsyncReader, 0x56A868AA);
TAV_STRM_IID(IID_IMediaControl, 0x56A868B1);
TAV_STRM_IID(IID_IMediaPosition, 0x56A868B2);
TAV_STRM_IID(IID_IBasicAudio, 0x56A868B3);
TAV_STRM_IID(IID_IVideoWindow, 0x56A868B4);
TAV_STRM_IID(IID_IBasicVideo, 0x56A868B5);
TAV_STRM_IID(IID_IMediaEvent, 0x56A868B6);
TAV_STRM_IID(IID_IMediaEventEx, 0x56A868C0);
#undef TAV_STRM_IID
TAV_DEFINE_GUID(IID_IEnumMediaTypes, 0x89C31040, 0x846B, 0x11CE, 0x97, 0xD3, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
TAV_DEFINE_GUID(IID_IMediaSeeking, 0x36B73880, 0xC2C8, 0x11CF, 0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60);
TAV_DEFINE_GUID(IID_IFilterGraph2, 0x36B73882, 0xC2C8, 0x11CF, 0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60);
TAV_DEFINE_GUID(IID_IMediaSample2, 0x36B73884, 0xC2C8, 0x11CF, 0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60);
TAV_DEFINE_GUID(IID_IFileSinkFilter, 0xA2104830, 0x7C70, 0x11CF, 0x8B, 0xCE, 0x00, 0xAA, 0x00, 0xA3, 0xF1, 0xA6);
TAV_DEFINE_GUID(IID_IFilterMapper2, 0xB79BB0B0, 0x33C1, 0x11D1, 0xAB, 0xE1, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75);
TAV_DEFINE_GUID(IID_IAMFilterMiscFlags, 0x2DD74950, 0xA890, 0x11D1, 0xAB, 0xE8, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75);
TAV_DEFINE_GUID(IID_IAMGraphBuilderCallback, 0x4995F511, 0x9DDB, 0x4F12, 0xBD, 0x3B, 0xF0, 0x46, 0x11, 0x80, 0x7B,
                0x79);
TAV_DEFINE_GUID(IID_IObjectWithSite, 0xFC4801A3, 0x2BA9, 0x11CF, 0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D, 0x73, 0x52);
TAV_DEFINE_GUID(IID_IAMStreamConfig, 0xC6E13340, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56);
TAV_DEFINE_GUID(IID_IDMOWrapperFilter, 0x52D6F586, 0x9F0F, 0x4824, 0x8F, 0xC8, 0xE3, 0x2C, 0xA0, 0x49, 0x30, 0xC2);
TAV_DEFINE_GUID(IID_IDecimateVideoImage, 0x2E5EA3E0, 0xE924, 0x11D2, 0xB6, 0xDA, 0x00, 0xA0, 0xC9, 0x95, 0xE8,
                0xDF);
TAV_DEFINE_GUID(IID_IIPDVDec, 0xB8E8BD60, 0x0BFE, 0x11D0, 0xAF, 0x91, 0x00, 0xAA, 0x00, 0xB6, 0x7A, 0x42);
TAV_DEFINE_GUID(IID_ICaptureGraphBuilder2, 0x93E5A4E0, 0x2D50, 0x11D2, 0xAB, 0xFA, 0x00, 0xA0, 0xC9, 0xC6, 0xE3,
                0x8D);
TAV_DEFINE_GUID(IID_IGraphConfig, 0x03A1EB8E, 0x32BF, 0x4245, 0x85, 0x02, 0x11, 0x4D, 0x08, 0xA9, 0xCB, 0x88);
TAV_DEFINE_GUID(IID_IGraphConfigCallback, 0xADE0FD60, 0xD19D, 0x11D2, 0xAB, 0xF6, 0x00, 0xA0, 0xC9, 0x05, 0xF3,
                0x75);

// Time formats of IMediaSeeking.
TAV_DEFINE_GUID(TIME_FORMAT_NONE, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);
TAV_DEFINE_GUID(TIME_FORMAT_FRAME, 0x7B785570, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
TAV_DEFINE_GUID(TIME_FORMAT_BYTE, 0x7B785571, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
TAV_DEFINE_GUID(TIME_FORMAT_SAMPLE, 0x7B785572, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
TAV_DEFINE_GUID(TIME_FORMAT_FIELD, 0x7B785573, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
TAV_DEFINE_GUID(TIME_FORMAT_MEDIA_TIME, 0x7B785574, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);

// Pin categories and the look-up categories of ICaptureGraphBuilder2.
TAV_DEFINE_GUID(PIN_CATEGORY_CAPTURE, 0xFB6C4281, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);
TAV_DEFINE_GUID(PIN_CATEGORY_PREVIEW, 0xFB6C4282, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);
TAV_DEFINE_GUID(LOOK_UPSTREAM_ONLY, 0xAC798BE0, 0x98E3, 0x11D1, 0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5);
TAV_DEFINE_GUID(LOOK_DOWNSTREAM_ONLY, 0xAC798BE1, 0x98E3, 0x11D1, 0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5);

struct IPin;
struct IBaseFilter;
struct IFilterGraph;
struct IEnumMediaTypes;
struct IReferenceClock;
struct IMemAllocator;
struct IMediaSample;

// ---- structures -----------------------------------------------------------------------------

struct PIN_INFO {
  IBaseFilter* pFilter;  // holds a reference; the caller releases it
  PIN_DIRECTION dir;
  WCHAR achName[MAX_PIN_NAME];
};
struct FILTER_INFO {
  WCHAR achName[MAX_FILTER_NAME];
  IFilterGraph* pGraph;  // holds a reference when not null; the caller releases it
};
struct ALLOCATOR_PROPERTIES {
  LONG cBuffers;
  LONG cbBuffer;
  LONG cbAlign;
  LONG cbPrefix;
};

enum QualityMessageType { Famine = 0, Flood = 1 };
struct Quality {
  QualityMessageType Type;
  LONG Proportion;  // 1000 = the rate is right
  REFERENCE_TIME Late;
  REFERENCE_TIME TimeStamp;
};

// Sample flags of AM_SAMPLE2_PROPERTIES::dwSampleFlags.
enum AM_SAMPLE_PROPERTY_FLAGS : DWORD {
  AM_SAMPLE_SPLICEPOINT = 0x1,
  AM_SAMPLE_PREROLL = 0x2,
  AM_SAMPLE_DATADISCONTINUITY = 0x4,
  AM_SAMPLE_TYPECHANGED = 0x8,
  AM_SAMPLE_TIMEVALID = 0x10,
  AM_SAMPLE_TIMEDISCONTINUITY = 0x40,
  AM_SAMPLE_FLUSH_ON_PAUSE = 0x80,
  AM_SAMPLE_STOPVALID = 0x100,
  AM_SAMPLE_ENDOFSTREAM = 0x200,
  AM_STREAM_MEDIA = 0,
  AM_STREAM_CONTROL = 1,
};
struct AM_SAMPLE2_PROPERTIES {
  DWORD cbData;
  DWORD dwTypeSpecificFlags;
  DWORD dwSampleFlags;
  LONG lActual;
  REFERENCE_TIME tStart;
  REFERENCE_TIME tStop;
  DWORD dwStreamId;
  AM_MEDIA_TYPE* pMediaType;
  BYTE* pbBuffer;
  LONG cbBuffer;
};

// Flags of IMemAllocator::GetBuffer.
constexpr DWORD AM_GBF_PREVFRAMESKIPPED = 1;
constexpr DWORD AM_GBF_NOTASYNCPOINT = 2;
constexpr DWORD AM_GBF_NOWAIT = 4;
constexpr DWORD AM_GBF_NODDSURFACELOCK = 8;

// Filter data of the filter mapper.
struct REGPINTYPES {
  const CLSID* clsMajorType;
  const CLSID* clsMinorType;
};
struct REGPINMEDIUM {
  CLSID clsMedium;
  DWORD dw1;
  DWORD dw2;
};
struct REGFILTERPINS {
  LPCWSTR strName;
  BOOL bRendered;
  BOOL bOutput;
  BOOL bZero;
  BOOL bMany;
  const CLSID* clsConnectsToFilter;
  LPCWSTR strConnectsToPin;
  UINT nMediaTypes;
  const REGPINTYPES* lpMediaType;
};
constexpr DWORD REG_PINFLAG_B_ZERO = 0x1;
constexpr DWORD REG_PINFLAG_B_RENDERER = 0x2;
constexpr DWORD REG_PINFLAG_B_MANY = 0x4;
constexpr DWORD REG_PINFLAG_B_OUTPUT = 0x8;
struct REGFILTERPINS2 {
  DWORD dwFlags;
  UINT cInstances;
  UINT nMediaTypes;
  const REGPINTYPES* lpMediaType;
  UINT nMediums;
  const REGPINMEDIUM* lpMedium;
  const CLSID* clsPinCategory;
};
// dwVersion 1 uses rgPins, version 2 rgPins2.
struct REGFILTER2 {
  DWORD dwVersion;
  DWORD dwMerit;
  union {
    struct {
      ULONG cPins;
      const REGFILTERPINS* rgPins;
    };
    struct {
      ULONG cPins2;
      const REGFILTERPINS2* rgPins2;
    };
  };
};

enum : DWORD {
  MERIT_PREFERRED = 0x800000,
  MERIT_NORMAL = 0x600000,
  MERIT_UNLIKELY = 0x400000,
  MERIT_DO_NOT_USE = 0x200000,
  MERIT_SW_COMPRESSOR = 0x100000,
  MERIT_HW_COMPRESSOR = 0x100050,
};

// IAMFilterMiscFlags.
enum AM_FILTER_MISC_FLAGS : ULONG {
  AM_FILTER_MISC_FLAGS_IS_RENDERER = 0x1,
  AM_FILTER_MISC_FLAGS_IS_SOURCE = 0x2,
};

// IFilterGraph2::RenderEx.
constexpr DWORD AM_RENDEREX_RENDERTOEXISTINGRENDERERS = 0x1;

// ---- seeking -------------------------------------------------------------------------------

enum AM_SEEKING_SeekingFlags : DWORD {
  AM_SEEKING_NoPositioning = 0x0,
  AM_SEEKING_AbsolutePositioning = 0x1,
  AM_SEEKING_RelativePositioning = 0x2,
  AM_SEEKING_IncrementalPositioning = 0x3,
  AM_SEEKING_PositioningBitsMask = 0x3,
  AM_SEEKING_SeekToKeyFrame = 0x4,
  AM_SEEKING_ReturnTime = 0x8,
  AM_SEEKING_Segment = 0x10,
  AM_SEEKING_NoFlush = 0x20,
};
enum AM_SEEKING_SEEKING_CAPABILITIES : DWORD {
  AM_SEEKING_CanSeekAbsolute = 0x1,
  AM_SEEKING_CanSeekForwards = 0x2,
  AM_SEEKING_CanSeekBackwards = 0x4,
  AM_SEEKING_CanGetCurrentPos = 0x8,
  AM_SEEKING_CanGetStopPos = 0x10,
  AM_SEEKING_CanGetDuration = 0x20,
  AM_SEEKING_CanPlayBackwards = 0x40,
  AM_SEEKING_CanDoSegments = 0x80,
  AM_SEEKING_Source = 0x100,
};

// ---- event codes ---------------------------------------------------------------------------

constexpr LONG EC_SYSTEMBASE = 0x00;
constexpr LONG EC_COMPLETE = 0x01;
constexpr LONG EC_USERABORT = 0x02;
constexpr LONG EC_ERRORABORT = 0x03;
constexpr LONG EC_TIME = 0x04;
constexpr LONG EC_REPAINT = 0x05;
constexpr LONG EC_STREAM_ERROR_STOPPED = 0x06;
constexpr LONG EC_STREAM_ERROR_STILLPLAYING = 0x07;
constexpr LONG EC_ERROR_STILLPLAYING = 0x08;
constexpr LONG EC_PALETTE_CHANGED = 0x09;
constexpr LONG EC_VIDEO_SIZE_CHANGED = 0x0A;
constexpr LONG EC_QUALITY_CHANGE = 0x0B;
constexpr LONG EC_SHUTTING_DOWN = 0x0C;
constexpr LONG EC_CLOCK_CHANGED = 0x0D;
constexpr LONG EC_PAUSED = 0x0E;
constexpr LONG EC_OPENING_FILE = 0x10;
constexpr LONG EC_BUFFERING_DATA = 0x11;
constexpr LONG EC_FULLSCREEN_LOST = 0x12;
constexpr LONG EC_ACTIVATE = 0x13;
constexpr LONG EC_NEED_RESTART = 0x14;
constexpr LONG EC_WINDOW_DESTROYED = 0x15;
constexpr LONG EC_DISPLAY_CHANGED = 0x16;
constexpr LONG EC_STARVATION = 0x17;
constexpr LONG EC_OLE_EVENT = 0x18;
constexpr LONG EC_NOTIFY_WINDOW = 0x19;
constexpr LONG EC_STREAM_CONTROL_STOPPED = 0x1A;
constexpr LONG EC_STREAM_CONTROL_STARTED = 0x1B;
constexpr LONG EC_END_OF_SEGMENT = 0x1C;
constexpr LONG EC_SEGMENT_STARTED = 0x1D;
constexpr LONG EC_LENGTH_CHANGED = 0x1E;
constexpr LONG EC_DEVICE_LOST = 0x1F;
constexpr LONG EC_STEP_COMPLETE = 0x24;
constexpr LONG EC_TIMECODE_AVAILABLE = 0x30;
constexpr LONG EC_EXTDEVICE_MODE_CHANGE = 0x31;
constexpr LONG EC_STATE_CHANGE = 0x32;
constexpr LONG EC_GRAPH_CHANGED = 0x50;
constexpr LONG EC_CLOCK_UNSET = 0x51;
constexpr LONG EC_VMR_RENDERDEVICE_SET = 0x53;
constexpr LONG EC_ERRORABORTEX = 0x45;
constexpr LONG EC_USER = 0x8000;

// IMediaEventEx::SetNotifyFlags.
constexpr LONG AM_MEDIAEVENT_NONOTIFY = 0x01;

// IVideoWindow::put_AutoShow and friends use these automation booleans.
constexpr LONG OATRUE = -1;
constexpr LONG OAFALSE = 0;

// ---- interfaces -----------------------------------------------------------------------------

struct IEnumPins : TavEnumerator<IEnumPins, IPin*> {};
TAV_INTERFACE(IEnumPins, IID_IEnumPins);

// Types handed out by Next are task-allocated (DeleteMediaType frees them).
struct IEnumMediaTypes : TavEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE*> {};
TAV_INTERFACE(IEnumMediaTypes, IID_IEnumMediaTypes);

struct IEnumFilters : TavEnumerator<IEnumFilters, IBaseFilter*> {};
TAV_INTERFACE(IEnumFilters, IID_IEnumFilters);

struct IPin : IUnknown {
  STDMETHOD(Connect)(IPin* receivePin, const AM_MEDIA_TYPE* mt) = 0;
  STDMETHOD(ReceiveConnection)(IPin* connector, const AM_MEDIA_TYPE* mt) = 0;
  STDMETHOD(Disconnect)() = 0;
  STDMETHOD(ConnectedTo)(IPin** pin) = 0;
  STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE* mt) = 0;
  STDMETHOD(QueryPinInfo)(PIN_INFO* info) = 0;
  STDMETHOD(QueryDirection)(PIN_DIRECTION* dir) = 0;
  STDMETHOD(QueryId)(LPWSTR* id) = 0;
  STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE* mt) = 0;
  STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** out) = 0;
  STDMETHOD(QueryInternalConnections)(IPin** pins, ULONG* count) = 0;
  STDMETHOD(EndOfStream)() = 0;
  STDMETHOD(BeginFlush)() = 0;
  STDMETHOD(EndFlush)() = 0;
  STDMETHOD(NewSegment)(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;
};
TAV_INTERFACE(IPin, IID_IPin);

struct IReferenceClock : IUnknown {
  STDMETHOD(GetTime)(REFERENCE_TIME* time) = 0;
  // Signals the event once at baseTime + streamTime.
  STDMETHOD(AdviseTime)(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event, DWORD_PTR* cookie) = 0;
  // Signals the handle at start and then once every period.
  STDMETHOD(AdvisePeriodic)(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore, DWORD_PTR* cookie) = 0;
  STDMETHOD(Unadvise)(DWORD_PTR cookie) = 0;
};
TAV_INTERFACE(IReferenceClock, IID_IReferenceClock);

struct IMediaFilter : IPersist {
  STDMETHOD(Stop)() = 0;
  STDMETHOD(Pause)() = 0;
  STDMETHOD(Run)(REFERENCE_TIME start) = 0;
  STDMETHOD(GetState)(DWORD timeoutMs, FILTER_STATE* state) = 0;
  STDMETHOD(SetSyncSource)(IReferenceClock* clock) = 0;
  STDMETHOD(GetSyncSource)(IReferenceClock** clock) = 0;
};
TAV_INTERFACE(IMediaFilter, IID_IMediaFilter);

struct IBaseFilter : IMediaFilter {
  STDMETHOD(EnumPins)(IEnumPins** out) = 0;
  STDMETHOD(FindPin)(LPCWSTR id, IPin** pin) = 0;
  STDMETHOD(QueryFilterInfo)(FILTER_INFO* info) = 0;
  // The graph does not hold a reference to itself through the filter: a filter keeps a
  // plain pointer to its graph.
  STDMETHOD(JoinFilterGraph)(IFilterGraph* graph, LPCWSTR name) = 0;
  STDMETHOD(QueryVendorInfo)(LPWSTR* info) = 0;
};
TAV_INTERFACE(IBaseFilter, IID_IBaseFilter);

struct IMediaSample : IUnknown {
  STDMETHOD(GetPointer)(BYTE** buffer) = 0;
  STDMETHOD_(LONG, GetSize)() = 0;
  STDMETHOD(GetTime)(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
  STDMETHOD(SetTime)(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
  STDMETHOD(IsSyncPoint)() = 0;
  STDMETHOD(SetSyncPoint)(BOOL sync) = 0;
  STDMETHOD(IsPreroll)() = 0;
  STDMETHOD(SetPreroll)(BOOL preroll) = 0;
  STDMETHOD_(LONG, GetActualDataLength)() = 0;
  STDMETHOD(SetActualDataLength)(LONG length) = 0;
  // A task-allocated copy of a changed type (S_OK), or S_FALSE and null when unchanged.
  STDMETHOD(GetMediaType)(AM_MEDIA_TYPE** mt) = 0;
  STDMETHOD(SetMediaType)(AM_MEDIA_TYPE* mt) = 0;
  STDMETHOD(IsDiscontinuity)() = 0;
  STDMETHOD(SetDiscontinuity)(BOOL discontinuity) = 0;
  STDMETHOD(GetMediaTime)(LONGLONG* start, LONGLONG* end) = 0;
  STDMETHOD(SetMediaTime)(LONGLONG* start, LONGLONG* end) = 0;
};
TAV_INTERFACE(IMediaSample, IID_IMediaSample);

struct IMediaSample2 : IMediaSample {
  STDMETHOD(GetProperties)(DWORD cbProperties, BYTE* properties) = 0;
  STDMETHOD(SetProperties)(DWORD cbProperties, const BYTE* properties) = 0;
};
TAV_INTERFACE(IMediaSample2, IID_IMediaSample2);

struct IMemAllocator : IUnknown {
  STDMETHOD(SetProperties)(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0;
  STDMETHOD(GetProperties)(ALLOCATOR_PROPERTIES* props) = 0;
  STDMETHOD(Commit)() = 0;
  STDMETHOD(Decommit)() = 0;
  STDMETHOD(GetBuffer)(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) = 0;
  STDMETHOD(ReleaseBuffer)(IMediaSample* sample) = 0;
};
TAV_INTERFACE(IMemAllocator, IID_IMemAllocator);

struct IMemInputPin : IUnknown {
  STDMETHOD(GetAllocator)(IMemAllocator** allocator) = 0;
  STDMETHOD(NotifyAllocator)(IMemAllocator* allocator, BOOL readOnly) = 0;
  STDMETHOD(GetAllocatorRequirements)(ALLOCATOR_PROPERTIES* props) = 0;
  STDMETHOD(Receive)(IMediaSample* sample) = 0;
  STDMETHOD(ReceiveMultiple)(IMediaSample** samples, LONG count, LONG* processed) = 0;
  STDMETHOD(ReceiveCanBlock)() = 0;
};
TAV_INTERFACE(IMemInputPin, IID_IMemInputPin);

struct IAsyncReader : IUnknown {
  STDMETHOD(RequestAllocator)(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props, IMemAllocator** actual) = 0;
  // The byte range to read is the sample's time range divided by UNITS (start and stop
  // are byte positions × 10,000,000), as the platform's pull model does.
  STDMETHOD(Request)(IMediaSample* sample, DWORD_PTR user) = 0;
  STDMETHOD(WaitForNext)(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* user) = 0;
  STDMETHOD(SyncReadAligned)(IMediaSample* sample) = 0;
  STDMETHOD(SyncRead)(LONGLONG position, LONG length, BYTE* buffer) = 0;
  STDMETHOD(Length)(LONGLONG* total, LONGLONG* available) = 0;
  STDMETHOD(BeginFlush)() = 0;
  STDMETHOD(EndFlush)() = 0;
};
TAV_INTERFACE(IAsyncReader, IID_IAsyncReader);

// The IAsyncReader methods as an implementing class declares them. An IPin that is its own
// reader answers both interfaces' BeginFlush / EndFlush with these (they share the signature).
#define DECLARE_IASYNCREADER_METHODS                                                                           \
  STDMETHODIMP RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props, IMemAllocator** actual) \
      override;                                                                                                \
  STDMETHODIMP Request(IMediaSample* sample, DWORD_PTR user) override;                                         \
  STDMETHODIMP WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* user) override;                  \
  STDMETHODIMP SyncReadAligned(IMediaSample* sample) override;                                                 \
  STDMETHODIMP SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;                                \
  STDMETHODIMP Length(LONGLONG* total, LONGLONG* available) override;                                          \
  STDMETHODIMP BeginFlush() override;                                                                          \
  STDMETHODIMP EndFlush() override;

struct IFileSourceFilter : IUnknown {
  STDMETHOD(Load)(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) = 0;
  STDMETHOD(GetCurFile)(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) = 0;
};
TAV_INTERFACE(IFileSourceFilter, IID_IFileSourceFilter);

struct IFileSinkFilter : IUnknown {
  STDMETHOD(SetFileName)(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) = 0;
  STDMETHOD(GetCurFile)(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) = 0;
};
TAV_INTERFACE(IFileSinkFilter, IID_IFileSinkFilter);

struct IMediaSeeking : IUnknown {
  STDMETHOD(GetCapabilities)(DWORD* capabilities) = 0;
  STDMETHOD(CheckCapabilities)(DWORD* capabilities) = 0;
  STDMETHOD(IsFormatSupported)(const GUID* format) = 0;
  STDMETHOD(QueryPreferredFormat)(GUID* format) = 0;
  STDMETHOD(GetTimeFormat)(GUID* format) = 0;
  STDMETHOD(IsUsingTimeFormat)(const GUID* format) = 0;
  STDMETHOD(SetTimeFormat)(const GUID* format) = 0;
  STDMETHOD(GetDuration)(LONGLONG* duration) = 0;
  STDMETHOD(GetStopPosition)(LONGLONG* stop) = 0;
  STDMETHOD(GetCurrentPosition)(LONGLONG* current) = 0;
  STDMETHOD(ConvertTimeFormat)(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                               const GUID* sourceFormat) = 0;
  STDMETHOD(SetPositions)(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) = 0;
  STDMETHOD(GetPositions)(LONGLONG* current, LONGLONG* stop) = 0;
  STDMETHOD(GetAvailable)(LONGLONG* earliest, LONGLONG* latest) = 0;
  STDMETHOD(SetRate)(double rate) = 0;
  STDMETHOD(GetRate)(double* rate) = 0;
  STDMETHOD(GetPreroll)(LONGLONG* preroll) = 0;
};
TAV_INTERFACE(IMediaSeeking, IID_IMediaSeeking);

// The IMediaSeeking methods as an implementing class declares them: the positions, and
// with them the time formats (an object that seeks in media time only inherits those
// from CMediaTimeSeeking).
#define DECLARE_IMEDIASEEKING_POSITION_METHODS                                                                \
  STDMETHODIMP GetCapabilities(DWORD* capabilities) override;                                                 \
  STDMETHODIMP GetDuration(LONGLONG* duration) override;                                                      \
  STDMETHODIMP GetStopPosition(LONGLONG* stop) override;                                                      \
  STDMETHODIMP GetCurrentPosition(LONGLONG* current) override;                                                \
  STDMETHODIMP SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override; \
  STDMETHODIMP GetPositions(LONGLONG* current, LONGLONG* stop) override;                                      \
  STDMETHODIMP GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;                                   \
  STDMETHODIMP SetRate(double rate) override;                                                                 \
  STDMETHODIMP GetRate(double* rate) override;
#define DECLARE_IMEDIASEEKING_METHODS                                                         \
  DECLARE_IMEDIASEEKING_POSITION_METHODS                                                      \
  STDMETHODIMP CheckCapabilities(DWORD* capabilities) override;                               \
  STDMETHODIMP IsFormatSupported(const GUID* format) override;                                \
  STDMETHODIMP QueryPreferredFormat(GUID* format) override;                                   \
  STDMETHODIMP GetTimeFormat(GUID* format) override;                                          \
  STDMETHODIMP IsUsingTimeFormat(const GUID* format) override;                                \
  STDMETHODIMP SetTimeFormat(const GUID* format) override;                                    \
  STDMETHODIMP ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source, \
                                 const GUID* sourceFormat) override;                          \
  STDMETHODIMP GetPreroll(LONGLONG* preroll) override;

// Positions in seconds.
struct IMediaPosition : IUnknown {
  STDMETHOD(get_Duration)(REFTIME* length) = 0;
  STDMETHOD(put_CurrentPosition)(REFTIME time) = 0;
  STDMETHOD(get_CurrentPosition)(REFTIME* time) = 0;
  STDMETHOD(get_StopTime)(REFTIME* time) = 0;
  STDMETHOD(put_StopTime)(REFTIME time) = 0;
  STDMETHOD(get_PrerollTime)(REFTIME* time) = 0;
  STDMETHOD(put_PrerollTime)(REFTIME time) = 0;
  STDMETHOD(put_Rate)(double rate) = 0;
  STDMETHOD(get_Rate)(double* rate) = 0;
  STDMETHOD(CanSeekForward)(LONG* canSeek) = 0;
  STDMETHOD(CanSeekBackward)(LONG* canSeek) = 0;
};
TAV_INTERFACE(IMediaPosition, IID_IMediaPosition);

// The IMediaPosition methods as an implementing class declares them.
#define DECLARE_IMEDIAPOSITION_METHODS                                                         \
  STDMETHODIMP get_Duration(REFTIME* length) override;                                         \
  STDMETHODIMP put_CurrentPosition(REFTIME time) override;                                     \
  STDMETHODIMP get_CurrentPosition(REFTIME* time) override;                                    \
  STDMETHODIMP get_StopTime(REFTIME* time) override;                                           \
  STDMETHODIMP put_StopTime(REFTIME time) override;                                            \
  STDMETHODIMP get_PrerollTime(REFTIME* time) override;                                        \
  STDMETHODIMP put_PrerollTime(REFTIME time) override;                                         \
  STDMETHODIMP put_Rate(double rate) override;                                                 \
  STDMETHODIMP get_Rate(double* rate) override;                                                \
  STDMETHODIMP CanSeekForward(LONG* canSeek) override;                                         \
  STDMETHODIMP CanSeekBackward(LONG* canSeek) override;

struct IMediaControl : IUnknown {
  STDMETHOD(Run)() = 0;
  STDMETHOD(Pause)() = 0;
  STDMETHOD(Stop)() = 0;
  STDMETHOD(GetState)(LONG timeoutMs, OAFilterState* state) = 0;
  STDMETHOD(RenderFile)(BSTR fileName) = 0;
  STDMETHOD(AddSourceFilter)(BSTR fileName, IUnknown** filter) = 0;
  STDMETHOD(get_FilterCollection)(IUnknown** collection) = 0;
  STDMETHOD(get_RegFilterCollection)(IUnknown** collection) = 0;
  STDMETHOD(StopWhenReady)() = 0;
};
TAV_INTERFACE(IMediaControl, IID_IMediaControl);

struct IMediaEvent : IUnknown {
  // A manual-reset event HANDLE (as OAEVENT) signalled while events are queued.
  STDMETHOD(GetEventHandle)(OAEVENT* event) = 0;
  STDMETHOD(GetEvent)(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) = 0;
  STDMETHOD(WaitForCompletion)(LONG timeoutMs, LONG* code) = 0;
  STDMETHOD(CancelDefaultHandling)(LONG code) = 0;
  STDMETHOD(RestoreDefaultHandling)(LONG code) = 0;
  STDMETHOD(FreeEventParams)(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
};
TAV_INTERFACE(IMediaEvent, IID_IMediaEvent);

struct IMediaEventEx : IMediaEvent {
  // Posts message msg (wParam 0, lParam instance) to the window handle (an HWND as OAHWND)
  // whenever an event is queued.
  STDMETHOD(SetNotifyWindow)(OAHWND hwnd, LONG msg, LONG_PTR instance) = 0;
  STDMETHOD(SetNotifyFlags)(LONG flags) = 0;
  STDMETHOD(GetNotifyFlags)(LONG* flags) = 0;
};
TAV_INTERFACE(IMediaEventEx, IID_IMediaEventEx);

struct IMediaEventSink : IUnknown {
  STDMETHOD(Notify)(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
};
TAV_INTERFACE(IMediaEventSink, IID_IMediaEventSink);

struct IFilterGraph : IUnknown {
  STDMETHOD(AddFilter)(IBaseFilter* filter, LPCWSTR name) = 0;
  STDMETHOD(RemoveFilter)(IBaseFilter* filter) = 0;
  STDMETHOD(EnumFilters)(IEnumFilters** out) = 0;
  STDMETHOD(FindFilterByName)(LPCWSTR name, IBaseFilter** filter) = 0;
  STDMETHOD(ConnectDirect)(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) = 0;
  STDMETHOD(Reconnect)(IPin* pin) = 0;
  STDMETHOD(Disconnect)(IPin* pin) = 0;
  STDMETHOD(SetDefaultSyncSource)() = 0;
};
TAV_INTERFACE(IFilterGraph, IID_IFilterGraph);

struct IGraphBuilder : IFilterGraph {
  STDMETHOD(Connect)(IPin* out, IPin* in) = 0;
  STDMETHOD(Render)(IPin* out) = 0;
  STDMETHOD(RenderFile)(LPCWSTR file, LPCWSTR playList) = 0;
  STDMETHOD(AddSourceFilter)(LPCWSTR fileName, LPCWSTR filterName, IBaseFilter** filter) = 0;
  STDMETHOD(SetLogFile)(DWORD_PTR file) = 0;
  STDMETHOD(Abort)() = 0;
  STDMETHOD(ShouldOperationContinue)() = 0;
};
TAV_INTERFACE(IGraphBuilder, IID_IGraphBuilder);

struct IFilterGraph2 : IGraphBuilder {
  STDMETHOD(AddSourceFilterForMoniker)(IMoniker* moniker, IBindCtx* ctx, LPCWSTR filterName,
                                       IBaseFilter** filter) = 0;
  STDMETHOD(ReconnectEx)(IPin* pin, const AM_MEDIA_TYPE* mt) = 0;
  STDMETHOD(RenderEx)(IPin* out, DWORD flags, DWORD* context) = 0;
};
TAV_INTERFACE(IFilterGraph2, IID_IFilterGraph2);

struct IFilterMapper2 : IUnknown {
  STDMETHOD(CreateCategory)(REFCLSID category, DWORD merit, LPCWSTR description) = 0;
  STDMETHOD(UnregisterFilter)(const CLSID* category, LPCOLESTR instance, REFCLSID filter) = 0;
  STDMETHOD(RegisterFilter)(REFCLSID filter, LPCWSTR name, IMoniker** moniker, const CLSID* category,
                            LPCOLESTR instance, const REGFILTER2* data) = 0;
  STDMETHOD(EnumMatchingFilters)(IEnumMoniker** out, DWORD flags, BOOL exactMatch, DWORD minMerit,
                                 BOOL inputNeeded, DWORD inputTypeCount, const GUID* inputTypes,
                                 const REGPINMEDIUM* inputMedium, const CLSID* inputPinCategory, BOOL render,
                                 BOOL outputNeeded, DWORD outputTypeCount, const GUID* outputTypes,
                                 const REGPINMEDIUM* outputMedium, const CLSID* outputPinCategory) = 0;
};
TAV_INTERFACE(IFilterMapper2, IID_IFilterMapper2);

// Consulted by the graph during intelligent connection: a failure from SelectedFilter
// skips the candidate, a failure from CreatedFilter discards it.
struct IAMGraphBuilderCallback : IUnknown {
  STDMETHOD(SelectedFilter)(IMoniker* moniker) = 0;
  STDMETHOD(CreatedFilter)(IBaseFilter* filter) = 0;
};
TAV_INTERFACE(IAMGraphBuilderCallback, IID_IAMGraphBuilderCallback);

struct IObjectWithSite : IUnknown {
  STDMETHOD(SetSite)(IUnknown* site) = 0;
  STDMETHOD(GetSite)(REFIID riid, void** site) = 0;
};
TAV_INTERFACE(IObjectWithSite, IID_IObjectWithSite);

struct IAMStreamConfig : IUnknown {
  STDMETHOD(SetFormat)(AM_MEDIA_TYPE* mt) = 0;
  STDMETHOD(GetFormat)(AM_MEDIA_TYPE** mt) = 0;
  STDMETHOD(GetNumberOfCapabilities)(int* count, int* size) = 0;
  STDMETHOD(GetStreamCaps)(int index, AM_MEDIA_TYPE** mt, BYTE* caps) = 0;
};
TAV_INTERFACE(IAMStreamConfig, IID_IAMStreamConfig);

struct IVideoWindow : IUnknown {
  STDMETHOD(put_Caption)(BSTR caption) = 0;
  STDMETHOD(get_Caption)(BSTR* caption) = 0;
  STDMETHOD(put_WindowStyle)(LONG style) = 0;
  STDMETHOD(get_WindowStyle)(LONG* style) = 0;
  STDMETHOD(put_WindowStyleEx)(LONG style) = 0;
  STDMETHOD(get_WindowStyleEx)(LONG* style) = 0;
  STDMETHOD(put_AutoShow)(LONG autoShow) = 0;
  STDMETHOD(get_AutoShow)(LONG* autoShow) = 0;
  STDMETHOD(put_WindowState)(LONG state) = 0;
  STDMETHOD(get_WindowState)(LONG* state) = 0;
  STDMETHOD(put_BackgroundPalette)(LONG palette) = 0;
  STDMETHOD(get_BackgroundPalette)(LONG* palette) = 0;
  STDMETHOD(put_Visible)(LONG visible) = 0;
  STDMETHOD(get_Visible)(LONG* visible) = 0;
  STDMETHOD(put_Left)(LONG left) = 0;
  STDMETHOD(get_Left)(LONG* left) = 0;
  STDMETHOD(put_Width)(LONG width) = 0;
  STDMETHOD(get_Width)(LONG* width) = 0;
  STDMETHOD(put_Top)(LONG top) = 0;
  STDMETHOD(get_Top)(LONG* top) = 0;
  STDMETHOD(put_Height)(LONG height) = 0;
  STDMETHOD(get_Height)(LONG* height) = 0;
  STDMETHOD(put_Owner)(OAHWND owner) = 0;
  STDMETHOD(get_Owner)(OAHWND* owner) = 0;
  STDMETHOD(put_MessageDrain)(OAHWND drain) = 0;
  STDMETHOD(get_MessageDrain)(OAHWND* drain) = 0;
  STDMETHOD(get_BorderColor)(LONG* color) = 0;
  STDMETHOD(put_BorderColor)(LONG color) = 0;
  STDMETHOD(get_FullScreenMode)(LONG* mode) = 0;
  STDMETHOD(put_FullScreenMode)(LONG mode) = 0;
  STDMETHOD(SetWindowForeground)(LONG focus) = 0;
  STDMETHOD(NotifyOwnerMessage)(OAHWND hwnd, LONG msg, LONG_PTR wParam, LONG_PTR lParam) = 0;
  STDMETHOD(SetWindowPosition)(LONG left, LONG top, LONG width, LONG height) = 0;
  STDMETHOD(GetWindowPosition)(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  STDMETHOD(GetMinIdealImageSize)(LONG* width, LONG* height) = 0;
  STDMETHOD(GetMaxIdealImageSize)(LONG* width, LONG* height) = 0;
  STDMETHOD(GetRestorePosition)(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  STDMETHOD(HideCursor)(LONG hide) = 0;
  STDMETHOD(IsCursorHidden)(LONG* hidden) = 0;
};
TAV_INTERFACE(IVideoWindow, IID_IVideoWindow);

struct IBasicVideo : IUnknown {
  STDMETHOD(get_AvgTimePerFrame)(REFTIME* time) = 0;
  STDMETHOD(get_BitRate)(LONG* rate) = 0;
  STDMETHOD(get_BitErrorRate)(LONG* rate) = 0;
  STDMETHOD(get_VideoWidth)(LONG* width) = 0;
  STDMETHOD(get_VideoHeight)(LONG* height) = 0;
  STDMETHOD(put_SourceLeft)(LONG v) = 0;
  STDMETHOD(get_SourceLeft)(LONG* v) = 0;
  STDMETHOD(put_SourceWidth)(LONG v) = 0;
  STDMETHOD(get_SourceWidth)(LONG* v) = 0;
  STDMETHOD(put_SourceTop)(LONG v) = 0;
  STDMETHOD(get_SourceTop)(LONG* v) = 0;
  STDMETHOD(put_SourceHeight)(LONG v) = 0;
  STDMETHOD(get_SourceHeight)(LONG* v) = 0;
  STDMETHOD(put_DestinationLeft)(LONG v) = 0;
  STDMETHOD(get_DestinationLeft)(LONG* v) = 0;
  STDMETHOD(put_DestinationWidth)(LONG v) = 0;
  STDMETHOD(get_DestinationWidth)(LONG* v) = 0;
  STDMETHOD(put_DestinationTop)(LONG v) = 0;
  STDMETHOD(get_DestinationTop)(LONG* v) = 0;
  STDMETHOD(put_DestinationHeight)(LONG v) = 0;
  STDMETHOD(get_DestinationHeight)(LONG* v) = 0;
  STDMETHOD(SetSourcePosition)(LONG left, LONG top, LONG width, LONG height) = 0;
  STDMETHOD(GetSourcePosition)(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  STDMETHOD(SetDefaultSourcePosition)() = 0;
  STDMETHOD(SetDestinationPosition)(LONG left, LONG top, LONG width, LONG height) = 0;
  STDMETHOD(GetDestinationPosition)(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  STDMETHOD(SetDefaultDestinationPosition)() = 0;
  STDMETHOD(GetVideoSize)(LONG* width, LONG* height) = 0;
  STDMETHOD(GetVideoPaletteEntries)(LONG start, LONG count, LONG* retrieved, LONG* palette) = 0;
  STDMETHOD(GetCurrentImage)(LONG* bufferSize, LONG* image) = 0;
  STDMETHOD(IsUsingDefaultSource)() = 0;
  STDMETHOD(IsUsingDefaultDestination)() = 0;
};
TAV_INTERFACE(IBasicVideo, IID_IBasicVideo);

struct IBasicAudio : IUnknown {
  STDMETHOD(put_Volume)(LONG volume) = 0;
  STDMETHOD(get_Volume)(LONG* volume) = 0;
  STDMETHOD(put_Balance)(LONG balance) = 0;
  STDMETHOD(get_Balance)(LONG* balance) = 0;
};
TAV_INTERFACE(IBasicAudio, IID_IBasicAudio);

struct IDMOWrapperFilter : IUnknown {
  STDMETHOD(Init)(REFCLSID dmo, REFCLSID category) = 0;
};
TAV_INTERFACE(IDMOWrapperFilter, IID_IDMOWrapperFilter);

// The DV decoder's output resolution.
enum _DVDECODERRESOLUTION {
  DVDECODERRESOLUTION_720x480 = 1000,
  DVDECODERRESOLUTION_360x240 = 1001,
  DVDECODERRESOLUTION_180x120 = 1002,
  DVDECODERRESOLUTION_88x60 = 1003,
};
struct IIPDVDec : IUnknown {
  STDMETHOD(get_IPDisplay)(int* displayPix) = 0;
  STDMETHOD(put_IPDisplay)(int displayPix) = 0;
};
TAV_INTERFACE(IIPDVDec, IID_IIPDVDec);

// A video decoder that can deliver its pictures smaller than their own size, scaled as it
// decodes them, so that nothing downstream handles the full-size picture.
struct IDecimateVideoImage : IUnknown {
  STDMETHOD(SetDecimationImageSize)(LONG width, LONG height) = 0;
  STDMETHOD(ResetDecimationImageSize)() = 0;
};
TAV_INTERFACE(IDecimateVideoImage, IID_IDecimateVideoImage);

struct ICaptureGraphBuilder2 : IUnknown {
  STDMETHOD(SetFiltergraph)(IGraphBuilder* graph) = 0;
  STDMETHOD(GetFiltergraph)(IGraphBuilder** graph) = 0;
  STDMETHOD(SetOutputFileName)(const GUID* type, LPCOLESTR file, IBaseFilter** mux, IUnknown** sink) = 0;
  STDMETHOD(FindInterface)(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID riid,
                           void** out) = 0;
  STDMETHOD(RenderStream)(const GUID* category, const GUID* type, IUnknown* source, IBaseFilter* intermediate,
                          IBaseFilter* sink) = 0;
  STDMETHOD(ControlStream)(const GUID* category, const GUID* type, IBaseFilter* filter, REFERENCE_TIME* start,
                           REFERENCE_TIME* stop, WORD startCookie, WORD stopCookie) = 0;
  STDMETHOD(AllocCapFile)(LPCOLESTR file, DWORDLONG size) = 0;
  STDMETHOD(CopyCaptureFile)(LPOLESTR oldFile, LPOLESTR newFile, int allowEscAbort, IUnknown* callback) = 0;
  STDMETHOD(FindPin)(IUnknown* source, PIN_DIRECTION dir, const GUID* category, const GUID* type, BOOL unconnected,
                     int index, IPin** pin) = 0;
};
TAV_INTERFACE(ICaptureGraphBuilder2, IID_ICaptureGraphBuilder2);

// Quality messages travel upstream from renderers.
struct IQualityControl : IUnknown {
  STDMETHOD(Notify)(IBaseFilter* self, Quality q) = 0;
  STDMETHOD(SetSink)(IQualityControl* sink) = 0;
};
TAV_INTERFACE(IQualityControl, IID_IQualityControl);

struct IAMFilterMiscFlags : IUnknown {
  STDMETHOD_(ULONG, GetMiscFlags)() = 0;
};
TAV_INTERFACE(IAMFilterMiscFlags, IID_IAMFilterMiscFlags);

struct IGraphConfigCallback : IUnknown {
  STDMETHOD(Reconfigure)(void* context, DWORD flags) = 0;
};
TAV_INTERFACE(IGraphConfigCallback, IID_IGraphConfigCallback);

// Graph reconfiguration while running: only what a filter needs to swap a downstream
// connection.
struct IGraphConfig : IUnknown {
  STDMETHOD(Reconnect)(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt, IBaseFilter* usingFilter, HANDLE abortEvent,
                       DWORD flags) = 0;
  STDMETHOD(Reconfigure)(IGraphConfigCallback* callback, void* context, DWORD flags, HANDLE abortEvent) = 0;
  STDMETHOD(AddFilterToCache)(IBaseFilter* filter) = 0;
  STDMETHOD(EnumCacheFilter)(IEnumFilters** out) = 0;
  STDMETHOD(RemoveFilterFromCache)(IBaseFilter* filter) = 0;
  STDMETHOD(GetStartTime)(REFERENCE_TIME* start) = 0;
  STDMETHOD(PushThroughData)(IPin* out, IUnknown* connection, HANDLE abortEvent) = 0;
  STDMETHOD(SetFilterFlags)(IBaseFilter* filter, DWORD flags) = 0;
  STDMETHOD(GetFilterFlags)(IBaseFilter* filter, DWORD* flags) = 0;
  STDMETHOD(RemoveFilterEx)(IBaseFilter* filter, DWORD flags) = 0;
};
TAV_INTERFACE(IGraphConfig, IID_IGraphConfig);

static_assert(sizeof(ALLOCATOR_PROPERTIES) == 16 && sizeof(Quality) == 24 && sizeof(REGPINMEDIUM) == 24);
