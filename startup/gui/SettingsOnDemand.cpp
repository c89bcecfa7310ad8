#include "startup/gui/SettingsOnDemand.h"

#include "startup/gui/Form_Set.h"

namespace startup::gui {

TForm_Set& SettingsOnDemand::Dialog() const {
    if (!dialog_) {
        dialog_ = &make_();
        dialog_->SetTestButtonVisible(testButtonVisible_);
    }
    return *dialog_;
}

// A dialog never made is not open, and closing it changes nothing.
bool SettingsOnDemand::IsOpen() const { return dialog_ && dialog_->IsOpen(); }

void SettingsOnDemand::Open() { Dialog().Open(); }

void SettingsOnDemand::BringToFront() { Dialog().BringToFront(); }

void SettingsOnDemand::Close() {
    if (dialog_)
        dialog_->Close();
}

void SettingsOnDemand::SetTestButtonVisible(bool visible) {
    testButtonVisible_ = visible;
    if (dialog_)
        dialog_->SetTestButtonVisible(visible);
}

void SettingsOnDemand::Fill(const startup::flow::ProxyFields& fields) { Dialog().Fill(fields); }

void SettingsOnDemand::SetProxyFieldsEnabled(bool enabled) { Dialog().SetProxyFieldsEnabled(enabled); }

startup::flow::ProxyFields SettingsOnDemand::Read() const { return Dialog().Read(); }

} // namespace startup::gui
