// Fonts, text measuring, named symbol images and drawing into an image. Coordinates are
// logical pixels with the origin at the lower left corner of the image.
#pragma once

#include "platform/Service.h"

#include <memory>
#include <string>

namespace platform {

struct Size {
    double width = 0;
    double height = 0;
};
struct Point {
    double x = 0;
    double y = 0;
};
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// The system font at a size in logical pixels.
struct Font {
    double pointSize = 0;
    static Font systemFontOfSize(double size) { return Font{size}; }
    bool operator==(const Font&) const = default;
};

class Image {
public:
    virtual ~Image() = default;
    virtual Size size() const = 0;
    // Drawing between lockFocus() and unlockFocus() goes into the image.
    virtual void lockFocus() = 0;
    virtual void unlockFocus() = 0;
    // Draws the text with its lower left corner at the point.
    virtual void drawText(const std::string& text, Point at, const Font& font) = 0;
    // Draws another image scaled into the rectangle.
    virtual void drawImage(const Image& image, Rect in) = 0;
    virtual void setTemplate(bool isTemplate) = 0;
    virtual bool isTemplate() const = 0;
};

class Graphics : public Service<Graphics> {
public:
    virtual ~Graphics() = default;
    virtual double smallSystemFontSize() = 0;
    virtual Size sizeOfText(const std::string& text, const Font& font) = 0;
    // The named symbol image, or null when the system has none of that name.
    virtual std::shared_ptr<Image> imageWithSystemSymbolName(const std::string& name) = 0;
    virtual std::shared_ptr<Image> imageWithSize(Size size) = 0;
};

} // namespace platform
