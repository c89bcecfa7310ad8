#include "transfer/flow/DownloadSteps.h"

#include "transfer/flow/TransferFlow.h"
#include "http/FileStream.h"
#include "http/HttpResponse.h"
#include "http/MemoryStream.h"
#include "transfer/core/Cp1250.h"
#include "transfer/core/ErrorClass.h"
#include "transfer/core/SaveDownload.h"
#include "transfer/core/SeenSignatures.h"

namespace transfer::flow {

std::string StatusDownloading(const std::string& fileName) { return texts::kDownloading + Utf8OrCp1250(fileName); }

std::string SaveFailedMessage(const std::string& dir, const std::string& fileName) {
    return texts::kSaveFailed + Utf8OrCp1250(dir + fileName);
}

std::string BadVersionMessage(const std::string& text) {
    // An empty version (the main window's check on a "dokum" run has no
    // "/v:") would otherwise end the line with nothing to read.
    return texts::kBadVersion + (text.empty() ? std::string(texts::kEmptyText) : text);
}

void PrepareClient(TIdHTTP& http, const ProxySettings& proxy) {
    http.InterceptEnabled = false;
    http.ProtocolVersion = "1.0";
    if (proxy.UseProxy) {
        http.Request.ProxyServer = proxy.ProxyName;
        http.Request.ProxyPort = proxy.ProxyPort;
    } else {
        http.Request.ProxyServer.clear();
        http.Request.ProxyPort = 80;
    }
}

DisconnectGuard::~DisconnectGuard() {
    try {
        http_.Disconnect();
    } catch (...) {
        // Closing a socket has nothing left to report at this point.
    }
}

void ReportFailure(TransferFlow& flow, TransferHost& host, const ErrorClass& c) {
    host.SetExitCode(c.ExitCode);
    if (c.ShowMessage && !c.Message.empty())
        flow.ShowMessageLine(Utf8OrCp1250(c.Message), kBlack);
}

namespace {

std::string SignatureMessage(signature::Problem problem, const std::string& fileName, SignedFileRole role) {
    return Utf8OrCp1250(SignatureFailureMessage(problem, fileName, role));
}

std::string DownloadedFileMessage(signature::Problem problem, const std::string& fileName, const SignedFile& file) {
    if (!file.StateError().empty())
        return Utf8OrCp1250(SeenStateFailureMessage(file.StateError(), SignedFileRole::DownloadedFile));
    return SignatureMessage(problem, fileName, SignedFileRole::DownloadedFile);
}

// Bounds the body of the requests made while it lives.
class BodyLimit {
public:
    BodyLimit(TIdHTTP& http, uint64_t maxBody) : http_(http), saved_(http.MaxBodySize) { http.MaxBodySize = maxBody; }
    ~BodyLimit() { http_.MaxBodySize = saved_; }
    BodyLimit(const BodyLimit&) = delete;
    BodyLimit& operator=(const BodyLimit&) = delete;

private:
    TIdHTTP& http_;
    uint64_t saved_;
};

} // namespace

DownloadOperation::DownloadOperation(TransferFlow& flow)
    : flow_(flow), host_(flow.Host()), disconnectAtEnd_(flow.Http), publicKey_(flow.Host().UpdatePublicKey()) {}

void DownloadOperation::Begin() {
    host_.SetExitCode(kExitNone);
    flow_.ConnectionMade = false;
    flow_.View().SetPartVisible(TransferPart::Animation, true);
    flow_.View().ShowStatusLine(texts::kConnecting, kBlue);
    PrepareClient(flow_.Http, host_.Proxy());
}

void DownloadOperation::HideProgressLine() {
    flow_.View().SetPartVisible(TransferPart::Gauge, false);
    flow_.View().SetPartVisible(TransferPart::ByteCountLine, false);
}

void DownloadOperation::ShowProgressLine() {
    flow_.View().SetPartVisible(TransferPart::MessageLine, false);
    flow_.View().SetPartVisible(TransferPart::Gauge, true);
    flow_.View().SetPartVisible(TransferPart::ByteCountLine, true);
}

std::optional<std::vector<uint8_t>> DownloadOperation::FetchIntoMemory(
    const std::string& address, FailureReport report) {
    return Fetch(address, report, nullptr);
}

std::optional<std::vector<uint8_t>> DownloadOperation::FetchSignedIntoMemory(const std::string& serverDir,
    const std::string& fileName, const std::string& listedFile, FailureReport report, SignedFileRole role) {
    if (publicKey_.empty())
        return Fetch(serverDir + fileName, report, nullptr);
    lastFailure_ = ErrorClass();
    manifest_.reset();
    signature::Problem refused = signature::Problem::None;
    std::string stateError;
    std::optional<std::vector<uint8_t>> bytes;
    {
        // Nothing in the file is used before its signature held, and no
        // more of it is read than a version file can be.
        BodyLimit limit(flow_.Http, kMaxSignedVersionFileSize);
        // The signature is fetched right after the file, from the same
        // server: its connection is made while the file arrives.
        flow_.Http.ExpectNext(SignedFile::SignatureAddress(serverDir, fileName));
        bytes = Fetch(serverDir + fileName, report, [&](const std::vector<uint8_t>& fetched) {
            // Still part of the fetch: a failed signature request is a failed
            // fetch, and Storno meanwhile finds the run where the fetch left it.
            refused = AcceptSignedVersionFile(serverDir, fileName, listedFile, fetched, stateError);
            return refused == signature::Problem::None;
        });
    }
    if (!bytes && lastFailure_.BodyTooLarge) {
        RefuseVersionFile(Utf8OrCp1250(VersionFileTooLargeMessage(fileName, role)));
    } else if (!stateError.empty()) {
        RefuseVersionFile(Utf8OrCp1250(SeenStateFailureMessage(stateError, role)));
    } else if (refused != signature::Problem::None) {
        RefuseVersionFile(
            SignatureMessage(refused, refused == signature::Problem::NotListed ? listedFile : fileName, role));
    }
    return bytes;
}

signature::Problem DownloadOperation::AcceptSignedVersionFile(const std::string& serverDir, const std::string& fileName,
    const std::string& listedFile, const std::vector<uint8_t>& fetched, std::string& stateError) {
    SignedFile file(flow_.Http, publicKey_, serverDir, fileName);
    signature::Problem refused = file.Prepare();
    if (refused == signature::Problem::None)
        refused = file.CheckBytes(fetched.data(), fetched.size());
    if (refused != signature::Problem::None)
        return refused;
    manifest_ = ParseVersionManifest(std::string_view(reinterpret_cast<const char*>(fetched.data()), fetched.size()));
    if (!manifest_ || !manifest_->Find(listedFile))
        return signature::Problem::NotListed;
    refused = file.CheckSigningTime(/*remember=*/true);
    stateError = file.StateError();
    return refused;
}

void DownloadOperation::RefuseVersionFile(const std::string& message) {
    manifest_.reset();
    flow_.FinishedOk = false;
    flow_.Http.Disconnect();
    flow_.DisconnectedInfo();
    host_.SetExitCode(kExitOtherFailure);
    flow_.ShowMessageLine(message, kRed);
    flow_.CloseWhenDone = false;
    endedForTheUserToSee_ = true;
}

signature::Problem DownloadOperation::CheckAgainstVersionFile(SignedFile& signedFile, const std::string& fileName) {
    const FileHash* listed = manifest_ ? manifest_->Find(fileName) : nullptr;
    if (!listed)
        return signature::Problem::NotListed;
    return signedFile.Digest() == *listed ? signature::Problem::None : signature::Problem::HashMismatch;
}

std::optional<std::vector<uint8_t>> DownloadOperation::Fetch(
    const std::string& address, FailureReport report, const std::function<bool(const std::vector<uint8_t>&)>& accept) {
    HideProgressLine();
    flow_.Http.Request.ContentType = "application";
    std::optional<std::vector<uint8_t>> bytes;
    {
        TMemoryStream stream;
        try {
            flow_.Http.Get(address, stream);
            const bool accepted = !accept || accept(stream.Data);
            flow_.ConnectedInfo();
            if (accepted) {
                host_.SetExitCode(kExitNothingToDownload);
                bytes = std::move(stream.Data);
            }
        } catch (...) {
            ReportFetchFailure(ClassifyCurrentException(), report);
        }
    }
    ShowConnectionAgain();
    return bytes;
}

void DownloadOperation::ReportFetchFailure(const ErrorClass& failure, FailureReport report) {
    lastFailure_ = failure;
    flow_.FinishedOk = false;
    flow_.DisconnectedInfo();
    if (report == FailureReport::ByErrorText) {
        ReportFailure(flow_, host_, failure);
    } else if (failure.SecureConnection) {
        // A certificate that fails is a failed connection, but one the user
        // must see named, also where other failures pass silently.
        host_.SetExitCode(kExitNoConnection);
        flow_.ShowMessageLine(Utf8OrCp1250(failure.Message), kBlack);
        flow_.CloseWhenDone = false;
        endedForTheUserToSee_ = true;
    }
}

void DownloadOperation::ShowConnectionAgain() {
    // After a fetch that failed once connected, this replaces the error's
    // status and empties the message line again.
    if (flow_.ConnectionMade) {
        flow_.ConnectedInfo();
        flow_.ShowMessageLine(std::string(), kBlack);
    }
}

void DownloadOperation::EndConnectionNormally() {
    flow_.FinishedOk = true;
    flow_.Http.Disconnect();
    flow_.DisconnectedInfo();
}

bool DownloadOperation::DownloadIntoTarget(const DownloadRequest& request) {
    host_.SetExitCode(kExitNotSaved);
    ShowProgressLine();
    flow_.Http.Request.ContentType = "application";
    const std::string address = request.ServerDirAddress + request.FileName;
    const ReceivedFileChecks checks =
        flow_.MakeReceivedFileChecks ? flow_.MakeReceivedFileChecks(address) : ReceivedFileChecks{};
    SignedFile signedFile(flow_.Http, publicKey_, request.ServerDirAddress, request.FileName);
    try {
        flow_.View().ShowStatusLine(StatusDownloading(request.FileName), kBlue);
        if (request.ClearGaugeFirst)
            flow_.WorkBegin(0);
        // A file its signature already rules out is not fetched at all.
        signature::Problem refused = signedFile.Prepare();
        if (refused == signature::Problem::None)
            refused = signedFile.CheckSigningTime(/*remember=*/false);
        if (refused != signature::Problem::None) {
            flow_.FinishedOk = true;
            flow_.DisconnectedInfo();
            ReportSaveFailure(request, kExitNotSaved, DownloadedFileMessage(refused, request.FileName, signedFile));
            return false;
        }
    } catch (...) {
        ReportFetchFailure(ClassifyCurrentException(), FailureReport::ByErrorText);
        return false;
    }
    // The body goes to the target directory's disk as it arrives, in a file
    // that has no name there until the save; dropping the stream on any
    // other path leaves nothing behind.
    TFileStream received(ReceivingDirectory(request.TargetDir, request.FileName));
    if (signedFile.Required())
        received.OnWrite = [&signedFile, &checks](const uint8_t* bytes, std::size_t n) {
            signedFile.Observe(bytes, n);
            if (checks.Observe)
                checks.Observe(bytes, n);
        };
    else
        received.OnWrite = checks.Observe;
    // Writing to the disk and hashing run beside the receiving (and
    // decrypting), on threads of the stream: all done in turn on this
    // thread, they made a big download as slow as the sum of them, and a
    // busy machine, taking that one core away at times, slower than curl
    // writing the file and syncing it afterwards. The stream's threads see
    // OnWrite as set above.
    received.WriteInBackground();
    try {
        flow_.Http.Get(address, received);
        received.Position = 0;
    } catch (const EStreamError&) {
        // The disk refused the body (full, a size limit, no such
        // directory): a failed save, not a failed connection. The rest of
        // the body is of no use.
        flow_.Http.Disconnect();
        flow_.FinishedOk = true;
        flow_.DisconnectedInfo();
        ReportSaveFailure(request, kExitNotSaved, std::string());
        return false;
    } catch (...) {
        ReportFetchFailure(ClassifyCurrentException(), FailureReport::ByErrorText);
        return false;
    }
    return SaveReceivedFile(request, received, checks, signedFile);
}

bool DownloadOperation::SaveReceivedFile(
    const DownloadRequest& request, TFileStream& received, const ReceivedFileChecks& checks, SignedFile& signedFile) {
    try {
        flow_.FinishedOk = true;
        flow_.DisconnectedInfo();
        // The checks come before anything in the target directory changes:
        // the signature, the version file's hash, the signing time (kept as
        // the latest once the file is accepted).
        signature::Problem problem = signedFile.CheckReceived();
        if (problem == signature::Problem::None && signedFile.Required())
            problem = CheckAgainstVersionFile(signedFile, request.FileName);
        if (problem == signature::Problem::None)
            problem = signedFile.CheckSigningTime(/*remember=*/true);
        if (problem != signature::Problem::None) {
            received.File().Discard();
            ReportSaveFailure(request, kExitNotSaved, DownloadedFileMessage(problem, request.FileName, signedFile));
            return false;
        }
        const ReceivedFileVerdict verdict = checks.Accept ? checks.Accept(received) : ReceivedFileVerdict::Accept();
        if (!verdict.Accepted) {
            received.File().Discard();
            ReportSaveFailure(request, verdict.ExitCode, Utf8OrCp1250(verdict.Message));
            return false;
        }
        if (signedFile.Required())
            flow_.View().ShowStatusLine(kSignatureVerifiedStatus, kGreen);
        const SaveResult r = CommitReplacingDirectory(received.File(), request.TargetDir, request.FileName);
        if (signedFile.Required())
            flow_.DisconnectedInfo(); // the run ends as it would without a signature
        if (r.Ok) {
            host_.SetExitCode(kExitSaved);
            return true;
        }
    } catch (...) {
        // Reading the file back for the check failed, or something else
        // went wrong on the way to the disk: the file is not saved.
    }
    ReportSaveFailure(request, kExitNotSaved, std::string());
    return false;
}

void DownloadOperation::ReportSaveFailure(const DownloadRequest& request, int exitCode, const std::string& message) {
    host_.SetExitCode(exitCode);
    flow_.ShowMessageLine(message.empty() ? SaveFailedMessage(request.TargetDir, request.FileName) : message, kRed);
}

void DownloadOperation::ReportUnexpectedFailure() {
    host_.SetExitCode(kExitOtherFailure);
    flow_.ShowMessageLine(Utf8OrCp1250(DescribeCurrentException()), kBlack);
    flow_.CloseWhenDone = false;
}

bool DownloadOperation::Finish(bool succeeded, bool mayClose) {
    flow_.Http.Disconnect();
    const bool connectionMade = flow_.ConnectionMade;
    if (mayClose && (succeeded || flow_.CloseWhenDone))
        flow_.OnStorno();
    return connectionMade;
}

} // namespace transfer::flow
