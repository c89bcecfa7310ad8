// Where dialogs and message boxes stand among the program's windows. The
// transfer window stays on top of all others; a window opened while it is
// up must not land under it, where nobody sees it and the program looks
// frozen. The window manager keeps a window above the one it is a transient
// of, so that is the relation these helpers set up.
#pragma once

class QWidget;

namespace window_stacking {

// The visible window kept on top of all others, other than `except`;
// nullptr when none is up.
QWidget* VisibleTopmostWindow(const QWidget* except = nullptr);

// The owner for a message box opened now: the window the user works in,
// so the box is centred on it and kept above it, unless that window could
// fall under the topmost window; then the topmost window. nullptr when
// neither is up.
QWidget* MessageBoxOwner();

// Makes the not yet shown `window` a transient of the topmost window when
// one is up, and of no window otherwise.
void KeepAboveTopmostWindow(QWidget* window);

} // namespace window_stacking
