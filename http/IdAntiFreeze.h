// Keeps the GUI thread responsive while the HTTP client waits: every
// IdleTimeOut milliseconds of waiting the client calls OnIdle, which the
// GUI layer binds to "process pending window events".
#pragma once

#include <functional>

class TIdAntiFreeze {
public:
    bool Active = true;
    int IdleTimeOut = 250; // milliseconds
    bool OnlyWhenIdle = true;
    bool ApplicationHasPriority = true;
    std::function<void()> OnIdle;

    // Called by the client once per idle slice.
    void DoProcess() {
        if (Active && OnIdle)
            OnIdle();
    }
};
