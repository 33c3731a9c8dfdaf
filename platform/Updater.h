// The update checker: started with the menu controller, target of the update entry.
#pragma once

#include "platform/MenuTarget.h"
#include "platform/Service.h"

#include <memory>

namespace platform {

class UpdaterController : public MenuTarget {
public:
    ~UpdaterController() override = default;
    virtual void checkForUpdates() = 0;

    bool performAction(const std::string& selector, const MenuItem&) override
    {
        if (selector != "checkForUpdates:")
            return false;
        checkForUpdates();
        return true;
    }
};

class UpdaterFactory : public Service<UpdaterFactory> {
public:
    virtual ~UpdaterFactory() = default;
    virtual std::shared_ptr<UpdaterController> makeController(bool startingUpdater) = 0;
};

} // namespace platform
