// Build-time tool: renders the application icon's SVG into the hicolor PNG sizes, with the same
// Qt SVG renderer the app draws its tray symbol with, so packaging needs no extra converter.
// Usage: kovra-render-icon <in.svg> <out-dir> <name> <size>...  -> <out-dir>/<size>x<size>/apps/<name>.png
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fputs("usage: kovra-render-icon <in.svg> <out-dir> <name> <size>...\n", stderr);
        return 2;
    }
    // No application object: the icon is shapes and gradients only, which paint without a display.
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "kovra-render-icon: cannot read %s\n", argv[1]);
        return 1;
    }
    const QString outDir = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > 1024) {
            std::fprintf(stderr, "kovra-render-icon: bad size %s\n", argv[i]);
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            svg.render(&painter, QRectF(0, 0, size, size));
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        const QString file = QStringLiteral("%1/%2.png").arg(dir, name);
        if (!QDir().mkpath(dir) || !image.save(file, "PNG")) {
            std::fprintf(stderr, "kovra-render-icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
