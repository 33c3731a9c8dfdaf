// The application on QApplication: the event loop, quitting on SIGINT/SIGTERM, and a process end
// that no open stream or slow destructor can hold up.
#pragma once

#include "platform/Application.h"

#include <memory>

namespace platform::linux_impl {

// Owns the QApplication; argc and argv must outlive it.
std::shared_ptr<Application> makeApplication(int& argc, char** argv);

} // namespace platform::linux_impl
