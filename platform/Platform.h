// Installs the real platform services for this process. Called first by the process entry.
#pragma once

#include "platform/URL.h"

#include <vector>

namespace platform {

// Handles the command line (--help, --version, errors) and the single-instance check; returns
// normally only when the process should go on to run the application, otherwise exits. The
// streams are every one the application may play: only those are fetched ahead or relayed.
void installPlatform(int& argc, char** argv, const std::vector<URL>& streams);

} // namespace platform
