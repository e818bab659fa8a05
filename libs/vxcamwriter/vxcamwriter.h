// VxCamWriter's public identifiers and control interfaces, as the converter uses them.
#pragma once

#include "clipmux/clipmux.h"
#include "media/contract/guid.h"
#include "media/contract/unknown.h"

// "VXCMN Cam Exporter Filter": the sink that writes camera movies through clipmux.
TAV_DEFINE_GUID(CLSID_CamExporterFilter, 0x17D0A43C, 0x156B, 0x4051, 0xBF, 0x29, 0x45, 0x4C, 0xAC, 0xB5, 0xB6, 0x44);
// "VXCMN Cam Holder Object": keeps the library loaded while the application holds it.
TAV_DEFINE_GUID(CLSID_CamHolderObject, 0x61E01FDD, 0x8154, 0x41D3, 0xB0, 0x4F, 0xAA, 0x0E, 0x6E, 0x02, 0x3E, 0xE4);

TAV_DEFINE_GUID(IID_IExportSizeLimit, 0x255A9297, 0x0D06, 0x491E, 0x80, 0xE8, 0x6F, 0x57, 0x32, 0xC8, 0xBC, 0x20);
TAV_DEFINE_GUID(IID_IExportConfig, 0xDF118E9D, 0xE174, 0x4F16, 0x9C, 0x3E, 0xDE, 0xB8, 0xA8, 0x29, 0x7C, 0x69);

// Graph event raised once per exporter when the projected file size reaches the limit;
// parameters: low and high 32 bits of the projected size in bytes.
constexpr LONG EC_SIZE_LIMIT_REACHED = 0x501;

// The result code of the EC_ERRORABORT the exporter raises when the movie's times run past
// what its source holds (damaged time stamps): the movie ends there, with what was valid.
constexpr HRESULT TAV_E_DAMAGED_TIMES = static_cast<HRESULT>(0x80040304u);

// The size limit of the movie being written; 0 means none.
struct IExportSizeLimit : IUnknown {
  STDMETHOD(GetSizeLimit)(LONGLONG* limit) = 0;
  STDMETHOD(SetSizeLimit)(LONGLONG limit) = 0;
};
TAV_INTERFACE(IExportSizeLimit, IID_IExportSizeLimit);

// Encoder settings, passed straight to clipmux. Every method returns S_OK; failures of the
// library are reported as EC_ERRORABORT events.
struct IExportConfig : IUnknown {
  STDMETHOD(GetConfig)(CONFIG* config) = 0;
  STDMETHOD(SetConfig)(const CONFIG* config) = 0;
  STDMETHOD(ResetConfig)() = 0;
  STDMETHOD(SaveAVIasQVF)(BOOL qvf) = 0;
};
TAV_INTERFACE(IExportConfig, IID_IExportConfig);
