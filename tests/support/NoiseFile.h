#pragma once
// Big files of incompressible bytes for downloads that measure or check
// what arrives: the same bytes for the same size on every run.
#include <cstdint>
#include <string>

namespace tests::support {

// Writes size bytes of a fixed xorshift sequence to path (replacing it),
// readable by all, and flushed to disk so that timing the download that
// follows does not also time this file's writeback. False on any failure.
bool WriteNoiseFile(const std::string& path, std::uint64_t size);

} // namespace tests::support
