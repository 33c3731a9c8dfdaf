// The shared call log of the doubles.
#include "platform/testing/EventLog.h"

namespace doubles {

std::optional<std::size_t> EventLog::first(const std::string& prefix) const
{
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].rfind(prefix, 0) == 0)
            return i;
    }
    return std::nullopt;
}

std::optional<std::size_t> EventLog::last(const std::string& prefix) const
{
    for (std::size_t i = entries_.size(); i-- > 0;) {
        if (entries_[i].rfind(prefix, 0) == 0)
            return i;
    }
    return std::nullopt;
}

std::size_t EventLog::count(const std::string& prefix) const
{
    std::size_t n = 0;
    for (const auto& entry : entries_)
        n += entry.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

EventLog& eventLog()
{
    static EventLog log;
    return log;
}

} // namespace doubles
