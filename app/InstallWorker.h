// The install worker: the whole job of a run on one background thread, from the release document
// to the launch of the installed application. It reaches the window only by posting its outcome.
#pragma once

#include <string>

#include "app/ProgressState.h"

namespace brimo {

class Window;
struct RunRecord;

// Runs the install and ends by posting WM_COMMAND with the InstallOutcome to the window. Every
// argument belongs to the main thread and stays alive until this thread has been joined.
// record receives where and how the run ended, for the outcome report.
void InstallWorker(const std::string& releaseHost, const std::string& channel, const Window& window,
                   ProgressState& state, RunRecord& record);

}  // namespace brimo
