// Fuzz target: a settings file as an editor, a crash or another program may leave it.
#include "platform/linux/desktop/JsonUserDefaults.h"

#include <cstdint>

using namespace platform::linux_impl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto object = parseSettings(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!object)
        return 0;
    for (const QJsonValue& value : *object) {
        if (value.isArray())
            (void)defaultsArray(value.toArray());
    }
    return 0;
}
