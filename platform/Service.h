// Process-wide access to one platform service. The process entry installs the real
// implementation; unit tests install doubles. Only the main thread touches these.
#pragma once

#include <cassert>
#include <memory>

namespace platform {

template <class T>
class Service {
public:
    static bool isInstalled() { return slot() != nullptr; }
    static void install(std::shared_ptr<T> impl) { slot() = std::move(impl); }
    static T& shared()
    {
        assert(slot() && "platform service used before it was installed");
        return *slot();
    }

protected:
    Service() = default;

private:
    static std::shared_ptr<T>& slot()
    {
        static std::shared_ptr<T> instance;
        return instance;
    }
};

} // namespace platform
