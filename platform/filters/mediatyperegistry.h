// The media-type registry entries this library owns: check bytes under the stream media
// type ("Media Type\{major}\{subtype}", values "0", "1", ... and "Source Filter") and
// source filters by extension ("Media Type\Extensions\.ext").
#pragma once

#include <string>

#include "media/contract/hresult.h"
#include "media/contract/strmif.h"

namespace tav::filters {

// Writes every entry (existing values are replaced).
HRESULT SeedMediaTypeEntries();
// Removes the entries whose "Source Filter" is one of this library's classes.
HRESULT RemoveMediaTypeEntries();

// Matches the first bytes of a stream against the check-byte entries under
// MEDIATYPE_Stream; true with the subtype of the first entry that matches. read(offset,
// count, buffer) answers the bytes read (fewer at the end).
using ReadAtFn = LONG (*)(void* context, LONGLONG offset, LONG count, BYTE* buffer);
bool MatchCheckBytes(void* context, ReadAtFn read, LONGLONG size, GUID* subtype);

// One check-byte line ("offset,count,mask,value" groups) against a stream; exposed for tests.
bool CheckBytesLineMatches(const std::string& line, void* context, ReadAtFn read, LONGLONG size);

}  // namespace tav::filters
