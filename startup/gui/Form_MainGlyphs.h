// Small pictures of the main window's menu and the settings dialog's
// buttons. They are painted in code rather than loaded from files, so the
// static GUI library needs no resource bundle and the pictures scale with
// the screen's pixel ratio.
#pragma once

#include <QIcon>

namespace startup::gui {

QIcon VersionCheckGlyph(); // circular arrow around a dot: "check for a newer version"
QIcon SettingsGlyph();     // cog wheel
QIcon ExitGlyph();         // open door with an arrow leaving it
QIcon HelpGlyph();         // question mark in a blue disc
QIcon WindowIcon();        // an "@" on a green disc, the program's own sign

QIcon TestGlyph();   // two plugs joined by a spark: "test the connection"
QIcon SaveGlyph();   // floppy disc
QIcon CancelGlyph(); // red cross

// The glyph widened by transparent columns on its right side so that a
// button shows extra pixels between picture and caption.
QIcon WithTrailingGap(const QIcon& icon, int gap);

} // namespace startup::gui
