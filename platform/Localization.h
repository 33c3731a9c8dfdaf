// Localised user-visible texts, looked up by key; the key itself where no translation exists.
#pragma once

#include "platform/Service.h"

#include <string>

namespace platform {

class Localization : public Service<Localization> {
public:
    virtual ~Localization() = default;
    virtual std::string localizedString(const std::string& key) = 0;
};

inline std::string localizedString(const std::string& key)
{
    return Localization::isInstalled() ? Localization::shared().localizedString(key) : key;
}

} // namespace platform
