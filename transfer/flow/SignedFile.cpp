// A file's signature checked with libsodium (signature/).
#include "transfer/flow/DownloadSteps.h"

#include "http/MemoryStream.h"
#include "transfer/core/SeenSignatures.h"

namespace transfer::flow {

namespace {

// Silences the client's events and bounds the body for one quiet request;
// puts everything back however the request ends.
class QuietRequest {
public:
    explicit QuietRequest(TIdHTTP& http)
        : http_(http), connected_(std::move(http.OnConnected)), disconnected_(std::move(http.OnDisconnected)),
          workBegin_(std::move(http.OnWorkBegin)), work_(std::move(http.OnWork)), workEnd_(std::move(http.OnWorkEnd)),
          maxBody_(http.MaxBodySize) {
        http.OnConnected = nullptr;
        http.OnDisconnected = nullptr;
        http.OnWorkBegin = nullptr;
        http.OnWork = nullptr;
        http.OnWorkEnd = nullptr;
        http.MaxBodySize = signature::kMaxSignatureFileSize;
    }
    ~QuietRequest() {
        http_.OnConnected = std::move(connected_);
        http_.OnDisconnected = std::move(disconnected_);
        http_.OnWorkBegin = std::move(workBegin_);
        http_.OnWork = std::move(work_);
        http_.OnWorkEnd = std::move(workEnd_);
        http_.MaxBodySize = maxBody_;
    }
    QuietRequest(const QuietRequest&) = delete;
    QuietRequest& operator=(const QuietRequest&) = delete;

private:
    TIdHTTP& http_;
    decltype(TIdHTTP::OnConnected) connected_;
    decltype(TIdHTTP::OnDisconnected) disconnected_;
    decltype(TIdHTTP::OnWorkBegin) workBegin_;
    decltype(TIdHTTP::OnWork) work_;
    decltype(TIdHTTP::OnWorkEnd) workEnd_;
    uint64_t maxBody_;
};

} // namespace

SignedFile::SignedFile(TIdHTTP& http, std::string publicKey, std::string serverDir, std::string fileName)
    : http_(http), key_(std::move(publicKey)), serverDir_(std::move(serverDir)), fileName_(std::move(fileName)) {}

SignedFile::~SignedFile() = default;

std::string SignedFile::SignatureAddress(const std::string& serverDir, const std::string& fileName) {
    return serverDir + fileName + ".minisig";
}

signature::Problem SignedFile::Prepare() {
    if (!Required())
        return signature::Problem::None;
    TMemoryStream text;
    {
        QuietRequest quiet(http_);
        try {
            http_.Get(SignatureAddress(serverDir_, fileName_), text);
        } catch (const EIdProtocolReplyError&) {
            http_.Disconnect(); // an error status leaves the connection open
            return signature::Problem::Missing;
        } catch (const EIdBodyTooLarge&) {
            http_.Disconnect();
            return signature::Problem::Oversized;
        }
    }
    const std::string_view bytes(reinterpret_cast<const char*>(text.Data.data()), text.Data.size());
    check_ = std::make_shared<signature::SignatureCheck>(key_, bytes, fileName_);
    return check_->Status();
}

void SignedFile::Observe(const uint8_t* bytes, std::size_t n) {
    if (check_)
        check_->Update(bytes, n);
}

signature::Problem SignedFile::CheckBytes(const uint8_t* data, std::size_t size) {
    if (!Required())
        return signature::Problem::None;
    if (!check_)
        return signature::Problem::Missing; // never prepared: nothing vouches for the file
    return check_->FinishWhole(data, size);
}

signature::Problem SignedFile::CheckReceived() {
    if (!Required())
        return signature::Problem::None;
    if (!check_)
        return signature::Problem::Missing;
    return check_->Finish();
}

signature::Problem SignedFile::CheckSigningTime(bool remember) {
    if (!Required())
        return signature::Problem::None;
    if (!check_ || check_->Status() != signature::Problem::None)
        return signature::Problem::Missing;
    const SeenCheck seen = transfer::CheckSigningTime(SeenSignaturesPath(),
        HexOf(check_->Id().data(), check_->Id().size()), fileName_, check_->Timestamp(), remember);
    stateError_ = seen.Error;
    switch (seen.Verdict) {
    case SeenVerdict::Accepted: return signature::Problem::None;
    case SeenVerdict::Older: return signature::Problem::Replayed;
    case SeenVerdict::StateUnusable: break;
    }
    return signature::Problem::Malformed; // reported by StateError
}

} // namespace transfer::flow
