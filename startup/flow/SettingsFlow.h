// The settings dialog's rules: fill it from the configuration file with
// the port clamped, enable the fields with the check box, validate and
// save, the connection test, and "Storno", which puts back the values the
// dialog was opened with. See SettingsView.h for how a view forwards its
// user events here.
#pragma once

#include "startup/flow/Program.h"
#include "startup/flow/SettingsView.h"

#include <string>

namespace transfer::flow {
class TransferFlow;
}

namespace startup::flow {

inline constexpr int kPortMin = 0;
inline constexpr int kPortMax = 65535;
// The configuration file returns text values of at most this many
// characters; a longer name would be saved but read back cut short.
inline constexpr int kProxyNameMaxLength = 2047;

// The port field's text as a number: text that is not a number counts as
// 0, a number outside lo..hi as the nearer limit.
int InterpretPortText(const std::string& text, int lo = kPortMin, int hi = kPortMax);

// A line break or NUL would split the configuration file's line and plant
// keys of its own.
bool BreaksIniLine(const std::string& text);

class SettingsFlow {
public:
    // Shows "Test spojení" only in the interactive mode.
    SettingsFlow(SettingsView& view, Program& program, transfer::flow::TransferFlow& transfer);

    SettingsView& View() const { return view_; }

    // Opens the dialog, or brings it to the front when it is open: no
    // second filling then.
    void Open();

    // ---- user events, forwarded by the view ----
    void OnShown();
    void OnUseProxyClicked();
    void OnSave();
    void OnTest();
    void OnStorno();
    void OnEscape();
    void OnDesktopClose();

    // Validates the fields and writes them to the configuration file and
    // the run; false (with a box that says why) when refused or unwritten.
    bool SaveSettings();

    // The values the dialog was opened with, which "Storno" puts back.
    bool SavedUseProxy = false;
    std::string SavedProxyName;
    int SavedProxyPort = 0;

private:
    SettingsView& view_;
    Program& program_;
    transfer::flow::TransferFlow& transfer_;
};

} // namespace startup::flow
