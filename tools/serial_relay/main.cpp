// veltrix_relay: a paced null-modem line between two ptys, for trying the
// transfer tool by hand.
//   veltrix_relay LINK_A LINK_B [--baud N] [--drop A|B:INDEX] [--corrupt A|B:INDEX[:MASK]]
// Runs until interrupted; LINK_A and LINK_B are symlinks to the pty devices.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "tools/serial_relay/PacedRelay.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

bool ParseFault(const char* text, bool drop, relay::Options& options)
{
    if ((text[0] != 'A' && text[0] != 'B') || text[1] != ':')
        return false;
    char* end = nullptr;
    const unsigned long long index = std::strtoull(text + 2, &end, 10);
    if (end == text + 2)
        return false;
    relay::Fault fault;
    fault.drop = drop;
    fault.xorMask = 0xFF;
    if (*end == ':') {
        const unsigned long mask = std::strtoul(end + 1, &end, 0);
        if (mask == 0 || mask > 255)
            return false;
        fault.xorMask = static_cast<std::uint8_t>(mask);
    }
    if (*end != '\0')
        return false;
    options.faults[text[0] == 'A' ? 0 : 1][index] = fault;
    return true;
}

int Usage()
{
    std::fprintf(stderr, "usage: veltrix_relay LINK_A LINK_B [--baud N] [--drop A|B:INDEX] "
                         "[--corrupt A|B:INDEX[:MASK]]\n"
                         "  A:INDEX is the byte index in the direction from A to B.\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    relay::Options options;
    options.a.linkPath = argv[1];
    options.b.linkPath = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return Usage();
        const char* value = argv[++i];
        if (arg == "--baud") {
            char* end = nullptr;
            const long baud = std::strtol(value, &end, 10);
            if (*end != '\0' || baud < 0 || baud > 10000000)
                return Usage();
            options.baud = static_cast<int>(baud);
        } else if (arg == "--drop" || arg == "--corrupt") {
            if (!ParseFault(value, arg == "--drop", options))
                return Usage();
        } else {
            return Usage();
        }
    }
    relay::PacedRelay line(options);
    if (!line.Start()) {
        std::fprintf(stderr, "veltrix_relay: %s\n", line.Error().c_str());
        return 1;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    while (g_stop == 0)
        pause();
    line.Stop();
    return 0;
}
