// Row filters of the PNG reader, shared by its chunk walk and its tests.
#pragma once
#include "Core/Types.h"

// Undoes one row's filter: dst = src with the filter of the given type reversed, count bytes, offset
// the filter's byte distance to the left (bytes per pixel, at least 1). prev is the unfiltered row
// above, or null for the first row. dst may be src itself. Returns false for an unknown filter type.
// portableCode keeps to the plain per-byte loops (tests compare the two).
bool unfilterPngRow(u8 type, const u8* src, u8* dst, const u8* prev, i64 count, i64 offset, bool portableCode = false);
