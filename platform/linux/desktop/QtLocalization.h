// The fixed texts from the translation tables compiled into the binary, in the user's language.
#pragma once

#include "platform/Localization.h"

#include <memory>

namespace platform::linux_impl {

std::shared_ptr<Localization> makeLocalization();

} // namespace platform::linux_impl
