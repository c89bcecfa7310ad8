#include "startup/gui/WindowStacking.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>

namespace window_stacking {

namespace {

bool Usable(const QWidget* w) { return w != nullptr && w->isVisible() && w->isEnabled(); }

bool OnTop(const QWidget* w) { return w->windowFlags().testFlag(Qt::WindowStaysOnTopHint); }

// Whether the window manager keeps w above `top`: w is on top itself, or a
// chain of transient owners leads from it to `top` or to a window on top.
bool KeptAbove(const QWidget* w, const QWidget* top) {
    if (OnTop(w))
        return true;
    for (const QWindow* win = w->windowHandle(); win != nullptr; win = win->transientParent()) {
        if (win == top->windowHandle() || win->flags().testFlag(Qt::WindowStaysOnTopHint))
            return true;
    }
    return false;
}

} // namespace

QWidget* VisibleTopmostWindow(const QWidget* except) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != except && Usable(w) && OnTop(w))
            return w;
    return nullptr;
}

QWidget* MessageBoxOwner() {
    QWidget* owner = QApplication::activeModalWidget();
    if (!Usable(owner))
        owner = QApplication::activeWindow();
    if (!Usable(owner))
        owner = nullptr;
    QWidget* top = VisibleTopmostWindow();
    if (top != nullptr && (owner == nullptr || !KeptAbove(owner, top)))
        owner = top;
    return owner;
}

void KeepAboveTopmostWindow(QWidget* window) {
    QWidget* top = VisibleTopmostWindow(window);
    // The transient relation lives on the native window, which a widget
    // gets when it is first shown; make it now so it is there to set.
    window->winId();
    if (QWindow* handle = window->windowHandle())
        handle->setTransientParent(top != nullptr ? top->windowHandle() : nullptr);
}

} // namespace window_stacking
