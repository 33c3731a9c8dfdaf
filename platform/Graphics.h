// Fonts and the status icon. The icon's layout belongs to the tray that shows it (square slots of
// 16 to 64 pixels on Linux panels), so the units say what it shows and the platform lays it out.
#pragma once

#include "platform/Service.h"

#include <memory>
#include <string>

namespace platform {

// The system font at a size in logical pixels.
struct Font {
    double pointSize = 0;
    static Font systemFontOfSize(double size) { return Font{size}; }
    bool operator==(const Font&) const = default;
};

// A picture for a status button; only the platform that made it knows how to draw it.
class Image {
public:
    virtual ~Image() = default;
};

class Graphics : public Service<Graphics> {
public:
    virtual ~Graphics() = default;
    virtual double smallSystemFontSize() = 0;
    // The status icon: the text (a flag) with the named symbol, in the text's own colours; the
    // text alone when the system has no symbol of that name.
    virtual std::shared_ptr<Image> statusIcon(const std::string& text, const std::string& symbolName) = 0;
};

} // namespace platform
