#pragma once
// The chart's SVG drawn into a PNG by Qt's SVG renderer: the same drawing, not a second one.

#include <string>
#include <string_view>

namespace pelmora::chart {

/// The PNG of `svg`, `scale` pixels per user unit (1: 1123 x 794 for the A4 page, 96 per inch).
/// Needs a QGuiApplication; when there is none, one is made on the offscreen platform for the
/// rest of the process. Throws std::runtime_error when the SVG cannot be read or the PNG made.
[[nodiscard]] std::string png_from_svg(std::string_view svg, double scale = 2.0);

}  // namespace pelmora::chart
