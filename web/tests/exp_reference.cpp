// Prints x and the bits of this machine's std::exp(x), one line each, for the web tests to compare
// with the WebAssembly module's exp: the arguments the centile integral's slices take (-m^2/2 for
// midpoints up to 40 standard deviations out) and a spread over exp's whole fast range.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

int main() {
    const auto line = [](double x) {
        const double y = std::exp(x);
        std::uint64_t u;
        std::memcpy(&u, &y, sizeof u);
        std::printf("%a %016llx\n", x, static_cast<unsigned long long>(u));
    };
    for (int k = 1; k <= 200000; ++k) {
        const double m = k * 2e-4;
        line(-m * m / 2.0);
    }
    std::uint64_t s = 0x243f6a8885a308d3u;
    for (int k = 0; k < 200000; ++k) {
        s = s * 6364136223846793005u + 1442695040888963407u;
        const double unit = static_cast<double>(s >> 11) * 0x1p-53;
        line(k % 2 ? -unit * 745.0 : unit * 709.0);
    }
}
