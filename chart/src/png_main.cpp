// pelmora-chart-png: an SVG on standard input drawn into a PNG file by Qt's SVG renderer, the
// file written whole or not at all. pelmora-centile runs it for `chart -o FILE.png`, so that the
// tool itself does not load Qt for the CSV and SVG it writes.
//   pelmora-chart-png OUT.png [SCALE]

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <string>

#include "pelmora/chart/file.hpp"
#include "pelmora/chart/png.hpp"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("usage: pelmora-chart-png OUT.png [SCALE] < chart.svg\n", stderr);
        return 2;
    }
    std::string svg;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, stdin)) > 0;) svg.append(buf, n);
    if (std::ferror(stdin)) {
        std::fputs("pelmora-chart-png: reading the SVG failed\n", stderr);
        return 2;
    }
    try {
        const double scale = argc == 3 ? std::strtod(argv[2], nullptr) : 2.0;
        const std::string error = pelmora::chart::write_whole(argv[1], pelmora::chart::png_from_svg(svg, scale));
        if (!error.empty()) {
            std::fprintf(stderr, "pelmora-chart-png: cannot write %s: %s\n", argv[1], error.c_str());
            return 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pelmora-chart-png: %s\n", e.what());
        return 2;
    }
    return 0;
}
