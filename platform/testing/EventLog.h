// One log shared by every double, so a test can check the order of calls across services.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace doubles {

class EventLog {
public:
    void add(std::string entry) { entries_.push_back(std::move(entry)); }
    void clear() { entries_.clear(); }
    const std::vector<std::string>& entries() const { return entries_; }
    // Position of the first entry starting with the prefix, if any.
    std::optional<std::size_t> first(const std::string& prefix) const;
    std::optional<std::size_t> last(const std::string& prefix) const;
    std::size_t count(const std::string& prefix) const;

private:
    std::vector<std::string> entries_;
};

EventLog& eventLog();

} // namespace doubles
