// The connection-settings dialog: the proxy check box, server name, port,
// "Test spojení", "Uložit", "Storno". Modeless. It shows the values it is
// given, hands back what the user typed and forwards the buttons; the
// rules (clamping, validation, saving, the test) are the settings flow's.
#pragma once

#include "startup/flow/SettingsFlow.h"
#include "startup/flow/SettingsView.h"
#include "winview/WinBase.h"

#include <string>

namespace winview {

class SettingsDialog : public Window, public startup::flow::SettingsView {
public:
    SettingsDialog();

    void SetFlow(startup::flow::SettingsFlow* flow) { flow_ = flow; }

    // SettingsView
    bool IsOpen() const override { return ::IsWindowVisible(Handle()) != FALSE; }
    void Open() override;
    void BringToFront() override;
    void Close() override;
    void SetTestButtonVisible(bool visible) override;
    void Fill(const startup::flow::ProxyFields& fields) override;
    void SetProxyFieldsEnabled(bool enabled) override;
    startup::flow::ProxyFields Read() const override;

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnEscape() override;

private:
    void Place(int clientWidth);
    startup::flow::SettingsFlow* flow_ = nullptr;
    Font font_{11, false};
    HWND check_ = nullptr;
    HWND name_ = nullptr;
    HWND port_ = nullptr;
    HWND spin_ = nullptr;
    HWND portLabel_ = nullptr;
    HWND test_ = nullptr;
    HWND save_ = nullptr;
    HWND storno_ = nullptr;
};

} // namespace winview
