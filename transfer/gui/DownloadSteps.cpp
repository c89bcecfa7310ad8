#include "transfer/gui/DownloadSteps.h"

#include "transfer/gui/Form_Run.h"
#include "http/FileStream.h"
#include "transfer/core/ErrorClass.h"
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

DownloadOperation::DownloadOperation(TForm_Run& form, TRunParameters& run, QObject* sender)
    : form_(form), run_(run), sender_(sender), disconnectAtEnd_(form.IdHTTP1) {}

void DownloadOperation::Begin() {
    run_.ExitCode = kExitNone;
    form_.ConnectionMade = false;
    form_.ShowAnimation();
    form_.ShowStatusLine(StatusConnecting(), kBlue);
    PrepareClient(form_.IdHTTP1, run_);
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

std::optional<std::vector<uint8_t>> DownloadOperation::FetchIntoMemory(const std::string& address,
                                                                      FailureReport report) {
    HideProgressLine();
    form_.IdHTTP1.Request.ContentType = "application";
    std::optional<std::vector<uint8_t>> bytes;
    {
        TMemoryStream stream;
        try {
            form_.IdHTTP1.Get(address, stream);
            form_.ConnectedInfo(sender_);
            run_.ExitCode = kExitNothingToDownload;
            bytes = std::move(stream.Data);
        } catch (...) {
            ReportFetchFailure(DescribeCurrentException(), report);
        }
    }
    ShowConnectionAgain();
    return bytes;
}

void DownloadOperation::ReportFetchFailure(const std::string& why, FailureReport report) {
    form_.FinishedOk = false;
    form_.DisconnectedInfo(sender_);
    if (report == FailureReport::ByErrorText)
        ReportFailure(form_, run_, why);
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
    run_.ExitCode = kExitNotSaved;
    ShowProgressLine();
    form_.IdHTTP1.Request.ContentType = "application";
    const std::string address = request.ServerDirAddress + request.FileName;
    const ReceivedFileChecks checks =
        form_.MakeReceivedFileChecks ? form_.MakeReceivedFileChecks(address) : ReceivedFileChecks{};
    // The body goes to the target directory's disk as it arrives, in a file
    // that has no name there until the save; dropping the stream on any
    // other path leaves nothing behind.
    TFileStream received(ReceivingDirectory(request.TargetDir, request.FileName));
    received.OnWrite = checks.Observe;
    try {
        form_.ShowStatusLine(StatusDownloading(request.FileName), kBlue);
        if (request.ClearGaugeFirst)
            form_.HTTPWorkBegin(sender_, wmRead, 0);
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
        ReportFetchFailure(DescribeCurrentException(), FailureReport::ByErrorText);
        return false;
    }
    return SaveReceivedFile(request, received, checks);
}

bool DownloadOperation::SaveReceivedFile(const DownloadRequest& request, TFileStream& received,
                                         const ReceivedFileChecks& checks) {
    try {
        form_.FinishedOk = true;
        form_.DisconnectedInfo(sender_);
        // The check comes before anything in the target directory changes.
        const ReceivedFileVerdict verdict = checks.Accept ? checks.Accept(received) : ReceivedFileVerdict::Accept();
        if (!verdict.Accepted) {
            received.File().Discard();
            ReportSaveFailure(request, verdict.ExitCode, FromUtf8OrCp1250(verdict.Message));
            return false;
        }
        const SaveResult r = CommitReplacingDirectory(received.File(), request.TargetDir, request.FileName);
        if (r.Ok) {
            run_.ExitCode = kExitSaved;
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
    run_.ExitCode = exitCode;
    form_.ShowMessageLine(message.isEmpty() ? SaveFailedMessage(request.TargetDir, request.FileName) : message, kRed);
}

void DownloadOperation::ReportUnexpectedFailure() {
    run_.ExitCode = kExitOtherFailure;
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
