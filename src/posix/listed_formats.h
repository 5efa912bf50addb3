#pragma once

#include "platform/types.h"
#include "posix/contents_file.h"

// The formats a contents table offers: those stored, plus CF_DIB and CF_DIBV5
// derived from a stored CF_BITMAP.
namespace clipfile::portable {

// Whether a device-independent format is offered from the stored CF_BITMAP.
bool IsDerived(const EntryList& entries, FormatId id);
bool IsListed(const EntryList& entries, FormatId id);
// The format listed after previous (0 for the first), or 0 after the last.
FormatId NextListedFormat(const EntryList& entries, FormatId previous);

}  // namespace clipfile::portable
