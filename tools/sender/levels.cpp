#include "tools/sender/levels.h"

#include <cstring>
#include <fstream>
#include <sstream>

#include "host/arguments.h"

namespace lxd::sender {
namespace {

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    const std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

}  // namespace

bool ParsePattern(const std::string& name, Pattern& pattern) {
    static const struct {
        const char* name;
        Pattern pattern;
    } kNames[] = {{"chase", Pattern::kChase}, {"fade", Pattern::kFade},
                  {"ramp", Pattern::kRamp},   {"full", Pattern::kFull},
                  {"zero", Pattern::kZero},   {"random", Pattern::kRandom}};
    for (const auto& entry : kNames) {
        if (name == entry.name) {
            pattern = entry.pattern;
            return true;
        }
    }
    return false;
}

bool ParsePorts(const std::string& text, std::vector<int>& ports, std::string& error) {
    ports.clear();
    bool chosen[kNumPorts] = {};
    std::stringstream items(text);
    std::string item;
    if (Trim(text).empty()) {
        error = "the ports list is empty";
        return false;
    }
    while (std::getline(items, item, ',')) {
        item = Trim(item);
        const std::size_t dash = item.find('-');
        long first = 0;
        long last = 0;
        const bool range = dash != std::string::npos;
        if (range ? !(host::ParseWholeNumber(Trim(item.substr(0, dash)), first) &&
                      host::ParseWholeNumber(Trim(item.substr(dash + 1)), last))
                  : !host::ParseWholeNumber(item, first)) {
            error = "malformed ports list '" + text + "' (expected e.g. 0-3,7)";
            return false;
        }
        if (!range) {
            last = first;
        }
        for (const long port : {first, last}) {
            if (port > kNumPorts - 1) {
                error = "port " + std::to_string(port) + " is outside 0..35";
                return false;
            }
        }
        if (first > last) {
            error = "port range " + item + " runs backwards";
            return false;
        }
        for (long port = first; port <= last; ++port) {
            chosen[port] = true;
        }
    }
    for (int port = 0; port < kNumPorts; ++port) {
        if (chosen[port]) {
            ports.push_back(port);
        }
    }
    return true;
}

bool ParseLevelText(const std::string& text, const std::string& name, Frame& frame,
                    std::string& error) {
    std::stringstream lines(text);
    std::string line;
    int number = 0;
    int values = 0;
    while (std::getline(lines, line)) {
        ++number;
        const std::string where = name + ":" + std::to_string(number) + ": ";
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) {
            line.resize(hash);
        }
        std::stringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;) {
            words.push_back(word);
        }
        if (words.empty()) {
            continue;
        }
        long port = 0;
        long channel = 0;
        long value = 0;
        if (words.size() != 3 || !host::ParseWholeNumber(words[0], port) ||
            !host::ParseWholeNumber(words[1], channel) ||
            !host::ParseWholeNumber(words[2], value)) {
            error = where + "expected 'port channel value' (three whole numbers), got '" +
                    Trim(line) + "'";
            return false;
        }
        if (port > kNumPorts - 1) {
            error = where + "port " + words[0] + " is outside 0..35";
            return false;
        }
        if (channel > kChannelsPerPort - 1) {
            error = where + "channel " + words[1] + " is outside 0..511";
            return false;
        }
        if (value > 255) {
            error = where + "value " + words[2] + " is outside 0..255";
            return false;
        }
        if (!frame.sent[port]) {
            std::memset(frame.levels[port], 0, kChannelsPerPort);
            frame.sent[port] = true;
        }
        frame.levels[port][channel] = static_cast<std::uint8_t>(value);
        ++values;
    }
    if (values == 0) {
        error = name + ": no levels in the file";
        return false;
    }
    return true;
}

bool ReadLevelFile(const std::string& path, Frame& frame, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open the file";
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    return ParseLevelText(text.str(), path, frame, error);
}

PatternSource::PatternSource(Pattern pattern, std::vector<int> ports, std::uint8_t level,
                             std::uint32_t seed)
    : pattern_(pattern), ports_(std::move(ports)), level_(level), random_(seed) {}

void PatternSource::Fill(std::uint64_t index, Frame& frame) {
    for (const int port : ports_) {
        frame.sent[port] = true;
        std::uint8_t* levels = frame.levels[port];
        switch (pattern_) {
            case Pattern::kChase:
                // Every 16th channel lit, moving on by one channel each frame.
                for (int c = 0; c < kChannelsPerPort; ++c) {
                    levels[c] = (c + kChannelsPerPort * 16 - index % 16) % 16 == 0 ? level_ : 0;
                }
                break;
            case Pattern::kFade: {
                // Up and down in steps of 5, each port a little behind the one before.
                const std::uint64_t step = (index * 5 + 510 - (port * 30) % 510) % 510;
                std::memset(levels, static_cast<int>(step <= 255 ? step : 510 - step),
                            kChannelsPerPort);
                break;
            }
            case Pattern::kRamp:
                for (int c = 0; c < kChannelsPerPort; ++c) {
                    levels[c] = static_cast<std::uint8_t>(c + index);
                }
                break;
            case Pattern::kFull:
                std::memset(levels, level_, kChannelsPerPort);
                break;
            case Pattern::kZero:
                std::memset(levels, 0, kChannelsPerPort);
                break;
            case Pattern::kRandom:
                for (int c = 0; c < kChannelsPerPort; ++c) {
                    levels[c] = static_cast<std::uint8_t>(random_() & 0xFF);
                }
                break;
        }
    }
}

}  // namespace lxd::sender
