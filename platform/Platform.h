// Installs the real platform services for this process. Called first by the process entry.
#pragma once

#include "platform/URL.h"

#include <memory>
#include <vector>

namespace platform {

// The real platform services, installed for as long as it lives; destroying it takes them down
// again, in the order its implementation states, the application last.
class InstalledPlatform {
public:
    virtual ~InstalledPlatform() = default;
};

// Handles the command line (--help, --version, errors) and the single-instance check. Returns the
// installed platform when the process should go on to run the application; otherwise null, with
// the status the process should exit with in exitStatus. The streams are every one the
// application may play: only those are fetched ahead or relayed.
std::unique_ptr<InstalledPlatform> installPlatform(int& argc, char** argv, const std::vector<URL>& streams,
                                                   int& exitStatus);

} // namespace platform
