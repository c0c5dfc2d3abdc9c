// The four calculators on the worked examples of each base, with their intermediate values,
// code defaults, write-backs, missing inputs and the centile integral's ends.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "calc_test_support.hpp"
#include "reference_integral.hpp"
#include "pelmora/calc/calculators.hpp"

namespace pelmora::calc {
namespace {

using test::bits;
using test::FormCall;
using test::Inputs;
using test::ShowsDigits;

const Base all_bases[] = {Base::united_kingdom, Base::sweden, Base::new_zealand, Base::australia};

// Case A of each base.
Inputs case_a(Base base) {
    switch (base) {
    case Base::sweden: return {3500, 280, 65, 165, 1, 1, 0};
    case Base::new_zealand: return {3500, 280, 70, 165, 1, 1, 0};
    default: return {3500, 280, 64, 163, 1, 1, 0};
    }
}

// A worked example: inputs and every intermediate value the example gives (nullptr: not given).
struct Worked {
    Base base;
    const char* name;
    Inputs in;
    const char* weight;
    const char* weight_term;
    const char* ht_after;
    const char* height_term;
    const char* sex_term;
    const char* ethnic_term;
    const char* parity_term;
    const char* term_weight;
    const char* weeks;
    const char* proportion;
    const char* optimal_weight;
    const char* spread;
    const char* z;
    const char* result;
};

const Worked worked[] = {
    {Base::united_kingdom,
     "UK A",
     {3500, 280, 64, 163, 1, 1, 0},
     "64",
     "0",
     nullptr,
     "0",
     nullptr,
     nullptr,
     nullptr,
     "3504.5",
     "40",
     "1.003",
     "3515.01",
     "384.191",
     "-0.0390782",
     "48.4398"},
    {Base::united_kingdom,
     "UK B",
     {3000, 266, 80, 150, 0, 2, 2},
     "67.275",
     "28.3879",
     nullptr,
     "-87.1",
     nullptr,
     nullptr,
     nullptr,
     "3332.29",
     "38",
     "0.896364",
     "2986.94",
     "326.473",
     "0.0399945",
     "51.5967"},
    {Base::united_kingdom,
     "UK C",
     {2500, 259, 45, 170, 0, 6, 4},
     "57.6844",
     "-63.7059",
     nullptr,
     "46.9",
     nullptr,
     nullptr,
     nullptr,
     "3334.09",
     "37",
     "0.8394685",
     "2798.87",
     "305.916",
     "-0.976957",
     "16.4053"},
    {Base::sweden,
     "SWE A",
     {3500, 280, 65, 165, 1, 1, 0},
     "65",
     "17.525272",
     "-2",
     "-16.6288",
     nullptr,
     nullptr,
     nullptr,
     "3609.865472",
     "40",
     "1.003",
     "3620.70",
     "418.914",
     "-0.288114",
     "38.6519"},
    {Base::sweden,
     "SWE B",
     {3200, 273, 40, 170, 0, 7, 5},
     "57.6844",
     "-48.7173",
     "3",
     "24.9372",
     nullptr,
     nullptr,
     nullptr,
     "3838.50",
     "39",
     "0.9510855",
     "3650.74",
     "422.391",
     "-1.06713",
     "14.2717"},
    {Base::sweden,
     "SWE C",
     {2800, 259, 95, 158, 1, 26, 4},
     "74.64236",
     "95.9563",
     "-9",
     "-74.5524",
     nullptr,
     nullptr,
     nullptr,
     "3824.54",
     "37",
     "0.8394685",
     "3210.58",
     "371.464",
     "-1.10530",
     "13.4276"},
    {Base::new_zealand,
     "NZ A",
     {3500, 280, 70, 165, 1, 1, 0},
     "70",
     "0",
     nullptr,
     "0",
     "57.7",
     "0",
     "0",
     "3587.8",
     "40",
     "1.003",
     "3598.56",
     "428.229",
     "-0.230165",
     "40.8892"},
    {Base::new_zealand,
     "NZ B",
     {3000, 266, 60, 160, 2, 4, 1},
     "60",
     "-82.273",
     nullptr,
     "-47.765",
     "-57.7",
     "100.9",
     "101.6",
     "3544.86",
     "38",
     "0.896364",
     "3177.49",
     "378.121",
     "-0.469391",
     "31.9227"},
    {Base::new_zealand,
     "NZ C",
     {2600, 259, 45, 170, 0, 3, 4},
     "57.6844",
     "-104.671",
     nullptr,
     "47.765",
     "-57.7",
     "-66.8",
     "174.5",
     "3523.19",
     "37",
     "0.8394685",
     "2957.61",
     "351.956",
     "-1.01607",
     "15.4557"},
    {Base::new_zealand,
     "NZ D",
     {4200, 287, 120, 155, 1, 7, 2},
     "71.83475",
     "12.7471",
     nullptr,
     "-95.53",
     "57.7",
     "13.3",
     "101.8",
     "3620.12",
     "41",
     "1.05147",
     "3806.46",
     "452.969",
     "0.868800",
     "80.7759"},
    {Base::australia,
     "AU A",
     {3500, 280, 64, 163, 1, 1, 0},
     "64",
     "0",
     nullptr,
     "0",
     nullptr,
     nullptr,
     nullptr,
     "3530.5",
     "40",
     "1.003",
     "3541.09",
     "494.336",
     "-0.0831246",
     "46.6843"},
    {Base::australia,
     "AU B",
     {3000, 266, 80, 150, 0, 2, 2},
     "67.275",
     "27.9013",
     nullptr,
     "-101.4",
     nullptr,
     nullptr,
     nullptr,
     "3276.40",
     "38",
     "0.896364",
     "2936.85",
     "409.984",
     "0.154035",
     "56.1270"},
    {Base::australia,
     "AU C",
     {2500, 259, 45, 170, 0, 4, 4},
     "57.6844",
     "-63.0753",
     nullptr,
     "54.6",
     nullptr,
     nullptr,
     nullptr,
     "3190.02",
     "37",
     "0.8394685",
     "2677.93",
     "373.838",
     "-0.475942",
     "31.6888"},
    {Base::australia,
     "AU D",
     {4000, 287, 70, 165, 1, 3, 3},
     "70",
     "48.816",
     nullptr,
     "15.6",
     nullptr,
     nullptr,
     nullptr,
     "3600.92",
     "41",
     "1.05147",
     "3786.27",
     "528.563",
     "0.404358",
     "65.7174"},
};

TEST(WorkedExamples, EveryIntermediateValueAndTheResult) {
    for (const auto& w : worked) {
        SCOPED_TRACE(w.name);
        FormCall call(w.in);
        const Evaluation ev = call.run(w.base);
        ASSERT_FALSE(ev.missing);
        const std::pair<double, const char*> checks[] = {
            {ev.weight, w.weight},
            {ev.weight_term, w.weight_term},
            {call.ht, w.ht_after},
            {ev.height_term, w.height_term},
            {ev.sex_term, w.sex_term},
            {ev.ethnic_term, w.ethnic_term},
            {ev.parity_term, w.parity_term},
            {ev.term_weight, w.term_weight},
            {ev.weeks, w.weeks},
            {ev.proportion, w.proportion},
            {ev.optimal_weight, w.optimal_weight},
            {ev.spread, w.spread},
            {ev.z, w.z},
            {ev.centile, w.result},
        };
        for (const auto& [actual, expected] : checks) {
            if (expected) {
                EXPECT_TRUE(ShowsDigits(actual, expected)) << "expected " << expected;
            }
        }
        // The weeks are exact, and so is the stored gestation.
        EXPECT_EQ(call.gest, w.in.gest / 7);
        EXPECT_EQ(ev.weeks, std::round(ev.weeks));
        ASSERT_EQ(ev.result.kind(), Kind::r8);
        EXPECT_EQ(bits(ev.result.as_r8()), bits(ev.centile));
        // Only gest (and for Sweden ht) is written.
        EXPECT_EQ(call.bwt, w.in.bwt);
        EXPECT_EQ(call.wt, w.in.wt);
        if (w.base != Base::sweden) {
            EXPECT_EQ(call.ht, w.in.ht);
        }
        EXPECT_EQ(call.sex, w.in.sex);
        EXPECT_EQ(call.eth, w.in.eth);
        EXPECT_EQ(call.par, w.in.par);
    }
}

TEST(WorkedExamples, ExactIntermediateValues) {
    // Values that the steps produce exactly, compared bit for bit.
    FormCall uk(case_a(Base::united_kingdom));
    const Evaluation a = uk.run(Base::united_kingdom);
    EXPECT_EQ(a.weight, 64.0);
    EXPECT_EQ(bits(a.weight_term), bits(0.0));
    EXPECT_EQ(a.weeks, 40.0);
    EXPECT_EQ(a.proportion, 2.991 + 40.0 * (-0.3185 + 40.0 * (0.01094 + 40.0 * -0.0001055)));

    FormCall swe(case_a(Base::sweden));
    const Evaluation s = swe.run(Base::sweden);
    EXPECT_EQ(swe.ht, -2.0);
    EXPECT_EQ(s.height_term, (8.316 + -0.0004 * (-2.0 * -2.0)) * -2.0);
    // The slice sum 0.113481: 0.5 plus it is 0.613481, mirrored to 0.386519.
    EXPECT_TRUE(ShowsDigits(0.5 - s.centile / 100, "0.113481"));
}

struct Variation {
    Base base;
    const char* name;
    Inputs in;
    const char* weight;       // nullptr: not given
    const char* term_weight;  // nullptr: not given
    const char* result;
};

TEST(WorkedExamples, VariationsOfTheCases) {
    const Variation rows[] = {
        {Base::united_kingdom, "UK A wt 30", {3500, 280, 30, 163, 1, 1, 0}, "53.0317", nullptr, "60.9161"},
        {Base::united_kingdom, "UK A wt 100", {3500, 280, 100, 163, 1, 1, 0}, "79.4413", nullptr, "38.3258"},
        {Base::united_kingdom, "UK A eth 10 par 4", {3500, 280, 64, 163, 1, 10, 4}, nullptr, "3667.2", "32.8630"},
        {Base::sweden, "SWE C eth 25", {2800, 259, 95, 158, 1, 25, 4}, nullptr, nullptr, "13.4276"},
        {Base::sweden, "SWE C par 9", {2800, 259, 95, 158, 1, 26, 9}, nullptr, nullptr, "13.4276"},
        {Base::sweden, "SWE A sex 0", {3500, 280, 65, 165, 0, 1, 0}, nullptr, nullptr, "50.8463"},
        {Base::sweden, "SWE A sex 2", {3500, 280, 65, 165, 2, 1, 0}, nullptr, nullptr, "50.8463"},
        {Base::new_zealand, "NZ A eth 2", {3500, 280, 70, 165, 1, 2, 0}, nullptr, "3438.3", "54.9872"},
        {Base::new_zealand, "NZ A eth 3", {3500, 280, 70, 165, 1, 3, 0}, nullptr, "3521", "47.0036"},
        {Base::new_zealand, "NZ A eth 4", {3500, 280, 70, 165, 1, 4, 0}, nullptr, "3688.7", "32.4847"},
        {Base::new_zealand, "NZ A eth 5", {3500, 280, 70, 165, 1, 5, 0}, nullptr, "3672", "33.7975"},
        {Base::new_zealand, "NZ A eth 6", {3500, 280, 70, 165, 1, 6, 0}, nullptr, "3711.9", "30.7158"},
        {Base::new_zealand, "NZ A eth 7", {3500, 280, 70, 165, 1, 7, 0}, nullptr, "3601.1", "39.7196"},
        {Base::new_zealand, "NZ A par 4", {3500, 280, 70, 165, 1, 1, 4}, nullptr, nullptr, "27.0978"},
        {Base::new_zealand, "NZ A sex 0", {3500, 280, 70, 165, 0, 1, 0}, nullptr, nullptr, "51.6551"},
        {Base::new_zealand, "NZ A wt 30", {3500, 280, 30, 165, 1, 1, 0}, "54.3411", nullptr, "53.9984"},
        {Base::new_zealand, "NZ A wt 100", {3500, 280, 100, 165, 1, 1, 0}, "81.40275", nullptr, "35.0246"},
        {Base::australia, "AU A eth 5 par 4", {3500, 280, 64, 163, 1, 5, 4}, nullptr, "3629.7", "39.0927"},
        {Base::australia, "AU A wt 30", {3500, 280, 30, 163, 1, 1, 0}, "53.0317", nullptr, "56.4360"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const Evaluation ev = FormCall(r.in).run(r.base);
        if (r.weight) {
            EXPECT_TRUE(ShowsDigits(ev.weight, r.weight));
        }
        if (r.term_weight) {
            EXPECT_TRUE(ShowsDigits(ev.term_weight, r.term_weight));
        }
        EXPECT_TRUE(ShowsDigits(ev.centile, r.result));
    }
}

// Codes outside a base's tables take the default term: the result is bit for bit the one of
// the catch-all code.
TEST(Codes, ValuesOutsideTheTablesTakeTheDefaultTerm) {
    struct Row {
        Base base;
        std::int16_t reference_eth, reference_par;
        std::vector<std::int16_t> eths, pars, sexes;
    };
    const Row rows[] = {
        {Base::united_kingdom, 10, 4, {0, 11, -1, 99}, {5, 9, -1}, {0, 2, -1}},
        {Base::sweden, 27, 4, {0, -1, 28, 99}, {5, 9, -1}, {0, 2, -1}},
        {Base::new_zealand, 7, 4, {0, 8, -1}, {5, 9, -1}, {0, 2, -1}},
        {Base::australia, 5, 4, {0, 9, 10, -1}, {5, 9, -1}, {0, 2, -1}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(base_name(r.base));
        Inputs in = case_a(r.base);
        in.eth = r.reference_eth;
        in.par = r.reference_par;
        const double reference = FormCall(in).run(r.base).centile;
        for (const std::int16_t eth : r.eths) {
            Inputs v = in;
            v.eth = eth;
            EXPECT_EQ(bits(FormCall(v).run(r.base).centile), bits(reference)) << "eth " << eth;
        }
        for (const std::int16_t par : r.pars) {
            Inputs v = in;
            v.par = par;
            EXPECT_EQ(bits(FormCall(v).run(r.base).centile), bits(reference)) << "par " << par;
        }
        Inputs female = in;
        female.sex = 0;
        const double female_reference = FormCall(female).run(r.base).centile;
        for (const std::int16_t sex : r.sexes) {
            Inputs v = in;
            v.sex = sex;
            EXPECT_EQ(bits(FormCall(v).run(r.base).centile), bits(female_reference)) << "sex " << sex;
        }
    }
    // Sweden: code 1 and the catch-all share the term 0; 25 and 26 share -38.43.
    Inputs swe = case_a(Base::sweden);
    const double scandinavian = FormCall(swe).run(Base::sweden).centile;
    swe.eth = 27;
    EXPECT_EQ(bits(FormCall(swe).run(Base::sweden).centile), bits(scandinavian));
}

TEST(Codes, NullAndNonIntegralCodesEqualNoCode) {
    for (const Base base : all_bases) {
        SCOPED_TRACE(base_name(base));
        const Inputs in = case_a(base);
        Inputs fallback = in;
        fallback.sex = 0;
        fallback.eth = 99;
        fallback.par = 99;
        const double expected = FormCall(fallback).run(base).centile;
        for (const Arg& code : {Arg::null(), Arg::r8(1.5), Arg::text("0.5")}) {
            std::array<Arg, 7> a{Arg::r8(in.bwt), Arg::r8(in.gest), Arg::r8(in.wt), Arg::r8(in.ht), code, code, code};
            EXPECT_EQ(bits(test::run(base, a).centile), bits(expected));
        }
    }
}

TEST(Codes, NumbersOfAnyTypeAndNumericTextGiveTheSameResult) {
    for (const Base base : all_bases) {
        SCOPED_TRACE(base_name(base));
        const Inputs in = case_a(base);
        const double expected = FormCall(in).run(base).centile;
        std::vector<std::array<Arg, 7>> forms;
        forms.push_back({Arg::r8(in.bwt), Arg::r8(in.gest), Arg::r8(in.wt), Arg::r8(in.ht), Arg::r8(in.sex),
                         Arg::r8(in.eth), Arg::r8(in.par)});
        forms.push_back({Arg::i4(3500), Arg::i2(280), Arg::i4(static_cast<std::int32_t>(in.wt)),
                         Arg::i2(static_cast<std::int16_t>(in.ht)), Arg::i4(1), Arg::i4(1), Arg::boolean(false)});
        forms.push_back({Arg::text("3500"), Arg::text(" 2.8e2 "), Arg::text(std::to_string(in.wt)),
                         Arg::text(std::to_string(in.ht)), Arg::text("1.0"), Arg::text("+1"), Arg::text("0")});
        for (auto& a : forms) {
            const Evaluation ev = test::run(base, a);
            EXPECT_EQ(bits(ev.centile), bits(expected));
            EXPECT_EQ(a[1], Arg::r8(40.0)) << "gest becomes a double holding the weeks";
        }
    }
}

TEST(WriteBacks, CallingTwiceDividesAgainAndSwedenCentresAgain) {
    FormCall swe(case_a(Base::sweden));
    (void)swe.run(Base::sweden);
    EXPECT_EQ(swe.ht, -2.0);
    EXPECT_EQ(swe.gest, 40.0);
    const Evaluation again = swe.run(Base::sweden);
    EXPECT_EQ(swe.ht, -169.0);
    EXPECT_EQ(swe.gest, 40.0 / 7);
    EXPECT_EQ(again.weight, 29.9 * (-2.0 * -2.0) / 10000);
    EXPECT_TRUE(ShowsDigits(again.weight, "0.01196"));
    EXPECT_TRUE(ShowsDigits(19.96 * (-2.0 * -2.0) / 10000, "0.007984"));
    EXPECT_TRUE(ShowsDigits(again.height_term, "525.3196"));
    EXPECT_EQ(again.weeks, 40.0 / 7);
    EXPECT_TRUE(ShowsDigits(again.centile, "0.405163"));

    for (const Base base : {Base::united_kingdom, Base::new_zealand, Base::australia}) {
        FormCall call(case_a(base));
        (void)call.run(base);
        (void)call.run(base);
        EXPECT_EQ(call.gest, 40.0 / 7);
        EXPECT_EQ(call.ht, case_a(base).ht);
    }
}

TEST(WriteBacks, AnIntegerGestationHoldsTheRoundedWeeksAndLaterStepsUseThem) {
    for (const Base base : all_bases) {
        SCOPED_TRACE(base_name(base));
        const Inputs in = case_a(base);
        Inputs exact = in;
        exact.gest = 273;  // 39 weeks
        const double expected = FormCall(exact).run(base).centile;

        std::int16_t gest16 = 270;  // 38.571... weeks, stored as 39
        std::int32_t gest32 = 270;
        Arg variant = Arg::i2(270);  // a variant holding an integer takes the double quotient
        for (int kind = 0; kind < 3; ++kind) {
            double bwt = in.bwt, wt = in.wt, ht = in.ht;
            std::int16_t sex = in.sex, eth = in.eth, par = in.par;
            std::array<Arg, 7> a{Arg::ref(&bwt), Arg(),          Arg::ref(&wt), Arg::ref(&ht),
                                 Arg::ref(&sex), Arg::ref(&eth), Arg::ref(&par)};
            a[1] = kind == 0 ? Arg::ref(&gest16) : kind == 1 ? Arg::ref(&gest32) : Arg::ref(&variant);
            const Evaluation ev = test::run(base, a);
            if (kind == 2) {
                EXPECT_EQ(variant, Arg::r8(270.0 / 7));
                EXPECT_EQ(ev.weeks, 270.0 / 7);
            } else {
                EXPECT_EQ(ev.weeks, 39.0);
                EXPECT_EQ(bits(ev.centile), bits(expected));
            }
        }
        EXPECT_EQ(gest16, 39);
        EXPECT_EQ(gest32, 39);
    }
}

TEST(WriteBacks, SwedenCentresAnIntegerHeightAndReadsItBack) {
    const Inputs in = case_a(Base::sweden);
    const double expected = FormCall(in).run(Base::sweden).centile;
    double bwt = in.bwt, gest = in.gest, wt = in.wt;
    std::int16_t ht = 165, sex = in.sex, eth = in.eth, par = in.par;
    std::array<Arg, 7> a{Arg::ref(&bwt), Arg::ref(&gest), Arg::ref(&wt), Arg::ref(&ht),
                         Arg::ref(&sex), Arg::ref(&eth),  Arg::ref(&par)};
    EXPECT_EQ(bits(test::run(Base::sweden, a).centile), bits(expected));
    EXPECT_EQ(ht, -2);

    Arg text_ht = Arg::text("165");
    std::array<Arg, 7> b{Arg::r8(in.bwt), Arg::r8(in.gest), Arg::r8(in.wt), Arg::ref(&text_ht),
                         Arg::i2(1),      Arg::i2(1),       Arg::i2(0)};
    EXPECT_EQ(bits(test::run(Base::sweden, b).centile), bits(expected));
    EXPECT_EQ(text_ht, Arg::r8(-2.0)) << "a height given as text is replaced by a double";
}

TEST(MissingInputs, EmptyOrZeroLengthTextInAnyPlaceGivesZeroLengthTextAndWritesNothing) {
    for (const Base base : all_bases) {
        for (std::size_t place = 0; place < 7; ++place) {
            for (const Arg& missing : {Arg(), Arg::text("")}) {
                SCOPED_TRACE(std::string(base_name(base)) + " argument " + std::to_string(place + 1));
                const Inputs in = case_a(base);
                double gest = in.gest, ht = in.ht;
                Arg held = missing;
                // The other arguments hold values that would fail if they were read.
                std::array<Arg, 7> a{Arg::text("not a number"),
                                     Arg::ref(&gest),
                                     Arg::null(),
                                     Arg::ref(&ht),
                                     Arg::text("x"),
                                     Arg::text("x"),
                                     Arg::text("x")};
                a[place] = Arg::ref(&held);
                const Evaluation ev = test::run(base, a);
                EXPECT_TRUE(ev.missing);
                EXPECT_EQ(ev.result, Arg::text(""));
                if (place != 1) {
                    EXPECT_EQ(gest, in.gest);
                }
                if (place != 3) {
                    EXPECT_EQ(ht, in.ht);
                }
                EXPECT_EQ(held, missing);
            }
        }
    }
}

TEST(MissingInputs, TheFourCalculatorsAreTheBasesEvaluations) {
    using Fn = Arg (*)(Arg&, Arg&, Arg&, Arg&, Arg&, Arg&, Arg&);
    const std::pair<Base, Fn> calculators[] = {{Base::united_kingdom, custcentukn},
                                               {Base::sweden, custcentswe},
                                               {Base::new_zealand, custcentnz},
                                               {Base::australia, custcentau}};
    for (const auto& [base, fn] : calculators) {
        SCOPED_TRACE(base_name(base));
        const Inputs in = case_a(base);
        FormCall call(in);
        std::array<Arg, 7> a{Arg::ref(&call.bwt), Arg::ref(&call.gest), Arg::ref(&call.wt), Arg::ref(&call.ht),
                             Arg::ref(&call.sex), Arg::ref(&call.eth),  Arg::ref(&call.par)};
        const Arg result = fn(a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
        EXPECT_EQ(result, FormCall(in).run(base).result);
        EXPECT_EQ(call.gest, 40.0);
        Arg empty;
        EXPECT_EQ(fn(empty, a[1], a[2], a[3], a[4], a[5], a[6]), Arg::text(""));
    }
}

// z = 0 gives exactly 50; a result beyond 5.3 standard deviations passes 100 (or 0) slightly.
TEST(CentileIntegral, TheMiddleAndTheEnds) {
    for (const Base base : all_bases) {
        SCOPED_TRACE(base_name(base));
        Inputs in = case_a(base);
        in.bwt = FormCall(in).run(base).optimal_weight;
        const Evaluation mid = FormCall(in).run(base);
        EXPECT_EQ(bits(mid.z), bits(0.0));
        EXPECT_EQ(mid.centile, 50.0);

        in.bwt = 6500;
        const Evaluation high = FormCall(in).run(base);
        EXPECT_GT(high.z, 5.3);
        EXPECT_GT(high.centile, 100.0);
        EXPECT_LE(high.centile, 100.0000055);
        in.bwt = 500;
        const Evaluation low = FormCall(in).run(base);
        EXPECT_LT(low.z, -5.3);
        EXPECT_LT(low.centile, 0.0);
        EXPECT_GE(low.centile, -0.0000055);
    }
}

// The integral as the steps state it, without the mend for large |z|.
using test::reference_centile;

TEST(CentileIntegral, UpToAThousandStandardDeviationsNothingChanges) {
    for (const Base base : all_bases) {
        const Inputs in = case_a(base);
        for (const double bwt : {-350000.0, -1.0, 0.0, 1.0, 400.0, 2999.5, 3500.0, 5000.0, 20000.0, 300000.0}) {
            Inputs v = in;
            v.bwt = bwt;
            const Evaluation ev = FormCall(v).run(base);
            ASSERT_LE(std::fabs(ev.z), 1000.0);
            EXPECT_EQ(bits(ev.centile), bits(reference_centile(ev.z))) << base_name(base) << " bwt " << bwt;
        }
    }
    for (const double z : {1000.0, -1000.0, 999.9999999999999, 0.001, -37.5}) {
        EXPECT_EQ(bits(test::centile_for_z(z)), bits(reference_centile(z))) << z;
    }
}

TEST(CentileIntegral, EveryZUpToAThousandMatchesTheStatedIntegralBitForBit) {
    // A dense sweep, denser where the far slices start to vanish (|z| around 40 and up).
    test::XorShift rng;
    for (int k = 0; k < 3000; ++k) {
        const double unit = rng.unit();
        const double z = k % 3 == 0 ? unit * 1000 : k % 3 == 1 ? 30 + unit * 30 : unit * 6;
        ASSERT_EQ(bits(test::centile_for_z(z)), bits(reference_centile(z))) << z;
        ASSERT_EQ(bits(test::centile_for_z(-z)), bits(reference_centile(-z))) << -z;
    }
    for (const double z : {38.0, 38.6, 39.0, 39.9, 40.0, 40.04, 41.0, 80.0, 999.0}) {
        EXPECT_EQ(bits(test::centile_for_z(z)), bits(reference_centile(z))) << z;
    }
}

TEST(CentileIntegral, BeyondAThousandStandardDeviationsTheCentileStaysAtTheEnd) {
    // Without the mend the density is missed: 88.86 at z = 3000, 58.76 at 5000, 50 from 10 000.
    EXPECT_TRUE(ShowsDigits(reference_centile(3000), "88.86"));
    EXPECT_TRUE(ShowsDigits(reference_centile(5000), "58.76"));
    EXPECT_EQ(reference_centile(50000), 50.0);

    const double top = test::centile_for_z(1000);
    const double bottom = test::centile_for_z(-1000);
    EXPECT_TRUE(ShowsDigits(top, "100.0000052"));
    EXPECT_TRUE(ShowsDigits(bottom, "-0.0000052"));
    for (const double z :
         {1000.0000000000001, 3000.0, 5000.0, 10000.0, 50000.0, 1e300, std::numeric_limits<double>::max()}) {
        EXPECT_EQ(bits(test::centile_for_z(z)), bits(top)) << z;
        EXPECT_EQ(bits(test::centile_for_z(-z)), bits(bottom)) << -z;
    }
    // Through a calculator: a birth weight given in milligrams instead of grams.
    for (const Base base : all_bases) {
        Inputs in = case_a(base);
        in.bwt = 3500000;
        const Evaluation ev = FormCall(in).run(base);
        EXPECT_GT(ev.z, 1000.0);
        EXPECT_EQ(bits(ev.centile), bits(top)) << base_name(base);
    }
}

TEST(Tables, BasesAndTheirEthnicGroups) {
    struct Row {
        Base base;
        const char* name;
        const char* tag;
        std::size_t groups;
        const char* last;
    };
    const Row rows[] = {{Base::united_kingdom, "United Kingdom", "uk", 10, "Other"},
                        {Base::sweden, "Sweden", "swe", 27, "Other"},
                        {Base::new_zealand, "New Zealand", "nz", 7, "Other"},
                        {Base::australia, "Australia", "au", 4, "African"}};
    for (const auto& r : rows) {
        EXPECT_EQ(base_name(r.base), r.name);
        EXPECT_EQ(base_tag(r.base), r.tag);
        EXPECT_EQ(base_from_text(r.name), r.base);
        EXPECT_EQ(base_from_text(r.tag), r.base);
        const auto groups = ethnic_groups(r.base);
        ASSERT_EQ(groups.size(), r.groups);
        EXPECT_EQ(groups.back().text, r.last);
        for (std::size_t k = 0; k < groups.size(); ++k) EXPECT_EQ(groups[k].code, static_cast<int>(k + 1));
        EXPECT_EQ(groups.front().term, 0.0) << "code 1 is the reference group";
    }
    EXPECT_FALSE(base_from_text("united kingdom"));
    EXPECT_FALSE(base_from_text("UK"));
    EXPECT_FALSE(base_from_text(""));
    EXPECT_EQ(ethnic_groups(Base::sweden)[6].text, "Phillipino");
    EXPECT_EQ(ethnic_groups(Base::sweden)[15].text, "Moroccon");
    EXPECT_EQ(ethnic_groups(Base::new_zealand)[6].term, 13.3);
    const auto parity = parity_texts();
    ASSERT_EQ(parity.size(), 5u);
    EXPECT_EQ(parity[4], "4 or more");
}

}  // namespace
}  // namespace pelmora::calc
