// The transfer window and the next-step dialog as the transfer flow sees
// them: lines with a colour, a gauge, the animated picture, the window
// itself, the modal question for the next step, and a way to let window
// events run while an operation waits. No toolkit type appears here; the
// Qt view and the Win32 view each implement it.
//
// How a view drives the flow (transfer/flow/TransferFlow.h):
// - The flow owns every decision, the HTTP client, the run's flags and the
//   operations; the view owns its widgets and draws what it is told. The
//   program (or its tests) owns both; the view holds a reference to the
//   flow, given after both exist.
// - An operation runs straight through on the GUI thread. While it waits
//   for the network the flow calls PumpEvents every 250 ms; the view lets
//   its pending window events run there (processEvents in Qt, a
//   PeekMessage loop in Win32). User events that arrive meanwhile go to
//   the flow as always; the flow knows what a running operation allows.
// - User events, each forwarded at once and with no decision of the view's
//   own:
//     the window was shown (however: by the flow or by anyone) -> OnShown
//     "Storno" pressed, or Esc while "Storno" has the focus     -> OnStorno
//     "Nastavení" pressed                                       -> OnSettings
//     Esc on the window itself (no control has the focus)       -> OnEscape
//     the desktop's close request (title bar, Alt+F4, WM_CLOSE) -> OnDesktopClose
//   A view does not hide or close its window by itself on any of these:
//   the flow calls CloseWindow when the window is to go (a Qt view
//   ignores the desktop's close event and lets the flow close it), and
//   HideWindow/ShowWindow while the change notes are up.
// - Centring the window, keeping it on top, the focus on "Storno", the
//   icon and the picture's frames are the view's own: they decide nothing.
#pragma once

#include "transfer/flow/TransferTexts.h"

#include <string>

namespace transfer::flow {

// The parts of the transfer window the flow shows and hides.
enum class TransferPart {
    MessageLine,    // the word-wrapped line over the byte-count band
    ByteCountLine,  // "Ke stažení: ..." / "Staženo: ... z celkem ..."
    Gauge,          // the progress bar that prints its percentage
    Animation,      // the panel with the animated "@" picture
    SettingsButton, // "Nastavení" (shown and enabled together)
};

// The user's answer in the next-step dialog.
enum class NextStep {
    ShowChanges, // "1. Zobrazit změny ve verzích", in the chosen format
    Download,    // "2. Stahnout novou verzi"
    Cancel,      // "Storno", Esc, or the dialog closed any other way
};
struct NextStepChoice {
    NextStep Step = NextStep::Cancel;
    bool Pdf = false; // the "pdf" radio button was chosen rather than "html"
};

class TransferView {
public:
    virtual ~TransferView() = default;

    // The window's caption.
    virtual void SetCaption(const std::string& text) = 0;
    // The status line at the top: text and colour, repainted at once.
    virtual void ShowStatusLine(const std::string& text, Rgb colour) = 0;
    // The status line's text only; its colour stays.
    virtual void SetStatusText(const std::string& text) = 0;
    // The message line's text and colour, repainted at once; whether it is
    // shown is SetPartVisible's.
    virtual void SetMessageLine(const std::string& text, Rgb colour) = 0;
    // The byte-count line's text and colour.
    virtual void SetByteCountLine(const std::string& text, Rgb colour) = 0;
    // The gauge at position of 0..maximum (maximum 0: an empty range,
    // shown as 0 %).
    virtual void SetGauge(int position, int maximum) = 0;
    virtual void SetPartVisible(TransferPart part, bool visible) = 0;

    // Shows the window (centred, on top, "Storno" focused); the view then
    // reports OnShown. Hides it without a close event of its own.
    virtual void ShowWindow() = 0;
    virtual void HideWindow() = 0;
    // The window goes at the end of its run (Storno, the desktop's close,
    // an operation that closes it); hidden for a while (the change notes)
    // is HideWindow. A view that tells a close from hiding overrides it.
    virtual void CloseWindow() { HideWindow(); }

    // The next-step dialog, modal, showing the server's version text;
    // returns the user's answer. The format chosen last stays chosen.
    virtual NextStepChoice AskNextStep(const std::string& newVersionText) = 0;

    // Lets the pending window events run and returns.
    virtual void PumpEvents() = 0;

protected:
    TransferView() = default;
    TransferView(const TransferView&) = default;
    TransferView& operator=(const TransferView&) = default;
};

} // namespace transfer::flow
