// The per-user persistent store of typed values.
#pragma once

#include "platform/Service.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace platform {

// One element of a stored array. std::monostate stands for anything that is none of the
// others (null, a nested array or object), so callers can tell a string from everything else.
using DefaultsValue = std::variant<std::monostate, std::string, double, bool>;

class UserDefaults : public Service<UserDefaults> {
public:
    static UserDefaults& standard() { return shared(); }
    virtual ~UserDefaults() = default;
    // The stored value if it is an array, otherwise none.
    virtual std::optional<std::vector<DefaultsValue>> arrayForKey(const std::string& key) = 0;
    // The next arrayForKey() with that key returns the list, in this run and later ones.
    virtual void setObject(const std::vector<std::string>& array, const std::string& key) = 0;
};

} // namespace platform
