// Texts for result codes and readable names of media identifiers.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "media/contract/errortext.h"
#include "media/contract/hresult.h"
#include "media/contract/mediatypes.h"

namespace {

struct ErrorText {
  HRESULT hr;
  const char* text;
};

// Sorted by nothing in particular: looked up through a map built once.
constexpr ErrorText kErrorTexts[] = {
    {S_OK, "The operation succeeded."},

    // Generic and component-model results.
    {E_NOTIMPL, "The requested operation is not implemented."},
    {E_NOINTERFACE, "The object does not support the requested interface."},
    {E_POINTER, "A required pointer argument was null."},
    {E_ABORT, "The operation was aborted."},
    {E_FAIL, "The operation failed for an unspecified reason."},
    {E_PENDING, "The data needed to complete the operation is not yet available."},
    {E_UNEXPECTED, "An unexpected failure occurred."},
    {E_ACCESSDENIED, "Access was denied."},
    {E_HANDLE, "The handle is not valid."},
    {E_OUTOFMEMORY, "There is not enough memory to complete the operation."},
    {E_INVALIDARG, "One or more arguments are not valid."},
    {CLASS_E_NOAGGREGATION, "This class cannot be created as part of an aggregate."},
    {CLASS_E_CLASSNOTAVAILABLE, "The class factory cannot supply the requested class."},
    {REGDB_E_READREGDB, "The registry could not be read."},
    {REGDB_E_WRITEREGDB, "The registry could not be written."},
    {REGDB_E_KEYMISSING, "A required registry key is missing."},
    {REGDB_E_INVALIDVALUE, "A registry value is not valid."},
    {REGDB_E_CLASSNOTREG, "The class is not registered."},
    {MK_E_UNAVAILABLE, "The object named by the moniker is not available."},
    {MK_E_NOOBJECT, "The moniker does not name an object."},
    {CO_E_NOTINITIALIZED, "The component runtime has not been initialised."},
    {CO_E_DLLNOTFOUND, "The library that implements the class could not be found or loaded."},
    {CO_E_ERRORINDLL, "The library that implements the class is damaged or lacks its entry points."},
    {CO_E_CLASSSTRING, "The class identifier text is not valid."},
    {CO_E_OBJNOTCONNECTED, "The object is not connected to its server."},
    {STG_E_FILENOTFOUND, "The file could not be found."},
    {STG_E_ACCESSDENIED, "Access to the file was denied."},
    {DISP_E_TYPEMISMATCH, "The value has the wrong type."},
    {DISP_E_BADVARTYPE, "The value is of a kind that is not supported."},
    {DISP_E_ARRAYISLOCKED, "The array is locked."},
    {CO_E_OBJNOTREG, "The object is not registered."},

    // Streaming framework failures.
    {VFW_S_NO_MORE_ITEMS, "The end of the list has been reached."},
    {VFW_E_INVALIDMEDIATYPE, "The media type is not valid."},
    {VFW_E_INVALIDSUBTYPE, "The media subtype is not valid."},
    {VFW_E_NEED_OWNER, "This object can only be created as part of an aggregate."},
    {VFW_E_ENUM_OUT_OF_SYNC, "The enumerator is out of date because the underlying set changed."},
    {VFW_E_ALREADY_CONNECTED, "At least one of the pins is already connected."},
    {VFW_E_FILTER_ACTIVE, "The operation is not possible while the filter is active."},
    {VFW_E_NO_TYPES, "None of the pins offers a media type."},
    {VFW_E_NO_ACCEPTABLE_TYPES, "The pins have no media type in common."},
    {VFW_E_INVALID_DIRECTION, "Two pins of the same direction cannot be connected."},
    {VFW_E_NOT_CONNECTED, "The pin is not connected."},
    {VFW_E_NO_ALLOCATOR, "No sample buffer allocator is available."},
    {VFW_E_RUNTIME_ERROR, "A run-time error occurred."},
    {VFW_E_BUFFER_NOTSET, "No buffer space has been set."},
    {VFW_E_BUFFER_OVERFLOW, "The buffer is too small for the data."},
    {VFW_E_BADALIGN, "The alignment is not valid."},
    {VFW_E_ALREADY_COMMITTED, "The allocator properties cannot change while the allocator is committed."},
    {VFW_E_BUFFERS_OUTSTANDING, "Buffers are still in use."},
    {VFW_E_NOT_COMMITTED, "The allocator is not committed."},
    {VFW_E_SIZENOTSET, "The allocator's buffer size has not been set."},
    {VFW_E_NO_CLOCK, "The object has no reference clock to synchronise with."},
    {VFW_E_NO_SINK, "No sink for quality messages has been set."},
    {VFW_E_NO_INTERFACE, "A required interface is not supported."},
    {VFW_E_NOT_FOUND, "The object or name was not found."},
    {VFW_E_CANNOT_CONNECT, "No combination of intermediate filters could be found to make the connection."},
    {VFW_E_CANNOT_RENDER, "No combination of filters could be found to render the stream."},
    {VFW_E_CHANGING_FORMAT, "The format of the stream could not be changed dynamically."},
    {VFW_E_NO_COLOR_KEY_SET, "No colour key has been set."},
    {VFW_E_NOT_OVERLAY_CONNECTION, "The connection does not use the overlay transport."},
    {VFW_E_NOT_SAMPLE_CONNECTION, "The connection does not use sample transport."},
    {VFW_E_PALETTE_SET, "A palette is already set."},
    {VFW_E_COLOR_KEY_SET, "A colour key is already set."},
    {VFW_E_NO_COLOR_KEY_FOUND, "No suitable colour key could be found."},
    {VFW_E_NO_PALETTE_AVAILABLE, "No palette is available."},
    {VFW_E_NO_DISPLAY_PALETTE, "The display does not use a palette."},
    {VFW_E_TOO_MANY_COLORS, "Too many colours for the current display settings."},
    {VFW_E_STATE_CHANGED, "The state changed while the operation was waiting."},
    {VFW_E_NOT_STOPPED, "The operation requires the filter to be stopped."},
    {VFW_E_NOT_PAUSED, "The operation requires the filter to be paused."},
    {VFW_E_NOT_RUNNING, "The operation requires the filter to be running."},
    {VFW_E_WRONG_STATE, "The operation is not possible in the current state."},
    {VFW_E_START_TIME_AFTER_END, "The start time lies after the end time."},
    {VFW_E_INVALID_RECT, "The rectangle is not valid."},
    {VFW_E_TYPE_NOT_ACCEPTED, "The pin does not accept this media type."},
    {VFW_E_SAMPLE_REJECTED, "The sample was not processed."},
    {VFW_E_SAMPLE_REJECTED_EOS, "The sample arrived after the end of the stream."},
    {VFW_E_DUPLICATE_NAME, "A filter with this name is already in the graph."},
    {VFW_S_DUPLICATE_NAME, "A filter with this name was already in the graph; the filter was added under another name."},
    {VFW_E_TIMEOUT, "The time-out elapsed."},
    {VFW_E_INVALID_FILE_FORMAT, "The file format is not valid."},
    {VFW_E_ENUM_OUT_OF_RANGE, "The enumerator has run past its end."},
    {VFW_E_CIRCULAR_GRAPH, "The connection would make the graph circular."},
    {VFW_E_NOT_ALLOWED_TO_SAVE, "Saving is not allowed in the current state."},
    {VFW_E_TIME_ALREADY_PASSED, "The requested time has already passed."},
    {VFW_E_ALREADY_CANCELLED, "The time notification has already been cancelled."},
    {VFW_E_CORRUPT_GRAPH_FILE, "The stored graph is damaged."},
    {VFW_E_ADVISE_ALREADY_SET, "A notification request is already in place."},
    {VFW_S_STATE_INTERMEDIATE, "The state change has not completed yet."},
    {VFW_E_NO_MODEX_AVAILABLE, "No full-screen display mode is available."},
    {VFW_E_NO_ADVISE_SET, "No notification request was in place to cancel."},
    {VFW_E_NO_FULLSCREEN, "Full-screen playback is not available."},
    {VFW_E_IN_FULLSCREEN_MODE, "The operation is not possible in full-screen mode."},
    {VFW_E_UNKNOWN_FILE_TYPE, "The file type is not recognised."},
    {VFW_E_CANNOT_LOAD_SOURCE_FILTER, "The source filter for this file could not be loaded."},
    {VFW_S_PARTIAL_RENDER, "Some of the streams in this file use a format that is not supported."},
    {VFW_E_FILE_TOO_SHORT, "The file is shorter than its headers say."},
    {VFW_E_INVALID_FILE_VERSION, "The file's version number is not valid."},
    {VFW_S_SOME_DATA_IGNORED, "The file held some data that was ignored."},
    {VFW_S_CONNECTIONS_DEFERRED, "Some connections were put off until the graph runs."},
    {VFW_E_INVALID_CLSID, "The file names a class identifier that is not valid."},
    {VFW_E_INVALID_MEDIA_TYPE, "The file names a media type that is not valid."},
    {VFW_E_SAMPLE_TIME_NOT_SET, "The sample carries no time stamp."},
    {VFW_S_RESOURCE_NOT_NEEDED, "The resource is no longer needed."},
    {VFW_E_MEDIA_TIME_NOT_SET, "The sample carries no media time."},
    {VFW_E_NO_TIME_FORMAT_SET, "No time format has been chosen."},
    {VFW_E_MONO_AUDIO_HW, "The audio device plays mono only, so the balance cannot be changed."},
    {VFW_S_MEDIA_TYPE_IGNORED, "The media type of the file was not used."},
    {VFW_E_NO_DECOMPRESSOR, "No decoder could be found for this stream."},
    {VFW_E_NO_AUDIO_HARDWARE, "No audio output device is available."},
    {VFW_S_VIDEO_NOT_RENDERED, "The video stream uses a format that is not supported and will not be shown."},
    {VFW_S_AUDIO_NOT_RENDERED, "The audio stream uses a format that is not supported and will not be played."},
    {VFW_E_RPZA, "Video in the RPZA format is not supported."},
    {VFW_E_PROCESSOR_NOT_SUITABLE, "The processor cannot decode this format."},
    {VFW_E_UNSUPPORTED_AUDIO, "The audio format is not supported."},
    {VFW_E_UNSUPPORTED_VIDEO, "The video format is not supported."},
    {VFW_E_MPEG_NOT_CONSTRAINED, "The MPEG video stream is not a constrained-parameter stream."},
    {VFW_E_NOT_IN_GRAPH, "The object is not part of a filter graph."},
    {VFW_S_ESTIMATED, "The value is an estimate."},
    {VFW_E_NO_TIME_FORMAT, "The object does not support this time format."},
    {VFW_E_READ_ONLY, "The object is read-only."},
    {VFW_S_RESERVED, "Reserved result."},
    {VFW_E_BUFFER_UNDERFLOW, "The buffer does not hold enough data."},
    {VFW_E_UNSUPPORTED_STREAM, "The stream is in a format that is not supported."},
    {VFW_E_NO_TRANSPORT, "The pins have no transport in common."},
    {VFW_S_STREAM_OFF, "The stream has been turned off."},
    {VFW_S_CANT_CUE, "The graph could not be made ready ahead of playback."},
    {VFW_E_BAD_VIDEOCD, "The video CD could not be read."},
    {VFW_S_NO_STOP_TIME, "The sample has a start time but no stop time."},
    {VFW_E_OUT_OF_VIDEO_MEMORY, "There is not enough video memory for this size."},
    {VFW_E_VP_NEGOTIATION_FAILED, "The video port connection could not be negotiated."},
    {VFW_E_DDRAW_CAPS_NOT_SUITABLE, "The display hardware lacks the capabilities this needs."},
    {VFW_E_NO_VP_HARDWARE, "No video port hardware is available."},
    {VFW_E_NO_CAPTURE_HARDWARE, "No capture hardware is available."},
    {VFW_S_NOPREVIEWPIN, "The capture filter has no preview pin; a preview stream was split off instead."},
    {VFW_E_BAD_KEY, "The registry entry is damaged."},

    // Operating-system errors wrapped as results.
    {HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION), "The function is not valid here."},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "The file could not be found."},
    {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "The path could not be found."},
    {HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES), "Too many files are open."},
    {HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY), "There is not enough memory to complete the operation."},
    {HRESULT_FROM_WIN32(ERROR_BAD_FORMAT), "The file has the wrong format."},
    {HRESULT_FROM_WIN32(ERROR_INVALID_DATA), "The data are not valid."},
    {HRESULT_FROM_WIN32(ERROR_WRITE_FAULT), "The device could not be written."},
    {HRESULT_FROM_WIN32(ERROR_READ_FAULT), "The device could not be read."},
    {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), "The file is in use by another program."},
    {HRESULT_FROM_WIN32(ERROR_HANDLE_EOF), "The end of the file was reached."},
    {HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL), "The disk is full."},
    {HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), "The request is not supported."},
    {HRESULT_FROM_WIN32(ERROR_FILE_EXISTS), "The file already exists."},
    {HRESULT_FROM_WIN32(ERROR_DISK_FULL), "There is not enough space on the disk."},
    {HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), "The buffer is too small."},
    {HRESULT_FROM_WIN32(ERROR_INVALID_NAME), "The file name, folder name or volume label is not valid."},
    {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), "The library could not be found."},
    {HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), "The library lacks the requested entry point."},
    {HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY), "The folder is not empty."},
    {HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), "The file or folder already exists."},
    {HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), "The file name is too long."},
    {HRESULT_FROM_WIN32(ERROR_MORE_DATA), "More data are available."},
    {HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS), "There are no more items."},
    {HRESULT_FROM_WIN32(ERROR_BADDB), "The registry is damaged."},
    {HRESULT_FROM_WIN32(ERROR_BADKEY), "The registry key is not valid."},
    {HRESULT_FROM_WIN32(ERROR_CANTOPEN), "The registry key could not be opened."},
    {HRESULT_FROM_WIN32(ERROR_CANTREAD), "The registry key could not be read."},
    {HRESULT_FROM_WIN32(ERROR_CANTWRITE), "The registry key could not be written."},
    {HRESULT_FROM_WIN32(ERROR_KEY_DELETED), "The registry key has been deleted."},
    {HRESULT_FROM_WIN32(ERROR_CANCELLED), "The operation was cancelled by the user."},
    {HRESULT_FROM_WIN32(ERROR_TIMEOUT), "The operation timed out."},
    // E_ACCESSDENIED, E_HANDLE, E_OUTOFMEMORY and E_INVALIDARG above are the wrapped
    // ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE, ERROR_OUTOFMEMORY and ERROR_INVALID_PARAMETER.
};

const std::unordered_map<HRESULT, const char*>& ErrorTable() {
  static const auto* table = [] {
    auto* t = new std::unordered_map<HRESULT, const char*>;
    for (const ErrorText& e : kErrorTexts) t->emplace(e.hr, e.text);
    return t;
  }();
  return *table;
}

struct GuidNameEntry {
  GUID guid;
  const char* name;
};
#define TAV_NAME(g) {g, #g}
// Where two names share an identifier (KSDATAFORMAT_SUBTYPE_PCM = MEDIASUBTYPE_PCM), the
// first one listed is used.
const GuidNameEntry kGuidNames[] = {
    TAV_NAME(MEDIATYPE_Video),
    TAV_NAME(MEDIATYPE_Audio),
    TAV_NAME(MEDIATYPE_Text),
    TAV_NAME(MEDIATYPE_Interleaved),
    TAV_NAME(MEDIATYPE_Stream),
    TAV_NAME(MEDIATYPE_Midi),
    TAV_NAME(MEDIATYPE_DVD_NAVIGATION),
    TAV_NAME(MEDIASUBTYPE_DVD_NAVIGATION_PCI),
    TAV_NAME(MEDIATYPE_AvData),
    TAV_NAME(MEDIASUBTYPE_RGB1),
    TAV_NAME(MEDIASUBTYPE_RGB4),
    TAV_NAME(MEDIASUBTYPE_RGB8),
    TAV_NAME(MEDIASUBTYPE_RGB565),
    TAV_NAME(MEDIASUBTYPE_RGB555),
    TAV_NAME(MEDIASUBTYPE_RGB24),
    TAV_NAME(MEDIASUBTYPE_RGB32),
    TAV_NAME(MEDIASUBTYPE_ARGB32),
    TAV_NAME(MEDIASUBTYPE_MPEG1Packet),
    TAV_NAME(MEDIASUBTYPE_MPEG1Payload),
    TAV_NAME(MEDIASUBTYPE_MPEG1System),
    TAV_NAME(MEDIASUBTYPE_MPEG1VideoCD),
    TAV_NAME(MEDIASUBTYPE_MPEG1Video),
    TAV_NAME(MEDIASUBTYPE_MPEG1Audio),
    TAV_NAME(MEDIASUBTYPE_Avi),
    TAV_NAME(MEDIASUBTYPE_QTMovie),
    TAV_NAME(MEDIASUBTYPE_WAVE),
    TAV_NAME(MEDIASUBTYPE_AU),
    TAV_NAME(MEDIASUBTYPE_AIFF),
    TAV_NAME(MEDIASUBTYPE_Asf),
    TAV_NAME(MEDIASUBTYPE_MPEG2_VIDEO),
    TAV_NAME(MEDIASUBTYPE_MPEG2_PROGRAM),
    TAV_NAME(MEDIASUBTYPE_MPEG2_TRANSPORT),
    TAV_NAME(MEDIASUBTYPE_MPEG2_AUDIO),
    TAV_NAME(MEDIASUBTYPE_DOLBY_AC3),
    TAV_NAME(MEDIASUBTYPE_DTS),
    TAV_NAME(MEDIASUBTYPE_YUY2),
    TAV_NAME(MEDIASUBTYPE_UYVY),
    TAV_NAME(MEDIASUBTYPE_YV12),
    TAV_NAME(MEDIASUBTYPE_I420),
    TAV_NAME(MEDIASUBTYPE_IYUV),
    TAV_NAME(MEDIASUBTYPE_NV12),
    TAV_NAME(MEDIASUBTYPE_dvsd),
    TAV_NAME(MEDIASUBTYPE_MJPG),
    TAV_NAME(MEDIASUBTYPE_XVID),
    TAV_NAME(MEDIASUBTYPE_DIVX),
    TAV_NAME(MEDIASUBTYPE_DX50),
    TAV_NAME(MEDIASUBTYPE_FMP4),
    TAV_NAME(MEDIASUBTYPE_MP4V),
    TAV_NAME(MEDIASUBTYPE_MP43),
    TAV_NAME(MEDIASUBTYPE_MP42),
    TAV_NAME(MEDIASUBTYPE_DIV3),
    TAV_NAME(MEDIASUBTYPE_H264),
    TAV_NAME(MEDIASUBTYPE_AVC1),
    TAV_NAME(MEDIASUBTYPE_WMV1),
    TAV_NAME(MEDIASUBTYPE_WMV2),
    TAV_NAME(MEDIASUBTYPE_WMV3),
    TAV_NAME(MEDIASUBTYPE_WVC1),
    TAV_NAME(MEDIASUBTYPE_H263),
    TAV_NAME(MEDIASUBTYPE_S263),
    TAV_NAME(MEDIASUBTYPE_PCM),
    TAV_NAME(MEDIASUBTYPE_ADPCM),
    TAV_NAME(MEDIASUBTYPE_IEEE_FLOAT),
    TAV_NAME(MEDIASUBTYPE_MSAUDIO1),
    TAV_NAME(MEDIASUBTYPE_WMAUDIO2),
    TAV_NAME(MEDIASUBTYPE_WMAUDIO3),
    TAV_NAME(MEDIASUBTYPE_MPEG_LAYER3),
    TAV_NAME(MEDIASUBTYPE_MPEG_AUDIO),
    TAV_NAME(MEDIASUBTYPE_AAC),
    TAV_NAME(MEDIASUBTYPE_AMR_NB),
    TAV_NAME(MEDIASUBTYPE_WAVE_EXTENSIBLE),
    TAV_NAME(FORMAT_None),
    TAV_NAME(FORMAT_VideoInfo),
    TAV_NAME(FORMAT_WaveFormatEx),
    TAV_NAME(FORMAT_MPEGVideo),
    TAV_NAME(FORMAT_MPEGStreams),
    TAV_NAME(FORMAT_DvInfo),
    TAV_NAME(FORMAT_VideoInfo2),
    TAV_NAME(FORMAT_MPEG2Video),
    TAV_NAME(GUID_NULL),
};
#undef TAV_NAME

struct TagName {
  WORD tag;
  const char* name;
};
const TagName kTagNames[] = {
    {0x0000, "WAVE_FORMAT_UNKNOWN"},
    {0x0001, "WAVE_FORMAT_PCM"},
    {0x0002, "WAVE_FORMAT_ADPCM"},
    {0x0003, "WAVE_FORMAT_IEEE_FLOAT"},
    {0x0006, "WAVE_FORMAT_ALAW"},
    {0x0007, "WAVE_FORMAT_MULAW"},
    {0x0011, "WAVE_FORMAT_IMA_ADPCM"},
    {0x0031, "WAVE_FORMAT_GSM610"},
    {0x0050, "WAVE_FORMAT_MPEG"},
    {0x0055, "WAVE_FORMAT_MPEGLAYER3"},
    {0x0057, "WAVE_FORMAT_AMR_NB"},
    {0x00FF, "WAVE_FORMAT_RAW_AAC1"},
    {0x0160, "WAVE_FORMAT_MSAUDIO1"},
    {0x0161, "WAVE_FORMAT_WMAUDIO2"},
    {0x0162, "WAVE_FORMAT_WMAUDIO3"},
    {0x0163, "WAVE_FORMAT_WMAUDIO_LOSSLESS"},
    {0x1610, "WAVE_FORMAT_MPEG_HEAAC"},
    {0x2000, "WAVE_FORMAT_DOLBY_AC3"},
    {0x2001, "WAVE_FORMAT_DTS"},
    {0xFFFE, "WAVE_FORMAT_EXTENSIBLE"},
};

}  // namespace

DWORD AMGetErrorTextA(HRESULT hr, LPSTR buf, DWORD maxLen) {
  if (!buf || maxLen == 0) return 0;
  const auto& table = ErrorTable();
  const auto it = table.find(hr);
  if (it == table.end()) {
    buf[0] = '\0';
    return 0;
  }
  const size_t n = std::min<size_t>(strlen(it->second), maxLen - 1);
  std::memcpy(buf, it->second, n);
  buf[n] = '\0';
  return DWORD(n);
}

namespace tav {

std::string GuidName(const GUID& g) {
  for (const GuidNameEntry& e : kGuidNames)
    if (e.guid == g) return e.name;
  return {};
}

std::string WaveFormatTagName(WORD tag) {
  for (const TagName& t : kTagNames)
    if (t.tag == tag) return t.name;
  return {};
}

}  // namespace tav
