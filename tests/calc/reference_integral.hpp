#pragma once
// The centile integral as the calculation's steps state it, with no guard and without the mend
// for |z| above 1000: the yardstick the calculators' integral is checked against (bit for bit up to
// |z| = 1000) and the benchmark's measure of what the guards cost. Its numbers are its own, not
// the library's, so that it checks them.

#include <cmath>

namespace pelmora::calc::test {

inline double reference_centile(double z) {
    bool mirrored = false;
    if (z < 0) {
        mirrored = true;
        z = -z;
    }
    const double h = z / 1000;
    double i = 0, s = 0;
    while (i < 1001) {
        i = i + 1;
        const double m = i * h - h / 2;
        s = (std::exp(-m * m / 2) / 2.506628) * h + s;
    }
    double p = s + 0.5;
    if (mirrored) p = 1 - p;
    return p * 100;
}

}  // namespace pelmora::calc::test
