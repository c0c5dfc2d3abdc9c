// The shortest text of a double, as std::to_chars(first, last, v) writes it, worked out here in
// 128-bit integers for the doubles a calculation gives most (2^-10 <= |v| < 2^52), and left to
// std::to_chars for the rest.
//
// A double v = m 2^e2 reads back from every decimal strictly inside its rounding interval
// (m - 1/2, m + 1/2) 2^e2, whose lower end is m - 1/4 when m is 2^52 (the doubles below are twice
// as close), and from the interval's ends too when m is even (ties read back to the even m). The
// text std::to_chars writes has the fewest significant digits of all such decimals; of those the
// one nearest v, ties to an even last digit; then fixed or scientific notation, whichever is
// shorter, fixed on a tie. Here v 10^q, with q chosen so that the spacing of the doubles about v
// scales to between 1 and 10, and the interval's ends, are exact 64.64 fixed-point numbers: the
// interval then holds at most one multiple of ten, which is the one text with fewer digits than
// the integers nearest v 10^q (16 or 17), and which may end in more zeros.

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

// For each e2: q = -floor(e2 log10(2)), which makes the spacing of the doubles about v, 2^e2, from
// 1 up to 10 once scaled by 10^q, so that v 10^q has 16 or 17 digits before the point and its
// rounding interval holds at most one multiple of ten; and 10^q 2^(e2 + 64), which times m gives
// v 10^q 2^64: its upper 64 bits the integer part, its lower the fraction. 78913 / 2^18 is
// log10(2) rounded up, which gives the floor exactly over these exponents.
struct Scale {
    u128 factor;
    int q;
};
constexpr std::array<Scale, most_e2 - least_e2 + 1> scales = [] {
    std::array<Scale, most_e2 - least_e2 + 1> t{};
    for (int e2 = least_e2; e2 <= most_e2; ++e2) {
        const int q = -((e2 * 78913) >> 18);
        t[static_cast<std::size_t>(e2 - least_e2)] = {u128{pow10[static_cast<std::size_t>(q)]} << (e2 + 64), q};
    }
    return t;
}();

constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The eight digits of c < 10^8 at `at`: four pairs, found two divisions deep rather than four.
[[gnu::always_inline]] inline void put8(char* at, std::uint32_t c) noexcept {
    const std::uint32_t high = c / 10000, low = c % 10000;
    std::memcpy(at, digit_pairs + 2 * (high / 100), 2);
    std::memcpy(at + 2, digit_pairs + 2 * (high % 100), 2);
    std::memcpy(at + 4, digit_pairs + 2 * (low / 100), 2);
    std::memcpy(at + 6, digit_pairs + 2 * (low % 100), 2);
}

// The 18 digits of c < 10^18, leading zeros included, at `at`.
[[gnu::always_inline]] inline void put18(char* at, std::uint64_t c) noexcept {
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

    // v 10^q and the interval's ends, in units of 2^-64 (the factor is a multiple of four).
    const u128 xv = u128{m} * scale.factor;
    const u128 xl = xv - (fraction == 0 ? scale.factor >> 2 : scale.factor >> 1);
    const u128 xh = xv + (scale.factor >> 1);
    const bool ends = (m & 1) == 0;
    // The integers inside: lo to hi.
    std::uint64_t lo = static_cast<std::uint64_t>(xl >> 64);
    if (static_cast<std::uint64_t>(xl) != 0 || !ends) ++lo;
    std::uint64_t hi = static_cast<std::uint64_t>(xh >> 64);
    if (static_cast<std::uint64_t>(xh) == 0 && !ends) --hi;

    // A multiple of ten inside is the one text with fewer digits; else the integer nearest
    // v 10^q, ties to even, kept inside (the interval may be narrower than one below 2^k).
    // Both are worked out, and one chosen, without branching on which.
    const std::uint64_t t = static_cast<std::uint64_t>(xv >> 64);
    const auto rest = static_cast<std::uint64_t>(xv);
    constexpr std::uint64_t half = std::uint64_t{1} << 63;
    // Comparisons as numbers rather than conditions: either way is as likely, and a branch
    // would guess wrong half the time.
    std::uint64_t nearest =
        t + (static_cast<std::uint64_t>(rest > half) | (static_cast<std::uint64_t>(rest == half) & t & 1));
    nearest = nearest < lo ? lo : nearest;
    nearest = nearest > hi ? hi : nearest;
    const std::uint64_t tens = hi / 10;
    const auto shorter = static_cast<std::uint64_t>(tens * 10 >= lo);
    const std::uint64_t pick = 0 - shorter;  // all ones when shorter
    const std::uint64_t whole = (tens * 10 & pick) | (nearest & ~pick);
    std::uint64_t c = (tens & pick) | (nearest & ~pick);
    int j = static_cast<int>(shorter);
    int n = 16 + static_cast<int>(whole >= pow10[16]) - j;
    if ((shorter & static_cast<std::uint64_t>(tens % 10 == 0)) != 0) [[unlikely]] {
        do {  // more zeros
            c /= 10;
            ++j;
            --n;
        } while (c % 10 == 0);
    }

    // The text of c 10^(j - q): n digits, the first at the decimal exponent x.
    const int x = n - 1 + j - scale.q;
    // The text is put together in `text`, in pieces of fixed sizes (some reaching past their end,
    // into room that a later piece or nothing uses), then copied out whole: `room` characters,
    // whatever its length, which the caller's buffer holds.
    char digits[48] = {};  // room for the pieces' copies past the digits
    put18(digits, c);
    const char* const d = digits + 18 - n;  // c's own n digits
    char text[64];
    char* out = text;
    text[0] = '-';  // kept only for a negative v: no branch on the sign
    out += bits >> 63;
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
    std::memcpy(first, text, room);
    return {first + size, std::errc{}};
}

#else  // no 128-bit integers: std::to_chars itself

std::to_chars_result shortest_text(char* first, char* last, double v) noexcept { return std::to_chars(first, last, v); }

#endif

}  // namespace pelmora
