#include "tools/bridge/console/terminal.h"

namespace lxd::bridge {

void Redraw(std::FILE* stream, const std::string& text) {
    const std::string all = "\033[H\033[2J" + text;
    WriteAll(stream, all.data(), all.size());
}

}  // namespace lxd::bridge
