// Registration of the application to start at login.
#pragma once

#include "platform/Service.h"

namespace platform {

enum class LoginItemStatus : int { NotRegistered = 0, Enabled = 1, RequiresApproval = 2, NotFound = 3 };

class LoginItemService : public Service<LoginItemService> {
public:
    static LoginItemService& mainAppService() { return shared(); }
    virtual ~LoginItemService() = default;
    virtual LoginItemStatus status() = 0;
    // False on failure.
    virtual bool registerService() = 0;
    virtual bool unregisterService() = 0;
};

} // namespace platform
