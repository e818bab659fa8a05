// System parameters: the screen-saver switch.
//
// On this platform the screen saver belongs to the desktop session. Switching it off asks
// the session's freedesktop screen-saver service to inhibit it on behalf of the calling
// process; switching it on again ends that inhibition. The inhibition lives only as long
// as the process (it ends by itself when the process exits or crashes), never in a file,
// so the update flags are accepted and ignored. Without a session bus or without the
// service (a headless machine) the setting cannot be read: SPI_GETSCREENSAVEACTIVE fails
// at once, quietly.
#pragma once

#include "media/contract/wintypes.h"

// pvParam: BOOL*, TRUE while the screen saver may start (this process does not hold it off).
constexpr UINT SPI_GETSCREENSAVEACTIVE = 0x0010;
// uiParam: TRUE lets the screen saver start again, FALSE holds it off.
constexpr UINT SPI_SETSCREENSAVEACTIVE = 0x0011;
constexpr UINT SPIF_UPDATEINIFILE = 0x0001;
constexpr UINT SPIF_SENDCHANGE = 0x0002;

// TRUE on success; FALSE with GetLastError ERROR_NOT_SUPPORTED when the desktop offers no
// screen saver to talk to (or it does not answer within a short time), ERROR_INVALID_PARAMETER
// for an unknown action or a null pvParam.
BOOL SystemParametersInfo(UINT action, UINT uiParam, void* pvParam, UINT winIni);
