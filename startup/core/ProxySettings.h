// Reading the proxy settings from the configuration file into the run
// parameters; the message box around a failure belongs to Form_Master.
#pragma once

#include "startup/core/RunParameters.h"

#include <string>

namespace startup {

// Creates the file with the three keys (UseProxy 0, ProxyName empty,
// ProxyPort 0, in this order) when it does not exist, then reads them into
// params. When the file cannot be created, error gets "Unable to write to
// <file>", params keep their values and the result is false. An empty
// IniFileName (a run not started by the host) reads nothing.
bool LoadProxySettings(TRunParameters& params, std::string& error);

} // namespace startup
