// Shared scaffolding for the main-window and settings-dialog tests: the five
// real windows built as start-up builds them, in a temporary program folder;
// INI reading. Boxes, servers and ports come from tests/support.
#pragma once

#include "startup/gui/Form_Master.h"
#include "startup/gui/HalvorneWindows.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ModalBoxes.h"
#include "tests/support/Ports.h"
#include "tests/support/TempDir.h"

#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tests::mainwindow {

using tests::support::FreeLoopbackPort;
using tests::support::ModalBoxAnswerer;
using tests::support::ReadFile;
using tests::support::ScriptedHttpServer;
using tests::support::ScriptedServer;
using tests::support::ScriptStep;
using tests::support::SeenBox;
using tests::support::WriteFile;

// Raw key=value pairs of one section (names compared without case); values
// exactly as they stand after '=', so blanks around them survive.
std::map<std::string, std::string> ReadIniSection(const std::string& file, const std::string& section);

struct WindowsOptions {
    std::vector<std::string> extraArgs{"chkver", "/v:1.10"}; // "/p:" is added
    bool autoMode = false;
    // Content of the INI file before start-up; nullopt: no file.
    std::optional<std::string> iniContent;
};

// The five windows of Halvorne, in start-up order, with a process end that
// only records its exit code.
class WindowsFixture : public ::testing::Test {
protected:
    void TearDown() override;

    void Build(const WindowsOptions& options = {});
    TRunParameters& Params();

    // Makes w the active window and waits for it.
    static bool Activate(QWidget* w);

    // Points both parameter sets of the transfer window at base, so a check
    // or a connection test never leaves the machine.
    void AimChecksAt(const std::string& base, const std::string& installed);

    std::string programDir_;
    std::string iniFile_;
    std::string targetDir_;
    std::unique_ptr<QTemporaryDir> tmp_;
    std::unique_ptr<ModalBoxAnswerer> boxes_;
    std::vector<int> exitCodes_;
    std::unique_ptr<THalvorneWindows> windows_;
};

} // namespace tests::mainwindow
