// The transfer window's own decisions: what its lines say after each event
// of the HTTP client, what showing and closing it do, and where the run
// goes when it closes. The operations are in VersionCheck.cpp,
// DokumDownload.cpp and ChangesViewer.cpp.
#include "transfer/flow/TransferFlow.h"

#include "transfer/core/ByteCount.h"

#include <algorithm>
#include <climits>

namespace transfer::flow {

namespace {

// The gauge counts in int; larger transfers are shown against a clamped
// range rather than wrapping to negative values.
int ClampToInt(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

} // namespace

int GaugeMaximum(int64_t total) { return ClampToInt(std::max<int64_t>(total, 0)); }

// Where count stands on a gauge of ClampToInt(total) steps: the count
// itself while the total fits, else the first step at which the gauge
// shows the count's whole percentage of the file, so a download beyond
// 2 GiB moves the gauge in proportion to the whole file.
int GaugePosition(int64_t count, int64_t total) {
    if (total <= INT_MAX)
        return ClampToInt(count);
    count = std::clamp<int64_t>(count, 0, total);
    const int64_t percent = total <= INT64_MAX / 100
                                ? count * 100 / total
                                : static_cast<int64_t>(static_cast<long double>(count) * 100 / total);
    return static_cast<int>((percent * INT_MAX + 99) / 100);
}

TransferFlow::TransferFlow(TransferView& view, TransferHost& host) : view_(view), host_(host) {
    ReshowConnected = false;
    view_.SetCaption(host_.CaptionText());
    view_.SetPartVisible(TransferPart::MessageLine, false);
    view_.SetByteCountLine(std::string(), kGreen);
    view_.SetPartVisible(TransferPart::ByteCountLine, true);
    view_.SetPartVisible(TransferPart::Gauge, true);
    view_.SetGauge(0, static_cast<int>(gaugeTotal_));
    // "Nastavení" only where nobody else offers the settings: the
    // interactive run has the main window's menu.
    view_.SetPartVisible(TransferPart::SettingsButton, host_.AutoMode());

    CloseWhenDone = false;
    ConnectionMade = false;
    FinishedOk = true;

    // The HTTP client reports into the window and keeps it alive while it
    // waits.
    Http.OnConnected = [this](TIdHTTP*) { ConnectedInfo(); };
    Http.OnDisconnected = [this](TIdHTTP*) { DisconnectedInfo(); };
    Http.OnWorkBegin = [this](TIdHTTP*, TWorkMode, int64_t max) { WorkBegin(max); };
    Http.OnWork = [this](TIdHTTP*, TWorkMode, int64_t count) { Work(count); };
    Http.OnWorkEnd = [this](TIdHTTP*, TWorkMode) { WorkEnd(); };
    Http.AntiFreeze = &AntiFreeze;
    AntiFreeze.OnIdle = [this] { view_.PumpEvents(); };
}

TransferFlow::~TransferFlow() {
    // The client may still call back while it is torn down.
    Http.OnConnected = nullptr;
    Http.OnDisconnected = nullptr;
    Http.OnWorkBegin = nullptr;
    Http.OnWork = nullptr;
    Http.OnWorkEnd = nullptr;
    Http.AntiFreeze = nullptr;
    AntiFreeze.OnIdle = nullptr;
}

// ---- the lines ----

void TransferFlow::ShowMessageLine(const std::string& text, Rgb colour) {
    view_.SetMessageLine(text, colour);
    view_.SetPartVisible(TransferPart::MessageLine, true);
    view_.SetPartVisible(TransferPart::ByteCountLine, false);
    view_.SetPartVisible(TransferPart::Gauge, false);
}

void TransferFlow::ConnectedInfo() {
    view_.ShowStatusLine(texts::kConnected, kGreen);
    ConnectionMade = true;
}

void TransferFlow::DisconnectedInfo() {
    if (!ConnectionMade)
        view_.ShowStatusLine(texts::kNotConnected, kRed);
    else if (FinishedOk)
        view_.ShowStatusLine(texts::kEnded, kBlue);
    else
        view_.ShowStatusLine(texts::kCancelled, kRed);
}

void TransferFlow::WorkBegin(int64_t workCountMax) {
    view_.SetPartVisible(TransferPart::Animation, false);
    // A negative size would drag the gauge's minimum below 0 with it.
    gaugeTotal_ = std::max<int64_t>(workCountMax, 0);
    view_.SetGauge(0, GaugeMaximum(gaugeTotal_));
    if (workCountMax > 0)
        view_.SetByteCountLine(texts::kToDownload + FormatByteCount(workCountMax), kGreen);
}

void TransferFlow::Work(int64_t workCount) {
    if (gaugeTotal_ > 0) {
        if (workCount > gaugeTotal_)
            gaugeTotal_ = workCount;
        view_.SetByteCountLine(
            texts::kDownloaded + FormatByteCount(workCount) + texts::kOfTotal + FormatByteCount(gaugeTotal_), kGreen);
        view_.SetGauge(GaugePosition(workCount, gaugeTotal_), GaugeMaximum(gaugeTotal_));
    } else {
        view_.SetByteCountLine(texts::kDownloaded + FormatByteCount(workCount), kGreen);
    }
}

void TransferFlow::WorkEnd() {
    view_.SetPartVisible(TransferPart::Gauge, false);
    view_.SetPartVisible(TransferPart::Animation, true);
    view_.SetStatusText(texts::kDone);
}

// ---- the window ----

void TransferFlow::ShowWindow() { view_.ShowWindow(); }

void TransferFlow::OnShown() {
    FinishedOk = false;
    if (ReshowConnected)
        ConnectedInfo();
    else
        DisconnectedInfo();
    view_.SetPartVisible(TransferPart::Animation, true);
}

void TransferFlow::Closed() {
    Http.Disconnect();
    view_.SetPartVisible(TransferPart::MessageLine, false);
    view_.SetPartVisible(TransferPart::Gauge, true);
    if (host_.AutoMode())
        host_.EndProgram();
}

void TransferFlow::LeaveForTheMainWindow() {
    if (host_.AutoMode())
        host_.CloseMainWindow();
    else
        host_.ShowMainWindow();
}

void TransferFlow::OnStorno() {
    view_.CloseWindow();
    Closed();
    LeaveForTheMainWindow();
}

void TransferFlow::OnDesktopClose() {
    // A close that does not come from Storno (the desktop's close request,
    // Alt+F4) ends the window all the same, so it also does what Storno
    // does: in the interactive mode the main window is hidden while this
    // one is up, and without it the program would go on with nothing on
    // the screen.
    OnStorno();
}

void TransferFlow::OnEscape() { host_.CloseMainWindow(); }

void TransferFlow::OnSettings() {
    Http.Disconnect();
    host_.OpenSettingsDialog();
}

} // namespace transfer::flow
