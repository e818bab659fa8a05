// What registering the reader library writes besides its filter: the ".qvf" source-filter
// entry, the shell association copied from AVI (or WMV) files, and the media player's file
// type. None of it is removed when the library is unregistered.
#pragma once

#include "media/contract/guid.h"
#include "media/contract/hresult.h"

namespace qvfreader {

// HKCR "Media Type\Extensions\<ext>": "Source Filter" = the class identifier's string form.
void RegisterSourceExtension(const char* extension, REFCLSID sourceFilter);
// Copies the class of sourceExtension (its icon, open and play commands) to a new class
// "<target without dot>File" for targetExtension. False (nothing written) when
// sourceExtension has no class name.
bool CopyShellAssociation(const char* sourceExtension, const char* targetExtension);
// The media player's keys for extension, listed under the number with the description.
void RegisterPlayerExtension(const char* extension, const char* description, int number);

// All three for ".qvf": the reader as its source, the class of ".avi" (else ".wmv"), and
// the player's file type "QVF" number 856. Failures are ignored, as nothing here is needed
// for the filter itself.
void RegisterQvfExtension(REFCLSID readerFilter);

}  // namespace qvfreader
