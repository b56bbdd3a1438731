#include "tools/bridge/core/discovery.h"

#include <cstring>

#include "protocol/pack.h"
#include "tools/bridge/core/printable.h"

namespace lxd::bridge {

bool DiscoveredSources::Note(const SacnDiscovery& page, std::uint32_t from, Millis now) {
    Source* source = nullptr;
    Source* room = &sources_[0];
    for (Source& s : sources_) {
        if (s.used && std::memcmp(s.cid, page.cid, sizeof s.cid) == 0) {
            source = &s;
            break;
        }
        if (room->used && (!s.used || s.last < room->last)) {
            room = &s;
        }
    }
    if (source == nullptr) {
        if (page.page != 0) {
            return false;  // its list starts with page 0
        }
        source = room;
        source->used = true;
        std::memcpy(source->cid, page.cid, sizeof source->cid);
    } else if (page.page != 0 && page.page != source->nextPage) {
        return false;
    }
    if (page.page == 0) {
        source->count = 0;
        source->cut = false;
    }
    for (int i = 0; i < page.count; ++i) {
        if (source->count == kUniverses) {
            source->cut = true;
            break;
        }
        source->universes[source->count++] =
            static_cast<std::uint16_t>(ReadBig16(page.universes + 2 * i));
    }
    source->nextPage = page.page < page.lastPage ? page.page + 1 : 0;
    CopyPrintable(page.sourceName, 64, source->name, sizeof source->name);
    source->address = from;
    source->last = now;
    return true;
}

void DiscoveredSources::Expire(Millis now) {
    for (Source& s : sources_) {
        if (s.used && now - s.last >= kDiscoveryTimeout) {
            s.used = false;
        }
    }
}

}  // namespace lxd::bridge
