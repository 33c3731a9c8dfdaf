// Minimal absolute-address parsing: enough to refuse text that is not one.
#include "platform/URL.h"

#include <algorithm>
#include <cctype>

namespace platform {

namespace {

bool isSchemeChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.'; }

// RFC 3986 unreserved, sub-delims, ':' '@' '/' and '%' (already escaped text).
bool isUrlChar(char c)
{
    static const std::string allowed = "-._~!$&'()*+,;=:@/%?#[]";
    return std::isalnum(static_cast<unsigned char>(c)) || allowed.find(c) != std::string::npos;
}

} // namespace

std::optional<URL> URL::fromString(const std::string& text)
{
    const auto sep = text.find("://");
    if (sep == std::string::npos || sep == 0 || !std::isalpha(static_cast<unsigned char>(text[0])))
        return std::nullopt;
    if (!std::all_of(text.begin(), text.begin() + long(sep), isSchemeChar))
        return std::nullopt;
    const auto hostStart = sep + 3;
    const auto hostEnd = text.find('/', hostStart);
    const auto host = text.substr(hostStart, hostEnd == std::string::npos ? std::string::npos : hostEnd - hostStart);
    if (host.empty() || host.front() == ':')
        return std::nullopt;
    if (!std::all_of(text.begin() + long(sep) + 3, text.end(), isUrlChar))
        return std::nullopt;
    return URL(text);
}

} // namespace platform
