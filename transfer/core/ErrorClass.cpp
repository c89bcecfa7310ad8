#include "transfer/core/ErrorClass.h"

#include <exception>
#include <new>

namespace transfer {

const char* const kConnectionHint =
    "Zkontrolujte nastavení připojení, firewallu a funkčnost zařízení pro připojení k internetu a akci zopakujte!";

const char* const kUnknownFailureText = "Neznámá chyba při přenosu souboru";
const char* const kOutOfMemoryText = "Nedostatek paměti pro přenos souboru";

ErrorClass ClassifyError(const std::string& errorText) {
    ErrorClass c;
    if (errorText.find("Socket Error") != std::string::npos) {
        c.ExitCode = kExitNoConnection;
        c.Message = kConnectionHint;
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
