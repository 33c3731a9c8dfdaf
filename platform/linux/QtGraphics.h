// Qt side of the drawing services: images are display lists replayed with QPainter at whatever
// device size they are shown at, so the tray gets sharp pixels at every icon size.
#pragma once

#include "platform/Graphics.h"

#include <QFont>
#include <QIcon>
#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>

#include <memory>

class QPainter;

namespace platform::linux_impl {

// The system font at a size in logical pixels, with a colour emoji font as fallback so flags
// draw in colour.
QFont qtFont(const Font& font);

// Every image the Qt graphics service hands out.
class PaintableImage : public Image {
public:
    // Paints the whole image scaled into the target rectangle (Qt coordinates, top left origin).
    virtual void paint(QPainter& painter, const QRectF& target) const = 0;
    // A copy that another image can keep in its display list.
    virtual std::shared_ptr<const PaintableImage> snapshot() const = 0;
    // Names everything that decides the pixels (size, operations, resolved fonts): two images
    // with equal keys paint alike, so renderings can be reused. Costs nothing to ask.
    virtual const QString& contentKey() const = 0;

    // Renders at `scale` device pixels per logical pixel.
    QImage render(double scale) const;
    // Renders for a square tray slot of `side` device pixels (see paintSquare).
    QImage renderSquare(int side) const;

protected:
    // Paints into a square of `side` device pixels, transparent around: by default the whole
    // image scaled to fit and centred.
    virtual void paintSquare(QPainter& painter, int side) const;
};

// The icon sizes a tray host asks for; Qt drops anything larger than 64 px.
inline constexpr int kTrayIconSides[] = {16, 22, 24, 32, 48, 64};

// A tray icon with one sharp rendering per size; null for a null or foreign image.
QIcon trayIconFromImage(const Image* image);

std::shared_ptr<Graphics> makeGraphics();

} // namespace platform::linux_impl
