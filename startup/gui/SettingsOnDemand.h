// The settings dialog as the flow sees it, made only when the user first
// asks for it: most runs are the host's automatic checks, which never open
// it, and building its fields costs a noticeable part of a short run's
// start. Until then it remembers what the flow set, and hands it over.
#pragma once

#include "startup/flow/SettingsView.h"

#include <functional>

class TForm_Set;

namespace startup::gui {

class SettingsOnDemand : public startup::flow::SettingsView {
public:
    // make is called once, when the dialog is first needed; it returns the
    // dialog (owned elsewhere) already serving the flow.
    explicit SettingsOnDemand(std::function<TForm_Set&()> make) : make_(std::move(make)) {}

    // The dialog if it has been made, else null.
    TForm_Set* Made() const { return dialog_; }
    // Makes it now if it was not made yet.
    TForm_Set& Dialog() const;

    bool IsOpen() const override;
    void Open() override;
    void BringToFront() override;
    void Close() override;
    void SetTestButtonVisible(bool visible) override;
    void Fill(const startup::flow::ProxyFields& fields) override;
    void SetProxyFieldsEnabled(bool enabled) override;
    startup::flow::ProxyFields Read() const override;

private:
    std::function<TForm_Set&()> make_;
    mutable TForm_Set* dialog_ = nullptr;
    bool testButtonVisible_ = true;
};

} // namespace startup::gui
