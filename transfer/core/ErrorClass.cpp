#include "transfer/core/ErrorClass.h"

#include "http/IdExceptions.h"

#include <exception>
#include <new>

namespace transfer {

const char* const kConnectionHint =
    "Zkontrolujte nastavení připojení, firewallu a funkčnost zařízení pro připojení k internetu a akci zopakujte!";

const char* const kUnknownFailureText = "Neznámá chyba při přenosu souboru";
const char* const kOutOfMemoryText = "Nedostatek paměti pro přenos souboru";

namespace {

constexpr const char* kSecureConnectionFailed = "Zabezpečené spojení se serverem nelze navázat: ";

// What the certificate check's code means to a user (OpenSSL's
// X509_V_ERR_* numbering); empty for codes without a text of their own.
constexpr const char* kProxyRefused = "Proxy server odmítl spojení se serverem, jeho odpověď: ";
constexpr int kNotFound = 404;

std::string CertificateProblem(int code) {
    switch (code) {
    case 9: return "certifikát serveru ještě neplatí.";
    case 10: return "platnost certifikátu serveru vypršela.";
    case 18:
    case 19: return "certifikát serveru je podepsaný sám sebou a není mezi důvěryhodnými.";
    case 2:
    case 20:
    case 21: return "certifikát serveru nevydala důvěryhodná certifikační autorita.";
    case 23: return "certifikát serveru byl zneplatněn.";
    case 62:
    case 64: return "certifikát patří jinému serveru.";
    default: return "";
    }
}

// The reason the TLS layer gave, after the first line break of its text.
std::string TlsReason(const std::string& text) {
    const std::size_t lf = text.find('\n');
    return lf == std::string::npos ? std::string() : text.substr(lf + 1);
}

std::string TlsMessage(const EIdTlsError& e) {
    const std::string text = e.what();
    if (e.CertificateError != 0) {
        const std::string known = CertificateProblem(e.CertificateError);
        return kSecureConnectionFailed +
               (known.empty() ? "certifikát serveru nelze ověřit (" + TlsReason(text) + ")." : known);
    }
    const std::string prefix = kTlsErrorPrefix;
    const std::string detail = text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
    return "Chyba zabezpečeného spojení: " + detail;
}

} // namespace

ErrorClass ClassifyCurrentException() {
    ErrorClass c;
    try {
        throw;
    } catch (const EIdSocketError&) {
        c.ExitCode = kExitNoConnection;
        c.Message = kConnectionHint;
    } catch (const EIdBrokenResponse&) {
        c.ExitCode = kExitNoConnection;
        c.Message = kConnectionHint;
    } catch (const EIdProxyRefused& e) {
        c.ExitCode = kExitNoConnection;
        c.Message = std::string(kProxyRefused) + e.ResponseText + "\r\n" + kConnectionHint;
    } catch (const EIdTlsError& e) {
        c.ExitCode = kExitNoConnection;
        c.Message = TlsMessage(e);
        c.SecureConnection = true;
    } catch (const EIdProtocolReplyError& e) {
        if (e.ReplyErrorCode == kNotFound) {
            c.ExitCode = kExitNothingToDownload;
            c.ShowMessage = false;
        } else {
            c.Message = e.what();
            c.ShowMessage = !c.Message.empty();
        }
    } catch (const EIdBodyTooLarge& e) {
        c.Message = e.what();
        c.BodyTooLarge = true;
    } catch (...) {
        c.Message = DescribeCurrentException();
    }
    return c;
}

std::string DescribeCurrentException() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return kOutOfMemoryText;
    } catch (const std::exception& e) {
        std::string text = e.what();
        return text.empty() ? std::string(kUnknownFailureText) : text;
    } catch (...) {
        return kUnknownFailureText;
    }
}

} // namespace transfer
