// Every text and colour of the transfer window, the next-step dialog and
// the change viewer, side by side, in UTF-8. The Qt and the Win32 views
// take them from here; neither spells a text of its own.
#pragma once

#include <cstdint>

namespace transfer::flow {

// A colour as three 8-bit channels; the views turn it into their own type.
struct Rgb {
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;
    friend constexpr bool operator==(Rgb a, Rgb b) { return a.Red == b.Red && a.Green == b.Green && a.Blue == b.Blue; }
    friend constexpr bool operator!=(Rgb a, Rgb b) { return !(a == b); }
};

// The colours of the transfer window's lines and of the next-step dialog's
// version line.
inline constexpr Rgb kGreen{0, 128, 0};
inline constexpr Rgb kBlue{0, 0, 255};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kBlack{0, 0, 0};

namespace texts {

// The transfer window.
inline constexpr const char* kStorno = "Storno";
inline constexpr const char* kNastaveni = "Nastavení";
inline constexpr const char* kConnecting = "NAVAZOVÁNÍ SPOJENÍ";
inline constexpr const char* kConnected = "SPOJENÍ NAVÁZÁNO";
inline constexpr const char* kNotConnected = "SPOJENÍ SE NEPODAŘILO NAVÁZAT";
inline constexpr const char* kEnded = "SPOJENÍ UKONČENO";
inline constexpr const char* kCancelled = "SPOJENÍ ZRUŠENO";
inline constexpr const char* kDone = "HOTOVO";
inline constexpr const char* kToDownload = "Ke stažení: ";
inline constexpr const char* kDownloaded = "Staženo: ";
inline constexpr const char* kOfTotal = " z celkem ";
inline constexpr const char* kDownloading = "Stahování souboru ";
inline constexpr const char* kSaveFailed = "Soubor se nepodařilo uložit!\r\n";
inline constexpr const char* kBadVersion = "Chybný formát čísla verze: ";
inline constexpr const char* kEmptyText = "(prázdný text)";

// The next-step dialog. The leading and inner blanks of the two long
// captions are part of the design: they push the captions away from the
// glyphs.
inline constexpr const char* kNextStepCaption = "Nastavení dalšího postupu";
inline constexpr const char* kNextStepPopis = "Na internetu je dostupná nová verze programu";
inline constexpr const char* kNextStepSpacer = " ";
inline constexpr const char* kNextStepChanges = "          1. Zobrazit změny ve verzích";
inline constexpr const char* kNextStepLoad = "          2. Stahnout novou verzi       .";
inline constexpr const char* kNextStepCancel = "Storno";
inline constexpr const char* kNextStepHtml = "html";
inline constexpr const char* kNextStepPdf = "pdf";

// The change viewer's warnings.
inline constexpr const char* kChangesNotShown = "Informace o změnách se nepodařilo zobrazit!";
inline constexpr const char* kChangesNoFile = "Soubor informací nebyl nalezen";
inline constexpr const char* kChangesBrowser = "Prohlížeč: ";
inline constexpr const char* kChangesBreak = "\r\n\r\n";

} // namespace texts

// The next-step dialog's version line is red on the window colour.
inline constexpr Rgb kNextStepVersionColour = kRed;

} // namespace transfer::flow
