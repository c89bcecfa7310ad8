#include "transfer/gui/DownloadSteps.h"

#include "transfer/gui/Form_Run.h"
#include "http/FileStream.h"
#include "http/HttpResponse.h"
#include "http/MemoryStream.h"
#include "transfer/core/ErrorClass.h"
#include "transfer/core/SeenSignatures.h"
#include "transfer/core/SaveDownload.h"

#include <QLabel>
#include <QProgressBar>
#include <QStringDecoder>

namespace transfer::gui {

QString StatusConnecting() { return QStringLiteral("NAVAZOVÁNÍ SPOJENÍ"); }

QString StatusDownloading(const std::string& fileName) {
    return QStringLiteral("Stahování souboru ") + FromUtf8OrCp1250(fileName);
}

QString SaveFailedMessage(const std::string& dir, const std::string& fileName) {
    return QStringLiteral("Soubor se nepodařilo uložit!\r\n") + FromUtf8OrCp1250(dir + fileName);
}

QString BadVersionMessage(const QString& text) {
    // An empty version (the main window's check on a "dokum" run has no
    // "/v:") would otherwise end the line with nothing to read.
    return QStringLiteral("Chybný formát čísla verze: ") + (text.isEmpty() ? QStringLiteral("(prázdný text)") : text);
}

QString FromCp1250(const std::string& bytes) {
    QStringDecoder decode("windows-1250");
    if (!decode.isValid())
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

QString FromUtf8OrCp1250(const std::string& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!utf8.hasError())
        return text;
    return FromCp1250(bytes);
}

void PrepareClient(TIdHTTP& http, const TProxySettings& proxy) {
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

void ReportFailure(TForm_Run& form, TTransferHost& host, const ErrorClass& c) {
    host.SetExitCode(c.ExitCode);
    if (c.ShowMessage && !c.Message.empty())
        form.ShowMessageLine(FromUtf8OrCp1250(c.Message), kBlack);
}

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

QString SignatureMessage(signature::Problem problem, const std::string& fileName, SignedFileRole role) {
    return FromUtf8OrCp1250(SignatureFailureMessage(problem, fileName, role));
}

QString DownloadedFileMessage(signature::Problem problem, const std::string& fileName, const SignedFile& file) {
    if (!file.StateError().empty())
        return FromUtf8OrCp1250(SeenStateFailureMessage(file.StateError(), SignedFileRole::DownloadedFile));
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

SignedFile::SignedFile(TIdHTTP& http, std::string publicKey, std::string serverDir, std::string fileName)
    : http_(http), key_(std::move(publicKey)), serverDir_(std::move(serverDir)), fileName_(std::move(fileName)) {}

SignedFile::~SignedFile() = default;

signature::Problem SignedFile::Prepare() {
    if (!Required())
        return signature::Problem::None;
    TMemoryStream text;
    {
        QuietRequest quiet(http_);
        try {
            http_.Get(serverDir_ + fileName_ + ".minisig", text);
        } catch (const EIdProtocolReplyError&) {
            http_.Disconnect(); // an error status leaves the connection open
            return signature::Problem::Missing;
        } catch (const EIdBodyTooLarge&) {
            http_.Disconnect();
            return signature::Problem::Oversized;
        }
    }
    const std::string_view bytes(reinterpret_cast<const char*>(text.Data.data()), text.Data.size());
    check_ = std::make_unique<signature::SignatureCheck>(key_, bytes, fileName_);
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

DownloadOperation::DownloadOperation(TForm_Run& form, TTransferHost& host, QObject* sender)
    : form_(form), host_(host), sender_(sender), disconnectAtEnd_(form.IdHTTP1), publicKey_(host.UpdatePublicKey()) {}

void DownloadOperation::Begin() {
    host_.SetExitCode(kExitNone);
    form_.ConnectionMade = false;
    form_.ShowAnimation();
    form_.ShowStatusLine(StatusConnecting(), kBlue);
    PrepareClient(form_.IdHTTP1, host_.Proxy());
}

void DownloadOperation::HideProgressLine() {
    form_.Gauge1->hide();
    form_.Label_Download->hide();
}

void DownloadOperation::ShowProgressLine() {
    form_.Label_Msg->hide();
    form_.Gauge1->show();
    form_.Label_Download->show();
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
        BodyLimit limit(form_.IdHTTP1, kMaxSignedVersionFileSize);
        bytes = Fetch(serverDir + fileName, report, [&](const std::vector<uint8_t>& fetched) {
            // Still part of the fetch: a failed signature request is a failed
            // fetch, and Storno meanwhile finds the run where the fetch left it.
            refused = AcceptSignedVersionFile(serverDir, fileName, listedFile, fetched, stateError);
            return refused == signature::Problem::None;
        });
    }
    if (!bytes && lastFailure_.BodyTooLarge) {
        RefuseVersionFile(FromUtf8OrCp1250(VersionFileTooLargeMessage(fileName, role)));
    } else if (!stateError.empty()) {
        RefuseVersionFile(FromUtf8OrCp1250(SeenStateFailureMessage(stateError, role)));
    } else if (refused != signature::Problem::None) {
        RefuseVersionFile(
            SignatureMessage(refused, refused == signature::Problem::NotListed ? listedFile : fileName, role));
    }
    return bytes;
}

signature::Problem DownloadOperation::AcceptSignedVersionFile(const std::string& serverDir, const std::string& fileName,
    const std::string& listedFile, const std::vector<uint8_t>& fetched, std::string& stateError) {
    SignedFile file(form_.IdHTTP1, publicKey_, serverDir, fileName);
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

void DownloadOperation::RefuseVersionFile(const QString& message) {
    manifest_.reset();
    form_.FinishedOk = false;
    form_.IdHTTP1.Disconnect();
    form_.DisconnectedInfo(sender_);
    host_.SetExitCode(kExitOtherFailure);
    form_.ShowMessageLine(message, kRed);
    form_.CloseWhenDone = false;
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
    form_.IdHTTP1.Request.ContentType = "application";
    std::optional<std::vector<uint8_t>> bytes;
    {
        TMemoryStream stream;
        try {
            form_.IdHTTP1.Get(address, stream);
            const bool accepted = !accept || accept(stream.Data);
            form_.ConnectedInfo(sender_);
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
    form_.FinishedOk = false;
    form_.DisconnectedInfo(sender_);
    if (report == FailureReport::ByErrorText) {
        ReportFailure(form_, host_, failure);
    } else if (failure.SecureConnection) {
        // A certificate that fails is a failed connection, but one the user
        // must see named, also where other failures pass silently.
        host_.SetExitCode(kExitNoConnection);
        form_.ShowMessageLine(FromUtf8OrCp1250(failure.Message), kBlack);
        form_.CloseWhenDone = false;
        endedForTheUserToSee_ = true;
    }
}

void DownloadOperation::ShowConnectionAgain() {
    // After a fetch that failed once connected, this replaces the error's
    // status and empties the message line again.
    if (form_.ConnectionMade) {
        form_.ConnectedInfo(sender_);
        form_.ShowMessageLine(QString(), kBlack);
    }
}

void DownloadOperation::EndConnectionNormally() {
    form_.FinishedOk = true;
    form_.IdHTTP1.Disconnect();
    form_.DisconnectedInfo(sender_);
}

bool DownloadOperation::DownloadIntoTarget(const DownloadRequest& request) {
    host_.SetExitCode(kExitNotSaved);
    ShowProgressLine();
    form_.IdHTTP1.Request.ContentType = "application";
    const std::string address = request.ServerDirAddress + request.FileName;
    const ReceivedFileChecks checks =
        form_.MakeReceivedFileChecks ? form_.MakeReceivedFileChecks(address) : ReceivedFileChecks{};
    SignedFile signedFile(form_.IdHTTP1, publicKey_, request.ServerDirAddress, request.FileName);
    try {
        form_.ShowStatusLine(StatusDownloading(request.FileName), kBlue);
        if (request.ClearGaugeFirst)
            form_.HTTPWorkBegin(sender_, wmRead, 0);
        // A file its signature already rules out is not fetched at all.
        signature::Problem refused = signedFile.Prepare();
        if (refused == signature::Problem::None)
            refused = signedFile.CheckSigningTime(/*remember=*/false);
        if (refused != signature::Problem::None) {
            form_.FinishedOk = true;
            form_.DisconnectedInfo(sender_);
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
    try {
        form_.IdHTTP1.Get(address, received);
        received.Position = 0;
    } catch (const EStreamError&) {
        // The disk refused the body (full, a size limit, no such
        // directory): a failed save, not a failed connection. The rest of
        // the body is of no use.
        form_.IdHTTP1.Disconnect();
        form_.FinishedOk = true;
        form_.DisconnectedInfo(sender_);
        ReportSaveFailure(request, kExitNotSaved, QString());
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
        form_.FinishedOk = true;
        form_.DisconnectedInfo(sender_);
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
            ReportSaveFailure(request, verdict.ExitCode, FromUtf8OrCp1250(verdict.Message));
            return false;
        }
        if (signedFile.Required())
            form_.ShowStatusLine(QString::fromUtf8(kSignatureVerifiedStatus), kGreen);
        const SaveResult r = CommitReplacingDirectory(received.File(), request.TargetDir, request.FileName);
        if (signedFile.Required())
            form_.DisconnectedInfo(sender_); // the run ends as it would without a signature
        if (r.Ok) {
            host_.SetExitCode(kExitSaved);
            return true;
        }
    } catch (...) {
        // Reading the file back for the check failed, or something else
        // went wrong on the way to the disk: the file is not saved.
    }
    ReportSaveFailure(request, kExitNotSaved, QString());
    return false;
}

void DownloadOperation::ReportSaveFailure(const DownloadRequest& request, int exitCode, const QString& message) {
    host_.SetExitCode(exitCode);
    form_.ShowMessageLine(message.isEmpty() ? SaveFailedMessage(request.TargetDir, request.FileName) : message, kRed);
}

void DownloadOperation::ReportUnexpectedFailure() {
    host_.SetExitCode(kExitOtherFailure);
    form_.ShowMessageLine(FromUtf8OrCp1250(DescribeCurrentException()), kBlack);
    form_.CloseWhenDone = false;
}

bool DownloadOperation::Finish(bool succeeded, bool mayClose) {
    form_.IdHTTP1.Disconnect();
    const bool connectionMade = form_.ConnectionMade;
    if (mayClose && (succeeded || form_.CloseWhenDone))
        form_.BitBtn_StornoClick(sender_);
    return connectionMade;
}

} // namespace transfer::gui
