// An absolute address, parsed from text.
#pragma once

#include <optional>
#include <string>

namespace platform {

class URL {
public:
    // None unless the text is an absolute address: scheme "://" host, then an optional path
    // of characters that may stand unescaped in a URL.
    static std::optional<URL> fromString(const std::string& text);

    const std::string& absoluteString() const { return text_; }
    bool operator==(const URL&) const = default;

private:
    explicit URL(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

} // namespace platform
