#include "transfer/gui/DownloadSteps.h"

#include "transfer/gui/Form_Run.h"
#include "transfer/core/ErrorClass.h"
#include "transfer/core/SaveDownload.h"

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

void ReportFailure(TForm_Run& form, TTransferHost& host, const std::string& errorText) {
    const ErrorClass c = ClassifyError(errorText);
    host.SetExitCode(c.ExitCode);
    if (c.ShowMessage && !c.Message.empty())
        form.ShowMessageLine(FromUtf8OrCp1250(c.Message), kBlack);
}

bool SaveIntoTarget(TForm_Run& form, TTransferHost& host, QObject* sender,
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
        host.SetExitCode(kExitSaved);
        return true;
    }
    host.SetExitCode(kExitNotSaved);
    form.ShowMessageLine(SaveFailedMessage(dir, fileName), kRed);
    return false;
}

} // namespace transfer::gui
