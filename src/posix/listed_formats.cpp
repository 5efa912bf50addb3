#include "posix/listed_formats.h"

#include <cstdint>

namespace clipfile::portable {

namespace {

bool IsDerivedFromBitmap(FormatId id) { return id == CF_DIB || id == CF_DIBV5; }

}  // namespace

bool IsDerived(const EntryList& entries, FormatId id) {
    return IsDerivedFromBitmap(id) && FindEntry(entries, id) < 0 &&
           FindEntry(entries, CF_BITMAP) >= 0;
}

bool IsListed(const EntryList& entries, FormatId id) {
    return FindEntry(entries, id) >= 0 || IsDerived(entries, id);
}

// Formats in the order placed, with CF_DIB and CF_DIBV5 offered right after a
// stored CF_BITMAP, as the system clipboard lists them.
FormatId NextListedFormat(const EntryList& entries, FormatId previous) {
    bool returnNext = previous == 0;
    for (std::uint32_t i = 0; i < entries.count; ++i) {
        const FormatId id = entries.items[i].id;
        FormatId listed[3] = {id, 0, 0};
        if (id == CF_BITMAP) {
            listed[1] = IsDerived(entries, CF_DIB) ? FormatId{CF_DIB} : 0;
            listed[2] = IsDerived(entries, CF_DIBV5) ? FormatId{CF_DIBV5} : 0;
        }
        for (const FormatId candidate : listed) {
            if (candidate == 0) {
                continue;
            }
            if (returnNext) {
                return candidate;
            }
            returnNext = candidate == previous;
        }
    }
    return 0;
}

}  // namespace clipfile::portable
