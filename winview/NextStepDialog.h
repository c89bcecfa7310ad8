// The next-step dialog: the new version's text, "show the changes" (with
// html or pdf beside it), "download", "Storno". Modal; it only reports the
// button and the form chosen. Kept for the whole run, so the form chosen
// stays selected between showings.
#pragma once

#include "winview/WinBase.h"

#include <string>

namespace winview {

class NextStepDialog : public Window {
public:
    enum class Button { None, Changes, Load, Cancel };
    struct Answer {
        Button button = Button::None;
        bool pdf = false;
    };

    // The controls' ids (GetDlgItem).
    enum Control { kChangesId = 201, kLoadId, kCancelId, kHtmlId, kPdfId };

    NextStepDialog();

    // Shows the dialog over `owner` (disabled meanwhile) until a button
    // ends it; any other way out answers Button::None.
    Answer Ask(const std::string& versionText, HWND owner);
    // Ends a showing from outside (the program is ending).
    void Abandon();

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnEscape() override;

private:
    void End(Button button);
    Font font_{11, false};
    Font big_{16, true};
    HWND popis_ = nullptr;
    HWND version_ = nullptr;
    HWND html_ = nullptr;
    HWND pdf_ = nullptr;
    bool running_ = false;
    Button ended_ = Button::None;
};

} // namespace winview
