#include "tools/bridge/console/terminal.h"

namespace lxd::bridge {

void Redraw(std::FILE* stream, const std::string& text) {
    const std::string all = "\033[H\033[2J" + text;
    for (std::size_t at = 0; at < all.size();) {
        const long n = WriteSome(stream, all.data() + at, all.size() - at);
        if (n <= 0) {
            return;
        }
        at += static_cast<std::size_t>(n);
    }
}

}  // namespace lxd::bridge
