// Receiver of menu actions, dispatched by selector name ("channelSelected:", "terminate:" ...).
#pragma once

#include <string>

namespace platform {

class MenuItem;

class MenuTarget {
public:
    virtual ~MenuTarget() = default;
    // Returns false when the object does not answer the selector.
    virtual bool performAction(const std::string& selector, const MenuItem& sender) = 0;
};

} // namespace platform
