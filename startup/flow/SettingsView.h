// The connection-settings dialog as the start-up flow sees it: fill it,
// read it, open and close it. No toolkit type appears here. Text is UTF-8.
//
// How a view drives the flow (startup/flow/SettingsFlow.h):
// - The dialog is modeless. The flow opens it (Open, or BringToFront when
//   it is open already); the view reports OnShown when it was opened
//   (not when it is only restored from minimised), and the flow fills it
//   from the configuration file.
// - User events, forwarded at once with no decision of the view's own:
//     the check box "Použití proxy serveru" clicked -> OnUseProxyClicked
//     "Uložit"                                      -> OnSave
//     "Test spojení"                                -> OnTest
//     "Storno"                                      -> OnStorno
//     Esc (whichever control has the focus)         -> OnEscape
//     the desktop's close request                   -> OnDesktopClose
//   The view does not close the dialog by itself on any of these: the flow
//   calls Close.
// - Enter in a field presses no button. The name field takes no line
//   break and no NUL, and at most SettingsFlow's kProxyNameMaxLength
//   characters; the port field takes any text (the flow reads it with
//   InterpretPortText).
#pragma once

#include <string>

namespace startup::flow {

// What the dialog's fields hold.
struct ProxyFields {
    bool UseProxy = false;
    std::string ProxyName;
    std::string PortText; // as typed; see InterpretPortText
};

class SettingsView {
public:
    virtual ~SettingsView() = default;

    virtual bool IsOpen() const = 0;
    // Opens the dialog modeless, above the always-on-top transfer window
    // when that is up, and activates it; the view then reports OnShown.
    virtual void Open() = 0;
    virtual void BringToFront() = 0;
    virtual void Close() = 0;

    // "Test spojení" is shown and enabled, or neither.
    virtual void SetTestButtonVisible(bool visible) = 0;
    // The fields' content.
    virtual void Fill(const ProxyFields& fields) = 0;
    // The name and port fields (and the port's caption) usable, or greyed
    // out in the window's own colour.
    virtual void SetProxyFieldsEnabled(bool enabled) = 0;
    virtual ProxyFields Read() const = 0;

protected:
    SettingsView() = default;
    SettingsView(const SettingsView&) = default;
    SettingsView& operator=(const SettingsView&) = default;
};

} // namespace startup::flow
