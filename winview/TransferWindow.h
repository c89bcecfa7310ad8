// The transfer window: status line, byte-count line with the gauge, message
// line, the animated picture, "Storno" and "Nastavení"; and with it the
// next-step dialog it asks. Centred, always on top, no title-bar buttons.
// It draws what the transfer flow tells it and forwards what the user
// does.
#pragma once

#include "transfer/flow/TransferFlow.h"
#include "transfer/flow/TransferView.h"
#include "winview/Animation.h"
#include "winview/Gauge.h"
#include "winview/NextStepDialog.h"
#include "winview/WinBase.h"

#include <map>
#include <memory>
#include <string>

namespace winview {

class TransferWindow : public Window, public transfer::flow::TransferView {
public:
    TransferWindow();
    ~TransferWindow() override;

    // Given once the flow exists; the user's events go there.
    void SetFlow(transfer::flow::TransferFlow* flow) { flow_ = flow; }
    NextStepDialog& NextStep() { return nextStep_; }

    // TransferView
    void SetCaption(const std::string& text) override;
    void ShowStatusLine(const std::string& text, transfer::flow::Rgb colour) override;
    void SetStatusText(const std::string& text) override;
    void SetMessageLine(const std::string& text, transfer::flow::Rgb colour) override;
    void SetByteCountLine(const std::string& text, transfer::flow::Rgb colour) override;
    void SetGauge(int position, int maximum) override;
    void SetPartVisible(transfer::flow::TransferPart part, bool visible) override;
    void ShowWindow() override;
    void HideWindow() override;
    transfer::flow::NextStepChoice AskNextStep(const std::string& newVersionText) override;
    void PumpEvents() override;

    // What the window shows, for the view's own tests.
    std::string StatusText() const { return GetText(top_); }
    std::string MessageText() const { return GetText(msg_); }
    std::string ByteCountText() const { return GetText(download_); }
    int GaugePercent() const { return gauge_->Percent(); }
    bool AnimationPlays() const { return animation_->Loaded() && animation_->FrameCount() > 1; }

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnEscape() override;

private:
    // The icon of this file instead of the built-in one, when it is one.
    void SetIconFile(const std::string& path);
    void SetColour(HWND label, transfer::flow::Rgb colour);
    HWND PartHandle(transfer::flow::TransferPart part) const;
    transfer::flow::TransferFlow* flow_ = nullptr;
    Font font_{11, false};
    Font bold_{11, true};
    HWND top_ = nullptr;
    HWND download_ = nullptr;
    HWND msg_ = nullptr;
    HWND storno_ = nullptr;
    HWND settings_ = nullptr;
    std::unique_ptr<Gauge> gauge_;
    std::unique_ptr<Animation> animation_;
    std::map<HWND, COLORREF> colours_;
    HICON fileIcon_ = nullptr;
    NextStepDialog nextStep_;
};

} // namespace winview
