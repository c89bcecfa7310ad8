// The misbehaving servers that both the in-process and the host-run tests
// put in front of Halvorne, and small helpers around a test's folder.
#pragma once

#include "tests/support/LoopbackServer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

namespace tests::robustness {

using tests::support::Connection;
using tests::support::Response;
using Server = tests::support::LoopbackServer;

struct Case {
    const char* name;
    // Plays the misbehaving answer on a connection whose request was read.
    void (*play)(Connection&);
    // Exit code when this answer meets the documentation file's request.
    int exitCode;
    // The fetch still succeeds (the slow server), so the file is saved.
    bool saves;
};

inline void EndlessHeaders(Connection& c) {
    if (!c.Send("HTTP/1.0 200 OK\r\n"))
        return;
    unsigned long n = 0;
    c.SendStream([&n] { return "X-Filler-" + std::to_string(n++) + ": " + std::string(80, 'h') + "\r\n"; },
        256u * 1024 * 1024, 30);
}

inline void MegabyteHeaderLine(Connection& c) {
    if (!c.Send("HTTP/1.0 200 OK\r\nX-Big: "))
        return;
    c.SendStream([] { return std::string(64 * 1024, 'a'); }, 8u * 1024 * 1024, 30);
    c.Send("\r\n\r\nbody");
}

inline void HugeContentLength(Connection& c) {
    c.Send("HTTP/1.0 200 OK\r\nContent-Length: 4294967296\r\n\r\n" + std::string(5000, 'x'));
}

inline void HugeChunk(Connection& c) {
    c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7FFFFFFF\r\n" + std::string(5000, 'y'));
}

inline void OneBytePer200ms(Connection& c) { c.SendSlowly("HTTP/1.0 200 OK\r\n\r\n%PDF-slow", 1, 200); }

inline void ResetMidBody(Connection& c) {
    if (c.Send("HTTP/1.0 200 OK\r\nContent-Length: 200000\r\n\r\n" + std::string(60000, 'z'))) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        c.Reset();
    }
}

inline const Case kCases[] = {
    {"EndlessHeaders", EndlessHeaders, 99, false},
    {"MegabyteHeaderLine", MegabyteHeaderLine, 99, false},
    {"ContentLength4GiBShortBody", HugeContentLength, 99, false},
    {"ChunkSize7FFFFFFF", HugeChunk, 99, false},
    {"OneBytePer200ms", OneBytePer200ms, 21, true},
    {"ResetMidBody", ResetMidBody, 55, false},
};

inline std::string CaseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

// A version file the documentation download accepts (5 bytes or more).
inline const std::string kVersionFile = "5.23\r\n";

using tests::support::ListTree;
using tests::support::ReadFile;
using tests::support::TempDir;
using tests::support::WriteFile;

// A target folder as the host leaves it: an old file and a sub-folder.
inline const std::set<std::string> kOldTree = {"OLD_DOC.PDF", "archiv/", "archiv/keep.txt"};
inline void FillOldTree(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir / "archiv");
    WriteFile(dir / "OLD_DOC.PDF", "old");
    WriteFile(dir / "archiv" / "keep.txt", "k");
}

} // namespace tests::robustness
