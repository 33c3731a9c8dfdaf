// The status icon and the title's font, on QPainter: the colour flag and our own SVG antenna,
// laid out for square tray slots.
#include "platform/linux/tray/QtGraphics.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

// The compiled-in resources live in a static library: nothing else references their
// initialiser, so the linker would drop it unless we call it.
static void initResources() { Q_INIT_RESOURCE(resources); }

namespace platform::linux_impl {

namespace {

const char* const kAntennaSymbol = "antenna.radiowaves.left.and.right";
const char* const kAntennaResource = ":/symbols/antenna.radiowaves.left.and.right.svg";
const char* const kColourEmojiFamily = "Noto Color Emoji";

QString toQString(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// The system font at a size in logical pixels, with a colour emoji font as fallback so flags
// draw in colour.
QFont qtFont(double pixelSize)
{
    QFont result = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    result.setFamilies({result.family(), QString::fromLatin1(kColourEmojiFamily)});
    result.setPixelSize(std::max(1, int(std::lround(pixelSize))));
    return result;
}

// Share of a square slot's height the text fills, and the side of the symbol badge.
constexpr double kSquareTextShare = 0.875;
constexpr double kSquareBadgeShare = 0.45;
// Colour emoji come as bitmaps of this many pixels per em: drawn at that size they are not
// resampled before the one reduction to the slot.
constexpr int kInkPixelSize = 109;

// The text drawn large, cut to the pixels it covers; null when it covers none.
QImage inkOf(const QString& text)
{
    const QFont font = qtFont(kInkPixelSize);
    const QFontMetricsF metrics(font);
    QImage image(int(std::ceil(metrics.horizontalAdvance(text))) + 2, int(std::ceil(metrics.height())) + 2,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QPointF(1, 1 + metrics.ascent()), text);
    }
    QRect ink;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(line[x]) > 32)
                ink |= QRect(x, y, 1, 1);
        }
    }
    return ink.isEmpty() ? QImage() : image.copy(ink);
}

class QtGraphics final : public Graphics {
public:
    QtGraphics()
    {
        initResources();
        antenna_ = std::make_shared<QSvgRenderer>(QString::fromLatin1(kAntennaResource));
        if (!antenna_->isValid())
            antenna_.reset();
    }

    // The desktop's general font size: Linux desktops have no separate "small system" size for
    // status text (the smallest readable font is meant for captions), and the title sits in
    // the panel beside other items drawn in the general font.
    double smallSystemFontSize() override
    {
        const QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        if (font.pixelSize() > 0)
            return font.pixelSize();
        const double pixels = QFontInfo(font).pixelSize();
        return pixels > 0 ? pixels : 11.0;
    }

    std::shared_ptr<Image> statusIcon(const std::string& text, const std::string& symbolName) override
    {
        return std::make_shared<StatusIcon>(toQString(text), symbolName == kAntennaSymbol ? antenna_ : nullptr);
    }

private:
    std::shared_ptr<QSvgRenderer> antenna_;
};

} // namespace

StatusIcon::StatusIcon(const QString& text, std::shared_ptr<QSvgRenderer> symbol)
    : text_(text), symbol_(std::move(symbol)),
      // The font as it resolves now: a desktop font change makes a new key, so an old rendering
      // is not reused for it.
      key_(QStringLiteral("icon(%1 %2 %3)")
               .arg(symbol_ ? QStringLiteral("antenna") : QString(), qtFont(kInkPixelSize).toString(),
                    // Delimited, so that no text can pass for the key's own syntax.
                    QString::number(text.size()) + QLatin1Char(':') + text))
{
}

// Tray slots are square and 16 to 24 pixels small: the flag beside the symbol, merely scaled to
// fit, would be a strip a few pixels high. Instead the flag fills the slot, cropped evenly at its
// sides, and the symbol is a badge in the lower right corner.
QImage StatusIcon::renderSquare(int side) const
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    const QImage ink = inkOf(text_);
    if (ink.isNull()) {
        if (symbol_)
            symbol_->render(&painter, QRectF(0, 0, side, side));
        return image;
    }
    const int textHeight = std::max(1, int(std::lround(side * kSquareTextShare)));
    const double shape = double(side) / textHeight;
    QRect crop = ink.rect();
    if (crop.width() > crop.height() * shape)
        crop.setWidth(int(std::lround(crop.height() * shape)));
    else
        crop.setHeight(int(std::lround(crop.width() / shape)));
    crop.moveCenter(ink.rect().center());
    // Scaled in one smooth step: the painter's own filter aliases at such a reduction.
    painter.drawImage(QPoint(0, (side - textHeight) / 2),
                      ink.copy(crop).scaled(side, textHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    if (symbol_) {
        const double badge = std::round(side * kSquareBadgeShare);
        symbol_->render(&painter, QRectF(side - badge, side - badge, badge, badge));
    }
    return image;
}

std::shared_ptr<Graphics> makeGraphics() { return std::make_shared<QtGraphics>(); }

} // namespace platform::linux_impl
