#include "pelmora/chart/png.hpp"

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace pelmora::chart {
namespace {

void ensure_application() {
    if (QGuiApplication::instance()) return;
    // A program without a window of its own (the command-line tool) draws off screen.
    if (!std::getenv("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "pelmora";
    static char* argv[] = {name, nullptr};
    static const std::unique_ptr<QGuiApplication> app = std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace

std::string png_from_svg(std::string_view svg, double scale) {
    if (!(scale > 0 && scale <= 8)) throw std::runtime_error("PNG scale out of range");
    ensure_application();
    QSvgRenderer renderer(QByteArray(svg.data(), static_cast<qsizetype>(svg.size())));
    if (!renderer.isValid()) throw std::runtime_error("the chart's SVG could not be read");
    const QRectF box = renderer.viewBoxF();
    const QSize size(static_cast<int>(std::ceil(box.width() * scale)),
                     static_cast<int>(std::ceil(box.height() * scale)));
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        renderer.render(&painter, QRectF(0, 0, box.width() * scale, box.height() * scale));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) throw std::runtime_error("the PNG could not be made");
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

}  // namespace pelmora::chart
