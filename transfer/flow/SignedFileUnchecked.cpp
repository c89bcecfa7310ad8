// A build without the signature library (configured where no libsodium
// for the target was found) can check no signature. A program built with a key all the same takes no
// file: a key it cannot use is a key that vouches for nothing.
#include "transfer/flow/DownloadSteps.h"

namespace transfer::flow {

SignedFile::SignedFile(TIdHTTP& http, std::string publicKey, std::string serverDir, std::string fileName)
    : http_(http), key_(std::move(publicKey)), serverDir_(std::move(serverDir)), fileName_(std::move(fileName)) {}

SignedFile::~SignedFile() = default;

signature::Problem SignedFile::Prepare() { return Required() ? signature::Problem::BadKey : signature::Problem::None; }

void SignedFile::Observe(const uint8_t*, std::size_t) {}

signature::Problem SignedFile::CheckBytes(const uint8_t*, std::size_t) { return Prepare(); }

signature::Problem SignedFile::CheckReceived() { return Prepare(); }

signature::Problem SignedFile::CheckSigningTime(bool) { return Prepare(); }

} // namespace transfer::flow
