#include "transfer/gui/DownloadSteps.h"

#include "transfer/gui/Form_Run.h"
#include "transfer/core/ErrorClass.h"
#include "transfer/core/SaveDownload.h"

#include "http/HttpResponse.h"

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

void PrepareClient(TIdHTTP& http, const TRunParameters& run) {
    http.InterceptEnabled = false;
    http.ProtocolVersion = "1.0";
    if (run.UseProxy) {
        http.Request.ProxyServer = run.ProxyName;
        http.Request.ProxyPort = run.ProxyPort;
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

void ReportFailure(TForm_Run& form, TRunParameters& run, const std::string& errorText) {
    const ErrorClass c = ClassifyError(errorText);
    run.ExitCode = c.ExitCode;
    if (c.ShowMessage && !c.Message.empty())
        form.ShowMessageLine(FromUtf8OrCp1250(c.Message), kBlack);
}

bool SaveIntoTarget(TForm_Run& form, TRunParameters& run, QObject* sender,
                    const std::string& dir, const std::string& fileName, const TMemoryStream& stream) {
    bool saved = false;
    try {
        form.FinishedOk = true;
        form.DisconnectedInfo(sender);
        const SaveResult r = SaveReplacingDirectory(dir, fileName, stream.Data.data(), stream.Size());
        saved = r.Ok;
    } catch (...) {
        saved = false;
    }
    if (saved) {
        run.ExitCode = kExitSaved;
        return true;
    }
    run.ExitCode = kExitNotSaved;
    form.ShowMessageLine(SaveFailedMessage(dir, fileName), kRed);
    return false;
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

} // namespace

SignedFile::SignedFile(TIdHTTP& http, std::string publicKey, std::string serverDir, std::string fileName)
    : http_(http), key_(std::move(publicKey)), serverDir_(std::move(serverDir)), fileName_(std::move(fileName)) {}

SignedFile::~SignedFile() { StopHashing(); }

void SignedFile::StopHashing() {
    if (!body_)
        return;
    http_.OnWork = std::move(passOn_);
    passOn_ = nullptr;
    body_ = nullptr;
}

signature::Problem SignedFile::Prepare(TMemoryStream* body) {
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
    const std::string_view bytes(reinterpret_cast<const char*>(text.Data.data()), text.Size());
    check_ = std::make_unique<signature::SignatureCheck>(key_, bytes, fileName_);
    if (check_->Status() == signature::Problem::None && body && !check_->NeedsWholeFile()) {
        // The body's write position counts what has arrived, also across
        // the chunks of a chunked body (whose work counts restart).
        body_ = body;
        hashed_ = body->Position;
        passOn_ = std::move(http_.OnWork);
        http_.OnWork = [this](TIdHTTP* sender, TWorkMode mode, int64_t count) {
            if (body_->Position > hashed_ && body_->Position <= body_->Data.size()) {
                check_->Update(body_->Data.data() + hashed_, body_->Position - hashed_);
                hashed_ = body_->Position;
            }
            if (passOn_)
                passOn_(sender, mode, count);
        };
    }
    return check_->Status();
}

signature::Problem SignedFile::Check(const uint8_t* data, std::size_t size) {
    if (!Required())
        return signature::Problem::None;
    if (!check_)
        return signature::Problem::Missing; // never prepared: nothing vouches for the file
    const bool streamed = body_ != nullptr && body_->Data.data() == data && hashed_ <= size;
    StopHashing();
    if (!streamed)
        return check_->FinishWhole(data, size);
    check_->Update(data + hashed_, size - hashed_);
    return check_->Finish();
}

signature::Problem CheckVersionFileSignature(TIdHTTP& http, const std::string& publicKey, const std::string& serverDir,
                                             const std::string& fileName, const TMemoryStream& stream) {
    SignedFile file(http, publicKey, serverDir, fileName);
    const signature::Problem problem = file.Prepare();
    return problem != signature::Problem::None ? problem : file.Check(stream.Data.data(), stream.Size());
}

void RefuseVersionFile(TForm_Run& form, TRunParameters& run, QObject* sender, TIdHTTP& http,
                       signature::Problem problem, const std::string& fileName, SignedFileRole role) {
    form.FinishedOk = false;
    http.Disconnect();
    form.DisconnectedInfo(sender);
    run.ExitCode = kExitOtherFailure;
    form.ShowMessageLine(FromUtf8OrCp1250(SignatureFailureMessage(problem, fileName, role)), kRed);
    form.CloseWhenDone = false;
}

bool CheckAndSave(TForm_Run& form, TRunParameters& run, QObject* sender, SignedFile& signedFile,
                  signature::Problem refused, const std::string& dir, const TMemoryStream& stream) {
    if (refused == signature::Problem::None)
        refused = signedFile.Check(stream.Data.data(), stream.Size());
    if (refused != signature::Problem::None) {
        form.FinishedOk = false;
        form.DisconnectedInfo(sender);
        run.ExitCode = kExitNotSaved;
        form.ShowMessageLine(
            FromUtf8OrCp1250(SignatureFailureMessage(refused, signedFile.FileName(), SignedFileRole::DownloadedFile)),
            kRed);
        return false;
    }
    if (signedFile.Required())
        form.ShowStatusLine(QString::fromUtf8(kSignatureVerifiedStatus), kGreen);
    return SaveIntoTarget(form, run, sender, dir, signedFile.FileName(), stream);
}

} // namespace transfer::gui
