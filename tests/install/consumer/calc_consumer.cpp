// Uses the installed calculators: a worked example of the United Kingdom base, and a failure
// with the run-time error's number and text.
#include <cmath>
#include <cstdio>

#include "pelmora/calc/calculators.hpp"
#include "pelmora/calc/failure.hpp"
#include "pelmora/errors.hpp"

int main() {
    using pelmora::calc::Arg;
    Arg bwt = Arg::r8(3500), gest = Arg::r8(280), wt = Arg::r8(64), ht = Arg::r8(163), sex = Arg::i2(1),
        eth = Arg::i2(1), par = Arg::i2(0);
    const Arg result = pelmora::calc::custcentukn(bwt, gest, wt, ht, sex, eth, par);
    if (result.kind() != pelmora::calc::Kind::r8 || std::fabs(result.as_r8() - 48.4398) > 5e-5 ||
        gest.as_r8() != 40.0) {
        std::fprintf(stderr, "calc_consumer: unexpected result\n");
        return 1;
    }
    Arg text = Arg::text("heavy");
    try {
        (void)pelmora::calc::custcentukn(text, gest, wt, ht, sex, eth, par);
        std::fprintf(stderr, "calc_consumer: no failure\n");
        return 1;
    } catch (const pelmora::calc::Failure& f) {
        if (f.number() != pelmora::error_number(pelmora::Error::type_mismatch)) return 1;
    }
    std::printf("calc_consumer: %.6g\n", result.as_r8());
    return 0;
}
