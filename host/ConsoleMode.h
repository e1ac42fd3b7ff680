// Console mode: the server in the foreground until "q", "Q", Ctrl-C / SIGTERM, or a remote stop
// request (the core's stop flag). Reports are echoed to standard error.
#pragma once

#include "host/CommandLine.h"
#include "util/StopSignals.h"

namespace Korvane::Pictora::Host {

// Runs console mode to its end; the process's exit code (always 0).
int RunConsoleMode(const CommandLine& line, GeneralUtilityLib::StopSignals& signals);

}  // namespace Korvane::Pictora::Host
