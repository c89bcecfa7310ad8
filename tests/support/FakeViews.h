// Recording stand-ins for the windows the flows drive: the transfer window
// (with the next-step dialog), the shell (message boxes, main window, event
// loop), the settings dialog, and the program as the transfer flow sees it.
// They keep what is on each "screen" and a log of every call in order, and
// they behave as a view must: a window shown reports OnShown, an answer
// comes from a script. No toolkit, no display: the flows' tests run fast on
// Linux and under wine.
#pragma once

#include "startup/flow/SettingsFlow.h"
#include "startup/flow/SettingsView.h"
#include "startup/flow/Shell.h"
#include "transfer/flow/TransferFlow.h"
#include "transfer/flow/TransferHost.h"
#include "transfer/flow/TransferView.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tests::support {

inline const char* PartName(transfer::flow::TransferPart part) {
    using transfer::flow::TransferPart;
    switch (part) {
    case TransferPart::MessageLine: return "message";
    case TransferPart::ByteCountLine: return "bytes";
    case TransferPart::Gauge: return "gauge";
    case TransferPart::Animation: return "animation";
    case TransferPart::SettingsButton: return "settings";
    }
    return "?";
}

struct Line {
    std::string Text;
    transfer::flow::Rgb Colour;
};

class RecordingTransferView : public transfer::flow::TransferView {
public:
    // The flow the window reports to (OnShown); set once it exists.
    transfer::flow::TransferFlow* Flow = nullptr;

    std::string Caption;
    Line Status;
    Line Message;
    Line ByteCount;
    int GaugePosition = 0;
    int GaugeMaximum = 0;
    std::map<transfer::flow::TransferPart, bool> Visible;
    bool WindowShown = false;
    int Closes = 0;
    int Pumps = 0;
    // Every call, in order ("status:SPOJENÍ NAVÁZÁNO", "show", "ask:5.12", ...).
    std::vector<std::string> Log;
    // Every status line shown, in order.
    std::vector<Line> StatusHistory;

    // The next-step dialog's answers, one per showing; Cancel when they run
    // out. The version texts it showed.
    std::deque<transfer::flow::NextStepChoice> Answers;
    std::vector<std::string> AskedVersions;
    // Runs at each PumpEvents (a user acting while an operation waits).
    std::function<void()> OnPump;

    bool IsVisible(transfer::flow::TransferPart part) const {
        const auto it = Visible.find(part);
        return it != Visible.end() && it->second;
    }

    void SetCaption(const std::string& text) override {
        Caption = text;
        Log.push_back("caption:" + text);
    }
    void ShowStatusLine(const std::string& text, transfer::flow::Rgb colour) override {
        Status = {text, colour};
        StatusHistory.push_back(Status);
        Log.push_back("status:" + text);
    }
    void SetStatusText(const std::string& text) override {
        Status.Text = text;
        StatusHistory.push_back(Status);
        Log.push_back("status-text:" + text);
    }
    void SetMessageLine(const std::string& text, transfer::flow::Rgb colour) override {
        Message = {text, colour};
        Log.push_back("message:" + text);
    }
    void SetByteCountLine(const std::string& text, transfer::flow::Rgb colour) override { ByteCount = {text, colour}; }
    void SetGauge(int position, int maximum) override {
        GaugePosition = position;
        GaugeMaximum = maximum;
    }
    void SetPartVisible(transfer::flow::TransferPart part, bool visible) override { Visible[part] = visible; }
    void ShowWindow() override {
        Log.push_back("show");
        if (WindowShown)
            return;
        WindowShown = true;
        if (Flow)
            Flow->OnShown();
    }
    void HideWindow() override {
        Log.push_back("hide");
        WindowShown = false;
    }
    void CloseWindow() override {
        Log.push_back("close");
        ++Closes;
        WindowShown = false;
    }
    transfer::flow::NextStepChoice AskNextStep(const std::string& newVersionText) override {
        Log.push_back("ask:" + newVersionText);
        AskedVersions.push_back(newVersionText);
        if (Answers.empty())
            return {};
        const transfer::flow::NextStepChoice c = Answers.front();
        Answers.pop_front();
        return c;
    }
    void PumpEvents() override {
        ++Pumps;
        if (OnPump)
            OnPump();
    }
};

struct ShownMessage {
    transfer::flow::MessageKind Kind;
    std::string Text;
};

// The program around the transfer flow, for the transfer flow's tests alone.
class RecordingTransferHost : public transfer::flow::TransferHost {
public:
    bool Auto = true;
    std::string Caption = "Kontrola";
    transfer::flow::ProxySettings ProxyUsed;
    std::string VersionFile = "verze.txt";
    std::string HtmlAddress = "http://127.0.0.1:1/zmeny.html";
    std::string PdfAddress = "http://127.0.0.1:1/zmeny.pdf";
    std::string Key; // empty: files are taken unsigned
    int Code = 0;
    std::vector<int> Endings; // the exit code at each EndProgram
    int MainShown = 0;
    int MainClosed = 0;
    int SettingsOpened = 0;
    std::vector<ShownMessage> Messages;

    bool AutoMode() const override { return Auto; }
    std::string CaptionText() const override { return Caption; }
    transfer::flow::ProxySettings Proxy() const override { return ProxyUsed; }
    std::string VersionFileName() const override { return VersionFile; }
    std::string ChangesAddress(bool pdf) const override { return pdf ? PdfAddress : HtmlAddress; }
    std::string UpdatePublicKey() const override { return Key; }
    int ExitCode() const override { return Code; }
    void SetExitCode(int code) override { Code = code; }
    void EndProgram() override { Endings.push_back(Code); }
    void ShowMainWindow() override { ++MainShown; }
    void CloseMainWindow() override { ++MainClosed; }
    void OpenSettingsDialog() override { ++SettingsOpened; }
    void ShowMessage(transfer::flow::MessageKind kind, const std::string& text) override {
        Messages.push_back({kind, text});
    }
};

class RecordingShell : public startup::flow::Shell {
public:
    std::vector<ShownMessage> Messages;
    // Runs as each message box shows (a user acting on it); the box then closes.
    std::function<void(const ShownMessage&)> OnMessage;
    std::string MainCaption;
    bool MainVisible = false;
    bool HasMainWindow = true;
    int MainCloses = 0;
    // Runs inside RunEventLoop: what the user does once the program waits.
    std::function<void()> WhileLooping;
    bool Looping = false;
    int LoopsRun = 0;
    std::vector<int> Quits;

    void ShowMessage(transfer::flow::MessageKind kind, const std::string& text) override {
        Messages.push_back({kind, text});
        if (OnMessage)
            OnMessage(Messages.back());
    }
    void SetMainCaption(const std::string& text) override { MainCaption = text; }
    void ShowMainWindow() override { MainVisible = true; }
    void HideMainWindow() override { MainVisible = false; }
    bool CloseMainWindow() override {
        if (!HasMainWindow)
            return false;
        ++MainCloses;
        MainVisible = false;
        return true;
    }
    int RunEventLoop() override {
        ++LoopsRun;
        Looping = true;
        if (WhileLooping)
            WhileLooping();
        Looping = false;
        return Quits.empty() ? 0 : Quits.back();
    }
    bool EventLoopRunning() const override { return Looping; }
    void QuitEventLoop(int code) override { Quits.push_back(code); }
};

class RecordingSettingsView : public startup::flow::SettingsView {
public:
    startup::flow::SettingsFlow* Flow = nullptr;

    bool Opened = false;
    int Fronted = 0;
    int Shows = 0;
    bool TestButton = false;
    bool FieldsEnabled = false;
    startup::flow::ProxyFields Fields;

    bool IsOpen() const override { return Opened; }
    void Open() override {
        Opened = true;
        ++Shows;
        if (Flow)
            Flow->OnShown();
    }
    void BringToFront() override { ++Fronted; }
    void Close() override { Opened = false; }
    void SetTestButtonVisible(bool visible) override { TestButton = visible; }
    void Fill(const startup::flow::ProxyFields& fields) override { Fields = fields; }
    void SetProxyFieldsEnabled(bool enabled) override { FieldsEnabled = enabled; }
    startup::flow::ProxyFields Read() const override { return Fields; }
};

} // namespace tests::support
