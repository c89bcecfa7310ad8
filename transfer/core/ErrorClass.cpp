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

} // namespace

std::string TlsFailureMessage(const std::string& errorText) {
    const std::string certificate = kTlsCertificateErrorPrefix;
    std::size_t at = errorText.find(certificate);
    if (at != std::string::npos) {
        // "TLS Certificate Error # <code>" CR LF reason
        std::size_t pos = at + certificate.size();
        int code = 0;
        while (pos < errorText.size() && errorText[pos] >= '0' && errorText[pos] <= '9' && code < 100000)
            code = code * 10 + (errorText[pos++] - '0');
        std::string reason = errorText.substr(pos);
        while (!reason.empty() && (reason.front() == '\r' || reason.front() == '\n'))
            reason.erase(0, 1);
        const std::string known = CertificateProblem(code);
        return kSecureConnectionFailed + (known.empty() ? "certifikát serveru nelze ověřit (" + reason + ")." : known);
    }
    at = errorText.find(kTlsErrorPrefix);
    if (at != std::string::npos)
        return std::string("Chyba zabezpečeného spojení: ") +
               errorText.substr(at + std::string(kTlsErrorPrefix).size());
    return std::string();
}

ErrorClass ClassifyError(const std::string& errorText) {
    ErrorClass c;
    if (errorText.find("Socket Error") != std::string::npos) {
        c.ExitCode = kExitNoConnection;
        c.Message = kConnectionHint;
    } else if (std::string tls = TlsFailureMessage(errorText); !tls.empty()) {
        c.ExitCode = kExitNoConnection;
        c.Message = tls;
    } else if (errorText.find("404") != std::string::npos) {
        c.ExitCode = kExitNothingToDownload;
        c.ShowMessage = false;
    } else {
        c.ExitCode = kExitOtherFailure;
        c.Message = errorText;
        // An empty error text leaves the message line alone, as an empty
        // message would have nothing to say.
        c.ShowMessage = !errorText.empty();
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
