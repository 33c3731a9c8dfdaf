// Qt side of the drawing services: the status icon, drawn afresh for each tray slot size so the
// tray gets sharp pixels at every one.
#pragma once

#include "platform/Graphics.h"

#include <QImage>
#include <QString>

#include <memory>

class QSvgRenderer;

namespace platform::linux_impl {

// The flag with the antenna as a badge in its lower right corner, for square tray slots.
class StatusIcon final : public Image {
public:
    // `symbol` may be null: the flag stands alone.
    StatusIcon(const QString& text, std::shared_ptr<QSvgRenderer> symbol);

    // The icon for a square slot of `side` device pixels, transparent around.
    QImage renderSquare(int side) const;
    // Names everything that decides the pixels (text, resolved font, symbol): two icons with
    // equal keys paint alike, so renderings can be reused. Costs nothing to ask.
    const QString& contentKey() const { return key_; }

private:
    QString text_;
    std::shared_ptr<QSvgRenderer> symbol_;
    QString key_;
};

// The icon sizes a tray host asks for; Qt drops anything larger than 64 px.
inline constexpr int kTrayIconSides[] = {16, 22, 24, 32, 48, 64};

std::shared_ptr<Graphics> makeGraphics();

} // namespace platform::linux_impl
