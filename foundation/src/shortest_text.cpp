// The shortest text of a double, as std::to_chars(first, last, v) writes it, worked out here in
// 128-bit integers for the doubles a calculation gives most (2^-10 <= |v| < 2^52), and left to
// std::to_chars for the rest.
//
// A double v = m 2^e2 reads back from every decimal strictly inside its rounding interval
// (m - 1/2, m + 1/2) 2^e2, whose lower end is m - 1/4 when m is 2^52 (the doubles below are twice
// as close), and from the interval's ends too when m is even (ties read back to the even m). The
// text std::to_chars writes has the fewest significant digits of all such decimals; of those the
// one nearest v, ties to an even last digit; then fixed or scientific notation, whichever is
// shorter, fixed on a tie. Here v 10^q, with q chosen so that it has 17 or 18 digits before the
// point, and the interval's ends, are exact 64.64 fixed-point numbers: the integers inside the
// scaled interval are the candidates at 17 or 18 digits, and dividing the interval's ends by ten
// while an integer stays inside finds the fewest digits.

#include "pelmora/number_text.hpp"

#include <array>
#include <cstdint>
#include <cstring>

namespace pelmora {

#if defined(__SIZEOF_INT128__)
namespace {

__extension__ typedef unsigned __int128 u128;  // a GCC and Clang extension

constexpr std::array<std::uint64_t, 20> pow10 = [] {
    std::array<std::uint64_t, 20> p{};
    p[0] = 1;
    for (std::size_t k = 1; k < p.size(); ++k) p[k] = p[k - 1] * 10;
    return p;
}();

// The binary exponents e2 (v = m 2^e2, 2^52 <= m < 2^53) worked out here: 2^-10 <= v < 2^52.
constexpr int least_e2 = -62;
constexpr int most_e2 = -1;

// For each e2: q, which puts 17 or 18 digits of v 10^q before the point, and 10^q 2^(e2 + 62),
// which times 4m gives v 10^q 2^64: its upper 64 bits the integer part, its lower the fraction.
// floor(log10(v)) is floor((e2 + 52) log10(2)) or one more; 78913 / 2^18 is log10(2) rounded up,
// which gives the floor exactly over these exponents.
struct Scale {
    u128 factor;
    int q;
};
constexpr std::array<Scale, most_e2 - least_e2 + 1> scales = [] {
    std::array<Scale, most_e2 - least_e2 + 1> t{};
    for (int e2 = least_e2; e2 <= most_e2; ++e2) {
        const int q = 16 - (((e2 + 52) * 78913) >> 18);
        const u128 ten_q = q < 20 ? u128{pow10[static_cast<std::size_t>(q)]}
                                  : u128{pow10[19]} * pow10[static_cast<std::size_t>(q - 19)];
        t[static_cast<std::size_t>(e2 - least_e2)] = {ten_q << (e2 + 62), q};
    }
    return t;
}();

constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The eight digits of c < 10^8 at `at`: four pairs, found two divisions deep rather than four.
void put8(char* at, std::uint32_t c) noexcept {
    const std::uint32_t high = c / 10000, low = c % 10000;
    std::memcpy(at, digit_pairs + 2 * (high / 100), 2);
    std::memcpy(at + 2, digit_pairs + 2 * (high % 100), 2);
    std::memcpy(at + 4, digit_pairs + 2 * (low / 100), 2);
    std::memcpy(at + 6, digit_pairs + 2 * (low % 100), 2);
}

// The 18 digits of c < 10^18, leading zeros included, at `at`.
void put18(char* at, std::uint64_t c) noexcept {
    const auto first = static_cast<std::uint32_t>(c / 10'000'000'000'000'000);
    const std::uint64_t rest = c % 10'000'000'000'000'000;
    std::memcpy(at, digit_pairs + 2 * first, 2);
    put8(at + 2, static_cast<std::uint32_t>(rest / 100'000'000));
    put8(at + 10, static_cast<std::uint32_t>(rest % 100'000'000));
}

// The longest text written here: a sign, "0.000" and 17 digits.
constexpr std::ptrdiff_t room = 24;

}  // namespace

std::to_chars_result shortest_text(char* first, char* last, double v) noexcept {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    const int e2 = static_cast<int>((bits >> 52) & 0x7ff) - 1075;
    if (e2 < least_e2 || e2 > most_e2 || last - first < room) return std::to_chars(first, last, v);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    const std::uint64_t m = fraction | (std::uint64_t{1} << 52);
    const Scale& scale = scales[static_cast<std::size_t>(e2 - least_e2)];

    // v 10^q and the interval's ends, in units of 2^-64.
    const u128 xv = u128{4 * m} * scale.factor;
    const u128 xl = xv - (fraction == 0 ? scale.factor : 2 * scale.factor);
    const u128 xh = xv + 2 * scale.factor;
    const bool ends = (m & 1) == 0;
    // The integers inside: lo to hi.
    std::uint64_t lo = static_cast<std::uint64_t>(xl >> 64);
    if (static_cast<std::uint64_t>(xl) != 0 || !ends) ++lo;
    std::uint64_t hi = static_cast<std::uint64_t>(xh >> 64);
    if (static_cast<std::uint64_t>(xh) == 0 && !ends) --hi;

    // The most trailing zeros an integer inside can have, j; lo, hi and t = floor(v 10^q) divided
    // by 10^j (rounded up, down and down).
    const std::uint64_t t = static_cast<std::uint64_t>(xv >> 64);
    int j = 0;
    std::uint64_t least = lo, most = hi, c = t;
    for (;;) {
        const std::uint64_t up = (least + 9) / 10, down = most / 10;
        if (down < up) break;
        least = up;
        most = down;
        c /= 10;
        ++j;
    }
    // The candidate nearest v 10^(q - j), ties to even: what c leaves of it against one half.
    const std::uint64_t unit = pow10[static_cast<std::size_t>(j)];
    const u128 rest = u128{t - c * unit} << 64 | static_cast<std::uint64_t>(xv);
    const u128 half = u128{unit} << 63;
    if (rest > half || (rest == half && (c & 1) != 0)) ++c;
    if (c < least) c = least;
    if (c > most) c = most;

    // The text of c 10^(j - q): n digits, the first at the decimal exponent x.
    int n = (t >= pow10[17] ? 18 : 17) - j;
    if (c >= pow10[static_cast<std::size_t>(n)]) {
        ++n;
    } else if (n > 1 && c < pow10[static_cast<std::size_t>(n - 1)]) {
        --n;
    }
    const int x = n - 1 + j - scale.q;
    // The text is put together in `text`, in pieces of fixed sizes (some reaching past their end,
    // into room that a later piece or nothing uses), then copied out whole.
    char digits[48] = {};  // room for the pieces' copies past the digits
    put18(digits, c);
    const char* const d = digits + 18 - n;  // c's own n digits
    char text[64];
    char* out = text;
    if ((bits >> 63) != 0) *out++ = '-';
    const int scientific = n + (n > 1 ? 1 : 0) + 4;  // d.ddde+xx: |x| < 100 here
    const int fixed = x >= 0 ? (n > x + 1 ? n + 1 : x + 1) : n + 1 - x;
    if (fixed <= scientific) {
        if (x < 0) {  // 0.000ddd, at most four zeros after the point
            std::memcpy(out, "0.0000", 6);
            std::memcpy(out + 1 - x, d, 18);
            out += n + 1 - x;
        } else if (n > x + 1) {  // ddd.ddd, at most 16 digits before the point
            std::memcpy(out, d, 16);
            out[x + 1] = '.';
            std::memcpy(out + x + 2, d + x + 1, 18);
            out += n + 1;
        } else {  // ddd000
            std::memcpy(out, d, 18);
            std::memset(out + n, '0', 18);
            out += x + 1;
        }
    } else {  // d.ddde+xx
        out[0] = d[0];
        out[1] = '.';
        std::memcpy(out + 2, d + 1, 18);
        out += n > 1 ? n + 1 : 1;
        const int ax = x < 0 ? -x : x;
        out[0] = 'e';
        out[1] = x < 0 ? '-' : '+';
        std::memcpy(out + 2, digit_pairs + 2 * ax, 2);
        out += 4;
    }
    const auto size = static_cast<std::size_t>(out - text);
    std::memcpy(first, text, size);
    return {first + size, std::errc{}};
}

#else  // no 128-bit integers: std::to_chars itself

std::to_chars_result shortest_text(char* first, char* last, double v) noexcept { return std::to_chars(first, last, v); }

#endif

}  // namespace pelmora
