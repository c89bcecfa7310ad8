#include "startup/flow/Program.h"

#include "platform/files/ReceivingFile.h"
#include "startup/core/CommandLine.h"
#include "startup/core/ProxySettings.h"
#include "startup/core/StartupTexts.h"
#include "startup/core/StoredTextValues.h"
#include "startup/core/StoredTexts.h"
#include "startup/flow/SettingsFlow.h"

#include <cstdio>
#include <cstdlib>

namespace startup::flow {

void EndProcessNow(int code) {
    // Nothing of ours is left to finish: the configuration file is written
    // completely before a write returns, and a download cut short must not
    // leave its file behind (one that has a name of its own until it is
    // saved would survive the skipped destructors). Skipping the static
    // destructors keeps a toolkit from tearing down under its live
    // application object.
    platform::files::DiscardAllReceivingFiles();
    std::fflush(nullptr);
    std::_Exit(code);
}

Program::Program(Shell& shell, const std::vector<std::string>& args, const std::string& programFile,
    std::function<void(int)> terminate)
    : TerminateProcess(terminate ? std::move(terminate) : std::function<void(int)>(EndProcessNow)), shell_(shell) {
    const TLaunchMarker marker{stored::LaunchMarkerFirst(), stored::LaunchMarkerSecond(), stored::LaunchMarkerThird()};
    RunParameters = ParseRunParameters(args, marker, UnscrambleText(stored::CaptionNotice()), programFile);
    if (RunParameters.NotFromHost) {
        ShowMessage(MessageKind::Warning, NotFromHostWarning(RunParameters.VersionText));
        return;
    }
    ReadProxySettings();
}

std::string Program::UnscrambleText(std::string_view stored) const { return startup::UnscrambleText(stored); }

std::string Program::GetVersionDirAddress() const { return UnscrambleText(stored::VersionDirAddress()); }
std::string Program::GetVersionFileName() const { return UnscrambleText(stored::VersionFileName()); }
std::string Program::GetNewVersionFileName() const { return UnscrambleText(stored::NewVersionFileName()); }
// The documentation lies in the directory of the version file.
std::string Program::GetDokumDirAddress() const { return UnscrambleText(stored::VersionDirAddress()); }
std::string Program::GetDokumFileName() const { return UnscrambleText(stored::DokumFileName()); }
std::string Program::GetChangesHtmlAddress() const { return UnscrambleText(stored::ChangesHtmlAddress()); }
std::string Program::GetChangesPdfAddress() const { return UnscrambleText(stored::ChangesPdfAddress()); }
std::string Program::GetUpdatePublicKey() const { return UnscrambleText(stored::UpdatePublicKey()); }

void Program::ShowMessage(MessageKind kind, const std::string& text) { shell_.ShowMessage(kind, text); }

void Program::EndProgram() {
    const int code = RunParameters.ExitCode;
    // Asking the event loop to end while none runs is not harmless in every
    // toolkit (Qt then ends every later modal loop at once until the main
    // loop starts). So it is asked only while a loop runs; start-up checks
    // the flags below before it would enter the loop.
    const bool loopRunning = shell_.EventLoopRunning();
    if (code != 0) {
        ProcessEnded = true;
        EndedExitCode = code;
        TerminateProcess(code);
        // Reached only when TerminateProcess was replaced (tests): leave a
        // running event loop as the ended process would have.
        if (loopRunning)
            shell_.QuitEventLoop(code);
        return;
    }
    QuitRequested = true;
    if (loopRunning)
        shell_.QuitEventLoop(0);
}

void Program::ReadProxySettings() {
    std::string error;
    if (!LoadProxySettings(RunParameters, error))
        ShowMessage(MessageKind::Error, error);
}

transfer::flow::ProxySettings Program::Proxy() const {
    return {RunParameters.UseProxy, RunParameters.ProxyName, RunParameters.ProxyPort};
}

std::string Program::ChangesAddress(bool pdf) const { return pdf ? GetChangesPdfAddress() : GetChangesHtmlAddress(); }

void Program::ShowMainWindow() { shell_.ShowMainWindow(); }

void Program::CloseMainWindow() {
    // The main window's close is what ends the program.
    if (shell_.CloseMainWindow())
        EndProgram();
}

void Program::OpenSettingsDialog() {
    if (settings_)
        settings_->Open();
}

} // namespace startup::flow
