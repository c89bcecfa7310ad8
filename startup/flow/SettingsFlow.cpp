#include "startup/flow/SettingsFlow.h"

#include "startup/core/IniFile.h"
#include "startup/core/StartupTexts.h"
#include "startup/flow/WindowTexts.h"
#include "transfer/flow/TransferFlow.h"

#include <climits>

namespace startup::flow {

namespace {

// The white space a name may carry around it: ASCII blanks and controls
// of that kind, and the Unicode spaces a copied text brings along.
bool IsSpace(char32_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The character that starts at s[i] (UTF-8) and its length; a byte that
// starts no well-formed character stands for itself.
char32_t DecodeAt(const std::string& s, std::size_t i, std::size_t& length) {
    const auto b = static_cast<unsigned char>(s[i]);
    length = 1;
    if (b < 0x80)
        return b;
    const std::size_t extra = (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 0;
    if (extra == 0 || i + extra >= s.size())
        return b;
    char32_t c = b & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto cont = static_cast<unsigned char>(s[i + k]);
        if ((cont & 0xC0) != 0x80)
            return b;
        c = (c << 6) | (cont & 0x3F);
    }
    constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (c < kLeast[extra])
        return b; // an overlong form is no character
    length = extra + 1;
    return c;
}

std::string Trimmed(const std::string& s) {
    std::size_t b = 0;
    while (b < s.size()) {
        std::size_t n = 0;
        if (!IsSpace(DecodeAt(s, b, n)))
            break;
        b += n;
    }
    // The end: the last character that is not a space ends the name.
    std::size_t e = b;
    for (std::size_t i = b; i < s.size();) {
        std::size_t n = 0;
        const char32_t c = DecodeAt(s, i, n);
        i += n;
        if (!IsSpace(c))
            e = i;
    }
    return s.substr(b, e - b);
}

} // namespace

int InterpretPortText(const std::string& text, int lo, int hi) {
    // A decimal number with an optional sign and blanks around it; anything
    // else, and a number too large for 64 bits, is no number.
    const std::string t = Trimmed(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    if (i == t.size())
        return 0;
    // Accumulated as a negative number, which reaches one further.
    long long n = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9')
            return 0;
        const int digit = t[i] - '0';
        if (n < (LLONG_MIN + digit) / 10)
            return 0;
        n = n * 10 - digit;
    }
    if (!negative) {
        if (n == LLONG_MIN)
            return 0;
        n = -n;
    }
    if (n < lo)
        return lo;
    if (n > hi)
        return hi;
    return static_cast<int>(n);
}

bool BreaksIniLine(const std::string& text) {
    for (const char c : text)
        if (c == '\r' || c == '\n' || c == '\0')
            return true;
    return false;
}

SettingsFlow::SettingsFlow(SettingsView& view, Program& program, transfer::flow::TransferFlow& transfer)
    : view_(view), program_(program), transfer_(transfer) {
    // The connection test belongs to the interactive run; the automatic
    // one reaches the dialog from its transfer window, which is testing.
    view_.SetTestButtonVisible(!program_.RunParameters.AutoMode);
}

void SettingsFlow::Open() {
    if (view_.IsOpen()) {
        // Already open: no second filling, only to the front.
        view_.BringToFront();
        return;
    }
    view_.Open();
}

void SettingsFlow::OnShown() {
    TRunParameters& rp = program_.RunParameters;
    program_.ReadProxySettings();
    if (rp.ProxyPort < kPortMin)
        rp.ProxyPort = kPortMin;
    if (rp.ProxyPort > kPortMax)
        rp.ProxyPort = kPortMax;
    view_.Fill({rp.UseProxy, rp.ProxyName, std::to_string(rp.ProxyPort)});

    SavedUseProxy = rp.UseProxy;
    SavedProxyName = rp.ProxyName;
    SavedProxyPort = rp.ProxyPort;

    OnUseProxyClicked();
}

void SettingsFlow::OnUseProxyClicked() {
    const ProxyFields fields = view_.Read();
    if (!fields.UseProxy)
        view_.Fill({false, std::string(), "0"});
    view_.SetProxyFieldsEnabled(fields.UseProxy);
}

bool SettingsFlow::SaveSettings() {
    const ProxyFields fields = view_.Read();
    // The text is read rather than the field's last accepted value, so that
    // text typed but not yet taken over counts as typed.
    const int port = InterpretPortText(fields.PortText);
    // Blanks around a host name are never part of it: kept, they would make
    // the lookup fail in this run, and the file reader drops them at the
    // next start anyway. The field shows what was saved.
    const std::string trimmedName = Trimmed(fields.ProxyName);

    if ((fields.UseProxy && (trimmedName.empty() || port == 0)) || BreaksIniLine(fields.ProxyName)) {
        program_.ShowMessage(MessageKind::Warning, texts::kRefused);
        return false;
    }

    TRunParameters& rp = program_.RunParameters;
    try {
        TIniFile ini(rp.IniFileName);
        ini.WriteBool(startup::texts::kProxySection, startup::texts::kKeyUseProxy, fields.UseProxy);
        ini.WriteString(startup::texts::kProxySection, startup::texts::kKeyProxyName, trimmedName);
        ini.WriteInteger(startup::texts::kProxySection, startup::texts::kKeyProxyPort, port);
    } catch (const EIniFileException& e) {
        program_.ShowMessage(MessageKind::Error, e.what());
        return false;
    }

    rp.UseProxy = fields.UseProxy;
    rp.ProxyName = trimmedName;
    rp.ProxyPort = port;
    if (trimmedName != fields.ProxyName)
        view_.Fill({fields.UseProxy, trimmedName, fields.PortText});
    return true;
}

void SettingsFlow::OnSave() {
    if (SaveSettings())
        view_.Close();
}

void SettingsFlow::OnTest() {
    // Pressed while a check waits for the server (the dialog stays usable
    // then): the test would only read back that check's state, not measure
    // anything. Say so, and leave the settings as they are.
    if (transfer_.VersionCheckRunning()) {
        program_.ShowMessage(MessageKind::Warning, texts::kCheckRunning);
        return;
    }
    if (!SaveSettings())
        return;
    if (transfer_.CheckAndDownloadVersionFiles(true)) {
        program_.ShowMessage(MessageKind::Information, texts::kTestOk);
        // The full check reports its outcome in the transfer window, and a
        // check that fails leaves it open with its message: show it, as the
        // main window's own check does, or the user never learns the result.
        transfer_.ShowWindow();
        transfer_.CheckAndDownloadVersionFiles(false);
    } else {
        program_.ShowMessage(MessageKind::Warning, texts::kTestFailed);
    }
}

void SettingsFlow::OnStorno() {
    TRunParameters& rp = program_.RunParameters;
    rp.UseProxy = SavedUseProxy;
    rp.ProxyName = SavedProxyName;
    rp.ProxyPort = SavedProxyPort;
    view_.Close();
}

void SettingsFlow::OnEscape() { view_.Close(); }

void SettingsFlow::OnDesktopClose() { view_.Close(); }

} // namespace startup::flow
