#include "tools/bridge/net/interfaces.h"

#include "host/arguments.h"

namespace lxd::bridge {
namespace {

// Interface names on Linux and the BSDs: at most 15 bytes (IFNAMSIZ less
// one), no '/' or blanks. Windows' adapter names are longer and free.
#if defined(_WIN32)
constexpr bool kShortNames = false;
#else
constexpr bool kShortNames = true;
#endif
constexpr std::size_t kLongestShortName = 15;

}  // namespace

const Interface* ReplyCard(const std::vector<Interface>& cards, std::uint32_t via,
                           std::uint32_t poller) {
    for (const Interface& c : cards) {
        if ((via == 0 || c.index == via) && ((c.address ^ poller) & c.netmask) == 0) {
            return &c;
        }
    }
    for (const Interface& c : cards) {
        if (c.address == poller) {
            return &c;  // sent to ourselves: it arrived on loopback
        }
    }
    return nullptr;
}

bool Chosen(const std::string& choice, const Interface& i) {
    std::uint32_t address = 0;
    return choice == i.name || (host::ParseIpv4(choice, address) && address == i.address);
}

bool CheckInterfaceChoice(const std::string& choice, std::string& error) {
    std::uint32_t address = 0;
    if (host::ParseIpv4(choice, address)) {
        return true;
    }
    const bool dotted =
        !choice.empty() && choice.find_first_not_of("0123456789.") == std::string::npos;
    bool bad = choice.empty() || dotted || choice.size() > 255;
    bad = bad || (kShortNames && (choice.size() > kLongestShortName ||
                                  choice.find_first_of("/ \t") != std::string::npos));
    if (bad) {
        error = "'" + choice + "' is neither an IPv4 address nor an interface name";
    }
    return !bad;
}

}  // namespace lxd::bridge
