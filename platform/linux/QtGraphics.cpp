// Fonts, text measuring, the antenna symbol and drawing into images, on QPainter. Images keep
// what was drawn as a list of operations and replay it at the device size they are shown at.
#include "platform/linux/QtGraphics.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>
#include <variant>
#include <vector>

// The compiled-in resources live in a static library: nothing else references their
// initialiser, so the linker would drop it unless we call it.
static void initResources() { Q_INIT_RESOURCE(resources); }

namespace platform::linux_impl {

namespace {

const char* const kAntennaSymbol = "antenna.radiowaves.left.and.right";
const char* const kAntennaResource = ":/symbols/antenna.radiowaves.left.and.right.svg";
const char* const kColourEmojiFamily = "Noto Color Emoji";

QString toQString(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// Exact, so that keys of images that differ by any amount differ too.
QString number(double value) { return QString::number(value, 'g', 17); }

// Text inside a key, delimited so that no text can pass for the key's own syntax.
QString quoted(const QString& text) { return QString::number(text.size()) + QLatin1Char(':') + text; }

// A named symbol drawn from its SVG at whatever size it is asked for.
class SymbolImage final : public PaintableImage {
public:
    SymbolImage(std::shared_ptr<QSvgRenderer> renderer, const QString& name, Size size)
        : renderer_(std::move(renderer)), size_(size),
          key_(QStringLiteral("symbol(%1 %2 %3)").arg(name, number(size.width), number(size.height)))
    {
    }

    Size size() const override { return size_; }
    // A symbol is finished artwork: drawing into it is not offered.
    void lockFocus() override {}
    void unlockFocus() override {}
    void drawText(const std::string&, Point, const Font&) override {}
    void drawImage(const Image&, Rect) override {}
    void setTemplate(bool isTemplate) override { template_ = isTemplate; }
    bool isTemplate() const override { return template_; }

    void paint(QPainter& painter, const QRectF& target) const override { renderer_->render(&painter, target); }
    std::shared_ptr<const PaintableImage> snapshot() const override { return std::make_shared<SymbolImage>(*this); }
    // The artwork behind a name never changes while we run.
    const QString& contentKey() const override { return key_; }

private:
    std::shared_ptr<QSvgRenderer> renderer_;
    Size size_;
    QString key_;
    bool template_ = false;
};

// An image drawn by the program: a size and the operations drawn into it, origin lower left.
class CanvasImage final : public PaintableImage {
public:
    explicit CanvasImage(Size size)
        : size_(size), key_(QStringLiteral("canvas(%1 %2)").arg(number(size.width), number(size.height)))
    {
    }

    Size size() const override { return size_; }
    void lockFocus() override { focused_ = true; }
    void unlockFocus() override { focused_ = false; }

    void drawText(const std::string& text, Point at, const Font& font) override
    {
        if (!focused_)
            return;
        const QString qtext = toQString(text);
        operations_.emplace_back(TextOperation{qtext, at, font});
        // The font as it resolves now (system font and size): a desktop font change makes
        // a new key, so an old rendering is not reused for it.
        key_ += QStringLiteral(" text(%1 %2 %3 %4)")
                    .arg(number(at.x), number(at.y), qtFont(font).toString(), quoted(qtext));
    }
    void drawImage(const Image& image, Rect in) override
    {
        const auto* paintable = dynamic_cast<const PaintableImage*>(&image);
        if (!focused_ || !paintable)
            return;
        operations_.emplace_back(ImageOperation{paintable->snapshot(), in});
        key_ += QStringLiteral(" image(%1 %2 %3 %4 %5)")
                    .arg(number(in.x), number(in.y), number(in.width), number(in.height), paintable->contentKey());
    }
    void setTemplate(bool isTemplate) override { template_ = isTemplate; }
    bool isTemplate() const override { return template_; }

    void paint(QPainter& painter, const QRectF& target) const override
    {
        if (size_.width <= 0 || size_.height <= 0)
            return;
        painter.save();
        painter.translate(target.topLeft());
        painter.scale(target.width() / size_.width, target.height() / size_.height);
        painter.setClipRect(QRectF(0, 0, size_.width, size_.height));
        for (const auto& operation : operations_)
            std::visit([&](const auto& op) { replay(painter, op); }, operation);
        painter.restore();
    }
    std::shared_ptr<const PaintableImage> snapshot() const override { return std::make_shared<CanvasImage>(*this); }
    const QString& contentKey() const override { return key_; }

protected:
    // Tray slots are square and 16 to 24 pixels small: a wide picture of a text (the flag)
    // followed by symbols, merely scaled to fit, is a strip a few pixels high. Instead the text
    // fills the slot, cropped evenly at its sides, and the symbols become a badge in the lower
    // right corner. Any other picture is scaled to fit.
    void paintSquare(QPainter& painter, int side) const override
    {
        const auto* text = operations_.empty() ? nullptr : std::get_if<TextOperation>(&operations_.front());
        QRectF symbolBounds;
        for (const auto& operation : operations_) {
            if (const auto* op = std::get_if<ImageOperation>(&operation))
                symbolBounds |= qtRect(op->in);
        }
        const QImage ink = text ? inkOf(*text) : QImage();
        if (ink.isNull() || symbolBounds.isEmpty() || size_.width <= size_.height) {
            PaintableImage::paintSquare(painter, side);
            return;
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

        const double badge = std::round(side * kSquareBadgeShare);
        const double scale = badge / std::max(symbolBounds.width(), symbolBounds.height());
        const QPointF badgeCorner(side - symbolBounds.width() * scale, side - symbolBounds.height() * scale);
        for (const auto& operation : operations_) {
            if (const auto* op = std::get_if<ImageOperation>(&operation)) {
                const QRectF in = qtRect(op->in);
                op->image->paint(
                    painter, QRectF(badgeCorner + (in.topLeft() - symbolBounds.topLeft()) * scale, in.size() * scale));
            }
        }
    }

private:
    struct TextOperation {
        QString text;
        Point at;
        Font font;
    };
    struct ImageOperation {
        std::shared_ptr<const PaintableImage> image;
        Rect in;
    };

    // Share of a square slot's height the text fills, and the side of the symbol badge.
    static constexpr double kSquareTextShare = 0.875;
    static constexpr double kSquareBadgeShare = 0.45;
    // Colour emoji come as bitmaps of this many pixels per em: drawn at that size they are not
    // resampled before the one reduction to the slot.
    static constexpr int kInkPixelSize = 109;

    // A rectangle of the image's own coordinates (origin lower left) in Qt's (top left).
    QRectF qtRect(const Rect& in) const { return QRectF(in.x, size_.height - in.y - in.height, in.width, in.height); }

    // The text drawn large, cut to the pixels it covers; null when it covers none.
    static QImage inkOf(const TextOperation& op)
    {
        QFont font = qtFont(op.font);
        font.setPixelSize(kInkPixelSize);
        const QFontMetricsF metrics(font);
        QImage image(int(std::ceil(metrics.horizontalAdvance(op.text))) + 2, int(std::ceil(metrics.height())) + 2,
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(QPointF(1, 1 + metrics.ascent()), op.text);
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

    // The point names the text's lower left corner, that is the bottom of its descent.
    void replay(QPainter& painter, const TextOperation& op) const
    {
        const QFont font = qtFont(op.font);
        const QFontMetricsF metrics(font);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QPointF(op.at.x, size_.height - op.at.y - metrics.descent()), op.text);
    }
    void replay(QPainter& painter, const ImageOperation& op) const { op.image->paint(painter, qtRect(op.in)); }

    Size size_;
    std::vector<std::variant<TextOperation, ImageOperation>> operations_;
    QString key_;
    bool focused_ = false;
    bool template_ = false;
};

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

    Size sizeOfText(const std::string& text, const Font& font) override
    {
        const QFontMetricsF metrics(qtFont(font));
        return Size{metrics.horizontalAdvance(toQString(text)), metrics.ascent() + metrics.descent()};
    }

    std::shared_ptr<Image> imageWithSystemSymbolName(const std::string& name) override
    {
        if (name != kAntennaSymbol || !antenna_)
            return nullptr;
        const QSizeF natural = antenna_->viewBoxF().size();
        return std::make_shared<SymbolImage>(antenna_, QString::fromLatin1(kAntennaSymbol),
                                             Size{natural.width(), natural.height()});
    }

    std::shared_ptr<Image> imageWithSize(Size size) override { return std::make_shared<CanvasImage>(size); }

private:
    std::shared_ptr<QSvgRenderer> antenna_;
};

} // namespace

QFont qtFont(const Font& font)
{
    QFont result = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    result.setFamilies({result.family(), QString::fromLatin1(kColourEmojiFamily)});
    result.setPixelSize(std::max(1, int(std::lround(font.pointSize))));
    return result;
}

QImage PaintableImage::renderSquare(int side) const
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    paintSquare(painter, side);
    return image;
}

void PaintableImage::paintSquare(QPainter& painter, int side) const
{
    const Size logical = size();
    if (logical.width <= 0 || logical.height <= 0)
        return;
    const double scale = std::min(side / logical.width, side / logical.height);
    const QSizeF drawn(logical.width * scale, logical.height * scale);
    // Whole-pixel offsets keep vertical and horizontal edges crisp.
    paint(painter,
          QRectF(QPointF(std::floor((side - drawn.width()) / 2), std::floor((side - drawn.height()) / 2)), drawn));
}

std::shared_ptr<Graphics> makeGraphics() { return std::make_shared<QtGraphics>(); }

} // namespace platform::linux_impl
