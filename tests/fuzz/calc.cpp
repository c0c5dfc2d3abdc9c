// The calculators on every kind of argument: the first byte picks the base ('0'..'3'), the rest
// holds the seven arguments in the notation of fuzz_support.hpp. A calculation either answers or
// throws calc::Failure; anything else is a finding. The input as a whole is also read as a number.

#include <array>
#include <charconv>
#include <string>

#include "fuzz_support.hpp"
#include "pelmora/calc/calculators.hpp"

namespace {

using pelmora::calc::Arg;

template <class T>
T integer(std::string_view s) {
    T v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

Arg value_of(const pelmora::fuzz::Token& t) {
    switch (t.kind) {
    case 'n': return Arg::null();
    case 't': return Arg::boolean(true);
    case 'f': return Arg::boolean(false);
    case 's': return Arg::text(std::string(t.text));
    case 'i': return Arg::i2(integer<std::int16_t>(t.text));
    case 'l': return Arg::i4(integer<std::int32_t>(t.text));
    case 'd': {
        double d = 0;
        const auto r = std::from_chars(t.text.data(), t.text.data() + t.text.size(), d);
        if (r.ec != std::errc() || r.ptr != t.text.data() + t.text.size()) return Arg::text(std::string(t.text));
        return Arg::r8(d);
    }
    default: return Arg();  // e, ? and x: Empty
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in = pelmora::fuzz::text_of(data, size);
    double number = 0;
    (void)Arg::parse_number(in, number);
    if (in.empty()) return 0;

    auto toks = pelmora::fuzz::tokens(in.substr(1), 7);
    toks.resize(7);
    // Storage a by-reference argument refers to.
    std::array<double, 7> r8{};
    std::array<std::int16_t, 7> i2{};
    std::array<std::int32_t, 7> i4{};
    std::array<Arg, 7> target;
    std::array<Arg, 7> args;
    for (std::size_t k = 0; k < 7; ++k) {
        const Arg v = value_of(toks[k]);
        if (!toks[k].by_ref) {
            args[k] = v;
        } else if (v.kind() == pelmora::calc::Kind::r8) {
            r8[k] = v.as_r8();
            args[k] = Arg::ref(&r8[k]);
        } else if (v.kind() == pelmora::calc::Kind::i2) {
            i2[k] = v.as_i2();
            args[k] = Arg::ref(&i2[k]);
        } else if (v.kind() == pelmora::calc::Kind::i4) {
            i4[k] = v.as_i4();
            args[k] = Arg::ref(&i4[k]);
        } else {
            target[k] = v;
            args[k] = Arg::ref(&target[k]);
        }
    }
    using Calculator = Arg (*)(Arg&, Arg&, Arg&, Arg&, Arg&, Arg&, Arg&);
    static constexpr Calculator calculators[] = {&pelmora::calc::custcentukn, &pelmora::calc::custcentswe,
                                                 &pelmora::calc::custcentnz, &pelmora::calc::custcentau};
    try {
        const Arg result = calculators[static_cast<unsigned char>(in[0]) % 4](args[0], args[1], args[2], args[3],
                                                                              args[4], args[5], args[6]);
        (void)result;
    } catch (const pelmora::calc::Failure&) {
        // a calculation's own failure
    }
    return 0;
}
