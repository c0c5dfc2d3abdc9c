// Failures: the kind, number and message, the step where each arises, and the writes that stay.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "calc_test_support.hpp"
#include "pelmora/calc/calculators.hpp"

namespace pelmora::calc {
namespace {

struct FailureCase {
    const char* name;
    Base base;
    // Adjusts the form's variables and, where a variant is needed, replaces an argument.
    std::function<void(test::FormCall&, std::array<Arg, 7>&)> setup;
    int number;
    const char* message;
    bool gest_written;
    bool ht_centred;
};

const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

TEST(Failures, EachFailureHasItsNumberMessageAndStep) {
    auto replace = [](std::size_t place, Arg value) {
        return [place, value](test::FormCall&, std::array<Arg, 7>& a) { a[place] = value; };
    };
    const Base uk = Base::united_kingdom;
    const Base swe = Base::sweden;
    const FailureCase cases[] = {
        // Text that does not read as a number, at the first step that reads the argument.
        {"wt text", uk, replace(2, Arg::text("64kg")), 13, "Type mismatch (wt)", false, false},
        {"ht text", uk, replace(3, Arg::text("tall")), 13, "Type mismatch (ht)", false, false},
        {"gest text", uk, replace(1, Arg::text("40 weeks")), 13, "Type mismatch (gest)", false, false},
        {"bwt text", uk, replace(0, Arg::text("3,5 kg")), 13, "Type mismatch (bwt)", true, false},
        {"bwt text Sweden", swe, replace(0, Arg::text("3,5 kg")), 13, "Type mismatch (bwt)", true, true},
        // Our choice: a code given as text that is not a number fails rather than defaulting.
        {"sex text", uk, replace(4, Arg::text("Male")), 13, "Type mismatch (sex)", false, false},
        {"eth text", uk, replace(5, Arg::text("European")), 13, "Type mismatch (eth)", false, false},
        {"par text", uk, replace(6, Arg::text("4 or more")), 13, "Type mismatch (par)", false, false},
        {"sex text Sweden", swe, replace(4, Arg::text("Male")), 13, "Type mismatch (sex)", false, true},
        // Null read as a number.
        {"wt Null", uk, replace(2, Arg::null()), 94, "Invalid use of Null (wt)", false, false},
        {"ht Null", swe, replace(3, Arg::null()), 94, "Invalid use of Null (ht)", false, false},
        {"bwt Null", uk, replace(0, Arg::null()), 94, "Invalid use of Null (bwt)", true, false},
        {"gest Null passes the weeks", uk, replace(1, Arg::null()), 94, "Invalid use of Null (gest)", false, false},
        {"wt Null before ht text", uk,
         [](test::FormCall&, std::array<Arg, 7>& a) {
             a[2] = Arg::null();
             a[3] = Arg::text("x");
         },
         94, "Invalid use of Null (wt)", false, false},
        // Floating-point faults.
        {"ht squared overflows", uk, [](test::FormCall& c, auto&) { c.ht = 1e200; }, 6, "Overflow (weight band)", false,
         false},
        {"wt beyond the largest double", uk, replace(2, Arg::text("1e400")), 6, "Overflow (wt)", false, false},
        {"NaN wt", uk, [](test::FormCall& c, auto&) { c.wt = nan; }, 6, "Overflow (weight term)", false, false},
        {"weight term overflows after the centring", swe, [](test::FormCall& c, auto&) { c.ht = 1e100; }, 6,
         "Overflow (weight term)", false, true},
        {"NaN wt fails at x, before the centring", swe, [](test::FormCall& c, auto&) { c.wt = nan; }, 6,
         "Overflow (weight term)", false, false},
        {"centred height too large for an integer", swe,
         [](test::FormCall&, std::array<Arg, 7>& a) {
             static std::int16_t ht;
             ht = -32700;
             a[3] = Arg::ref(&ht);
         },
         6, "Overflow (ht)", false, false},
        {"weeks overflow the proportion", uk, [](test::FormCall& c, auto&) { c.gest = 1e300; }, 6,
         "Overflow (gestation proportion)", true, false},
        {"infinite gest", uk, [](test::FormCall& c, auto&) { c.gest = inf; }, 6, "Overflow (gest)", false, false},
        {"infinite bwt", uk, [](test::FormCall& c, auto&) { c.bwt = -inf; }, 6, "Overflow (z)", true, false},
        // A term weight of exactly 0 (height term -3465.38...) makes the spread 0.
        {"spread 0", uk,
         [](test::FormCall& c, auto&) {
             c.ht = -262.0722324625068;
             c.eth = 5;
         },
         11, "Division by zero (z)", true, false},
        {"spread 0 and bwt 0", uk,
         [](test::FormCall& c, auto&) {
             c.ht = -262.0722324625068;
             c.eth = 5;
             c.bwt = 0;
         },
         6, "Overflow (z)", true, false},
    };
    for (const auto& fc : cases) {
        SCOPED_TRACE(fc.name);
        const test::Inputs in =
            fc.base == swe ? test::Inputs{3500, 280, 65, 165, 1, 1, 0} : test::Inputs{3500, 280, 64, 163, 1, 1, 0};
        test::FormCall call(in);
        std::array<Arg, 7> a{Arg::ref(&call.bwt), Arg::ref(&call.gest), Arg::ref(&call.wt), Arg::ref(&call.ht),
                             Arg::ref(&call.sex), Arg::ref(&call.eth),  Arg::ref(&call.par)};
        fc.setup(call, a);
        const double gest_before = call.gest;
        const double ht_before = a[3].kind() == Kind::ref_r8 ? call.ht : 0.0;
        const Arg gest_arg_before = a[1].value();
        try {
            (void)test::run(fc.base, a);
            ADD_FAILURE() << "no failure";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), fc.number);
            EXPECT_STREQ(f.what(), fc.message);
        }
        if (a[1].kind() == Kind::ref_r8) {
            if (fc.gest_written) {
                EXPECT_EQ(call.gest, gest_before / 7);
            } else {
                EXPECT_EQ(call.gest, gest_before);
            }
        } else {
            EXPECT_EQ(a[1].value(), gest_arg_before) << "Null stays Null; text is not replaced";
        }
        if (a[3].kind() == Kind::ref_r8) {
            EXPECT_EQ(call.ht, fc.ht_centred ? ht_before - 167 : ht_before);
        }
    }
}

TEST(Failures, AnInfiniteWeightIsNoFaultTheBandTakesIt) {
    // Comparisons are no arithmetic: an infinite booking weight is lowered to the band's top.
    for (const double wt : {inf, -inf}) {
        test::FormCall heavy({3500, 280, wt, 163, 1, 1, 0});
        const double bound = wt > 0 ? 29.9 * (163.0 * 163.0) / 10000 : 19.96 * (163.0 * 163.0) / 10000;
        test::FormCall at_bound({3500, 280, bound, 163, 1, 1, 0});
        const Evaluation a = heavy.run(Base::united_kingdom);
        EXPECT_EQ(a.weight, bound);
        EXPECT_EQ(a.centile, at_bound.run(Base::united_kingdom).centile);
    }
}

TEST(Failures, NullInTheCodesTakesTheDefaultTermsInsteadOfFailing) {
    // UK case A with eth 10 and par 4 is 32.8630; Null in both gives the same.
    std::array<Arg, 7> a{Arg::r8(3500), Arg::r8(280), Arg::r8(64), Arg::r8(163), Arg::i2(1), Arg::null(), Arg::null()};
    const Evaluation ev = test::run(Base::united_kingdom, a);
    EXPECT_TRUE(test::ShowsDigits(ev.term_weight, "3667.2"));
    EXPECT_TRUE(test::ShowsDigits(ev.centile, "32.8630"));
    // Null in every place but the codes' is not a missing input either: it fails when read.
    std::array<Arg, 7> b{Arg::null(), Arg::r8(280), Arg::r8(64), Arg::r8(163), Arg::null(), Arg::null(), Arg::null()};
    EXPECT_THROW((void)test::run(Base::new_zealand, b), Failure);
    EXPECT_EQ(b[1], Arg::r8(40.0));
}

}  // namespace
}  // namespace pelmora::calc
