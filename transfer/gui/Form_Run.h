// The transfer window: status line, byte-count line with gauge, message
// line, animated picture, "Storno" and "Nastavení". A view only: it draws
// what the transfer flow (transfer/flow/TransferFlow.h) tells it and
// forwards the user's events there.
#pragma once

#include "transfer/flow/TransferFlow.h"
#include "transfer/flow/TransferView.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

// The parameter sets under the names the host application's developers
// know.
using VersionParamSet = transfer::flow::VersionParamSet;
using DokumParamSet = transfer::flow::DokumParamSet;

class QLabel;
class QPushButton;
class QMovie;
class QProgressBar;

class TFormDownloadSet;

class TForm_Run : public QWidget, public transfer::flow::TransferView {
    Q_OBJECT
public:
    explicit TForm_Run(QWidget* parent = nullptr);
    ~TForm_Run() override;

    // The flow this window forwards its events to; set once both exist.
    void SetFlow(transfer::flow::TransferFlow* flow) { flow_ = flow; }
    // Where the next-step dialog comes from when a step is to be asked (it
    // may be made then; null: none, the step is cancelled). Without a
    // source, the one named FormDownloadSet.
    void SetNextStepDialogSource(std::function<TFormDownloadSet*()> source) { nextStepDialog_ = std::move(source); }
    transfer::flow::TransferFlow& Flow() const { return *flow_; }

    // Child components
    QLabel* Label_Top = nullptr;
    QProgressBar* Gauge1 = nullptr;
    QLabel* Label_Msg = nullptr;
    QPushButton* BitBtn_Storno = nullptr;
    QLabel* Label_Download = nullptr;
    QPushButton* BitBtn_Set = nullptr;
    QWidget* Panel_Img = nullptr;
    QLabel* ImageGIf = nullptr;
    QMovie* GifMovie = nullptr;

    static QString FormatByteCount(int32_t count);
    // A key typed on the window itself (Esc is 27), forwarded; true when it
    // was one the flow takes.
    bool FormKeyPress(int key);

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
    void CloseWindow() override;
    transfer::flow::NextStepChoice AskNextStep(const std::string& newVersionText) override;
    void PumpEvents() override;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLayout();
    void LoadIcon();
    void LoadPicture();
    bool pictureLoaded_ = false;
    QWidget* Part(transfer::flow::TransferPart part) const;

    transfer::flow::TransferFlow* flow_ = nullptr;
    std::function<TFormDownloadSet*()> nextStepDialog_;
    // Set while the flow closes the window: that close is not reported back.
    bool closingForTheFlow_ = false;
};

// The single instance while it exists; owned by whoever created it.
extern QPointer<TForm_Run> Form_Run;
