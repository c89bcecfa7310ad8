// veltrix_relay: a paced null-modem line between two ptys, for trying the
// transfer tool by hand.
//   veltrix_relay LINK_A LINK_B [--baud N] [--drop A|B:INDEX] [--corrupt A|B:INDEX[:MASK]]
//                 [--insert A|B:INDEX:BYTE]
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

enum class FaultKind { Drop, Corrupt, Insert };

// A|B:INDEX[:VALUE]; the value is a mask (corrupt, default 0xFF) or the byte
// to insert (required). Faults on one byte add up.
bool ParseFault(const char* text, FaultKind kind, tools::serial_relay::Options& options) {
    if ((text[0] != 'A' && text[0] != 'B') || text[1] != ':')
        return false;
    char* end = nullptr;
    const unsigned long long index = std::strtoull(text + 2, &end, 10);
    if (end == text + 2)
        return false;
    long value = -1;
    if (*end == ':') {
        const char* start = end + 1;
        value = std::strtol(start, &end, 0);
        if (end == start || value < 0 || value > 255)
            return false;
    }
    if (*end != '\0')
        return false;
    tools::serial_relay::Fault& fault = options.faults[text[0] == 'A' ? 0 : 1][index];
    switch (kind) {
    case FaultKind::Drop:
        if (value >= 0)
            return false;
        fault.drop = true;
        break;
    case FaultKind::Corrupt:
        if (value == 0)
            return false;
        fault.xorMask = static_cast<std::uint8_t>(value < 0 ? 0xFF : value);
        break;
    case FaultKind::Insert:
        if (value < 0)
            return false;
        fault.insert.push_back(static_cast<std::uint8_t>(value));
        break;
    }
    return true;
}

int Usage() {
    std::fprintf(stderr, "usage: veltrix_relay LINK_A LINK_B [--baud N] [--drop A|B:INDEX] "
                         "[--corrupt A|B:INDEX[:MASK]] [--insert A|B:INDEX:BYTE]\n"
                         "  A:INDEX is the byte index in the direction from A to B; --insert puts BYTE\n"
                         "  on the line just before that byte.\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return Usage();
    tools::serial_relay::Options options;
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
        } else if (arg == "--drop" || arg == "--corrupt" || arg == "--insert") {
            const FaultKind kind = arg == "--drop"      ? FaultKind::Drop
                                   : arg == "--corrupt" ? FaultKind::Corrupt
                                                        : FaultKind::Insert;
            if (!ParseFault(value, kind, options))
                return Usage();
        } else {
            return Usage();
        }
    }
    tools::serial_relay::PacedRelay line(options);
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
