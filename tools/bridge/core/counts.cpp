#include "tools/bridge/core/counts.h"

namespace lxd::bridge {

const char* SourceStateName(SourceState state) {
    switch (state) {
        case SourceState::kWaiting:
            return "waiting";
        case SourceState::kLive:
            return "live";
        case SourceState::kLost:
            return "lost";
    }
    return "unknown";
}

const char* SyncKindName(SyncKind kind) {
    switch (kind) {
        case SyncKind::kNone:
            return "none";
        case SyncKind::kSacn:
            return "sacn";
        case SyncKind::kArtSync:
            return "artsync";
        case SyncKind::kAll:
            return "all";
    }
    return "unknown";
}

const char* DropName(Drop drop) {
    switch (drop) {
        case Drop::kPreview:
            return "preview";
        case Drop::kOutOfOrder:
            return "out_of_order";
        case Drop::kSourceLimit:
            return "source_limit";
        case Drop::kStartCode:
            return "start_code";
        case Drop::kThirdSource:
            return "third_source";
    }
    return "unknown";
}

}  // namespace lxd::bridge
