// The application object: one per process, runs the event loop and tells its delegate
// when launching has finished. It is also the default target of menu actions ("terminate:").
#pragma once

#include "platform/MenuTarget.h"
#include "platform/Service.h"

namespace platform {

class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching() = 0;
};

class Application : public MenuTarget, public Service<Application> {
public:
    static Application& sharedApplication() { return shared(); }

    // Not owning: the process entry keeps the delegate alive.
    virtual void setDelegate(ApplicationDelegate* delegate) = 0;
    // Runs the event loop; calls applicationDidFinishLaunching() once from inside it.
    virtual int run() = 0;
    virtual void terminate() = 0;

    bool performAction(const std::string& selector, const MenuItem&) override
    {
        if (selector != "terminate:")
            return false;
        terminate();
        return true;
    }
};

} // namespace platform
