#include "tools/sender/options.h"

#include <CLI/CLI.hpp>

#include "host/arguments.h"

namespace lxd::sender {

int ParseOptions(int argc, char** argv, Options& options) {
    CLI::App app{
        "lxdravik-send: transmits levels to the lxdravik driver as level packets or block\n"
        "packets (raw or run-length coded blocks), from a pattern or from a text file of\n"
        "'port channel value' lines.",
        kProgram};
    std::string to = host::LocalDriverAddress();
    std::string ports = "0";
    std::string packet = "block";
    std::string coding = "auto";
    app.add_option("--to", to, "Destination HOST:PORT")->capture_default_str();
    auto* pattern = app.add_option("--pattern", options.patternName, "Pattern to send")
                        ->check(CLI::IsMember({"chase", "fade", "ramp", "full", "zero", "random"}))
                        ->capture_default_str();
    auto* file = app.add_option("--file", options.file,
                                "Send the levels of this file ('port channel value' lines, "
                                "# comments) instead of a pattern");
    auto* portsOption = app.add_option("--ports", ports, "Ports the pattern covers, e.g. 0-3,7")
                            ->capture_default_str();
    auto* packetOption = app.add_option("--packet", packet, "Datagram kind: level or block packets")
                             ->check(CLI::IsMember({"level", "block"}))
                             ->capture_default_str();
    auto* codingOption =
        app.add_option("--coding", coding,
                       "Block data: auto (the smaller of raw and coded), raw or rle")
            ->check(CLI::IsMember({"auto", "raw", "rle"}))
            ->capture_default_str();
    auto* fps = app.add_option("--fps", options.fps, "Frames per second")
                    ->check(CLI::Range(0.1, 10000.0))
                    ->capture_default_str();
    auto* duration = app.add_option("--duration", options.duration,
                                    "Send for this many seconds (default: a pattern until "
                                    "interrupted, a file once)")
                         ->check(CLI::Range(0.0, 86400.0));
    auto* count = app.add_option("--count", options.count, "Send this many frames")
                      ->check(CLI::Range(std::int64_t{1}, std::int64_t{1} << 40));
    duration->excludes(count);
    auto* level =
        app.add_option("--level", options.level, "Level of the lit channels of chase and of full")
            ->check(CLI::Range(0, 255))
            ->capture_default_str();
    auto* seed =
        app.add_option("--seed", options.seed, "Seed of the random pattern")->capture_default_str();
    app.add_flag("--quiet", options.quiet, "No progress line");
    file->excludes(pattern);
    file->excludes(portsOption);
#if defined(LXD_HAVE_PCAP)
    auto* pcap = app.add_option("--pcap", options.pcap,
                                "Write the datagrams into this capture file (pcap), stamped with "
                                "their send times, instead of sending them");
    auto* replay = app.add_option("--replay", options.replay,
                                  "Play the UDP datagrams to --replay-port from this pcap or "
                                  "pcapng capture to --to, with the capture's timing");
    for (CLI::Option* other : {pcap, pattern, file, portsOption, packetOption, codingOption, fps,
                               duration, count, level, seed}) {
        replay->excludes(other);
    }
    app.add_option("--replay-port", options.replayPort, "UDP port whose datagrams --replay plays")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str()
        ->needs(replay);
    app.add_option("--speed", options.speed,
                   "Replay speed: 2 plays twice as fast, 0 as fast as possible")
        ->check(CLI::Range(0.0, 1000.0))
        ->capture_default_str()
        ->needs(replay);
    auto* loop =
        app.add_flag("--loop", options.loop, "Replay the capture again and again until interrupted")
            ->needs(replay);
    app.add_option("--loop-gap", options.loopGap,
                   "Milliseconds between the last datagram of a --loop pass and the first of the "
                   "next (default: the capture's typical interval, 25 where it has none)")
        ->check(CLI::Range(0.0, 3600000.0))
        ->needs(loop);
#else
    (void)packetOption, (void)fps, (void)level, (void)seed;
#endif
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }

    if (!host::ParseDestination(kProgram, to, options.host, options.port)) {
        return host::kBadCommandLine;
    }
    ParsePattern(options.patternName, options.pattern);
    std::string error;
    if (!ParsePorts(ports, options.ports, error)) {
        return host::Fail(kProgram, "--ports: " + error);
    }
    options.packet = packet == "level" ? PacketKind::kLevel : PacketKind::kBlock;
    options.coding = coding == "raw"   ? BlockCoding::kRaw
                     : coding == "rle" ? BlockCoding::kCoded
                                       : BlockCoding::kShorter;
    if (options.packet == PacketKind::kLevel && codingOption->count() > 0) {
        return host::Fail(kProgram, "--coding applies to block packets only (add --packet block)");
    }
    if (!options.pcap.empty() && options.file.empty() && options.count < 0 &&
        options.duration < 0) {
        return host::Fail(kProgram, "--pcap with a pattern needs --count or --duration");
    }
    return -1;
}

}  // namespace lxd::sender
