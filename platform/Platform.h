// Installs the real platform services for this process. Called first by the process entry.
#pragma once

namespace platform {

// Handles the command line (--help, --version, errors) and the single-instance check; returns
// normally only when the process should go on to run the application, otherwise exits.
void installPlatform(int& argc, char** argv);

} // namespace platform
