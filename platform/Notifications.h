// The desktop's user notifications: only the authorisation request is used.
#pragma once

#include "platform/Service.h"

#include <functional>
#include <optional>
#include <string>

namespace platform {

constexpr unsigned AuthorizationOptionAlert = 4;

class NotificationCenter : public Service<NotificationCenter> {
public:
    static NotificationCenter& currentNotificationCenter() { return shared(); }
    virtual ~NotificationCenter() = default;
    // Never blocks; the completion may run later.
    virtual void
    requestAuthorization(unsigned options,
                         std::function<void(bool granted, std::optional<std::string> error)> completion) = 0;
};

} // namespace platform
