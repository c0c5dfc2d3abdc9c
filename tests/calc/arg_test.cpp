// The argument type: how text reads as a number, the three uses of an argument and the stores.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "calc_test_support.hpp"
#include "pelmora/calc/arg.hpp"
#include "pelmora/calc/failure.hpp"
#include "pelmora/number_text.hpp"

namespace pelmora::calc {
namespace {

using test::bits;

struct ParseCase {
    const char* text;
    bool reads;
    double value;
};

TEST(ArgParse, TextReadsAsANumberOnlyInTheDecimalForm) {
    const double inf = std::numeric_limits<double>::infinity();
    const ParseCase cases[] = {
        {"3500", true, 3500.0},
        {"  3500\t", true, 3500.0},
        {"+3500", true, 3500.0},
        {"-2", true, -2.0},
        {"-0", true, -0.0},
        {"0.1", true, 0.1},
        {"1.63e2", true, 163.0},
        {"1.63E+2", true, 163.0},
        {"1630e-1", true, 163.0},
        {"007", true, 7.0},
        {"999999999999999", true, 999999999999999.0},
        {"0000000000000000000000003500", true, 3500.0},
        // Correctly rounded: the nearest double, including halfway cases.
        {"9007199254740993", true, 9007199254740992.0},
        {"0.30000000000000004", true, 0.30000000000000004},
        // Short decimals (read by one exact multiplication or division) and the edges of that
        // road: 2^53, the 22nd power of ten, 19 digits.
        {"79.1", true, 79.1},
        {"-0.0", true, -0.0},
        {"4.35e1", true, 43.5},
        {"7e-22", true, 7e-22},
        {"7e-23", true, 7e-23},
        {"3e22", true, 3e22},
        {"3e23", true, 3e23},
        {"900719925474099.3", true, 900719925474099.3},
        {"9007199254740993.0", true, 9007199254740992.0},
        {"0.1234567890123456789", true, 0.1234567890123456789},
        {"12345678901234567.89", true, 12345678901234567.89},
        {"2.2250738585072014e-308", true, 2.2250738585072014e-308},
        {"1e400", true, inf},
        {"-1e400", true, -inf},
        {"1e-400", true, 0.0},
        {"4.9e-324", true, 4.9e-324},
        {"0e99999", true, 0.0},
        {"", false, 0},
        {"   ", false, 0},
        {"abc", false, 0},
        {"3500g", false, 0},
        {"35 00", false, 0},
        {"3,5", false, 0},
        {".5", false, 0},
        {"5.", false, 0},
        {"1e", false, 0},
        {"1e+", false, 0},
        {"--1", false, 0},
        {"+-1", false, 0},
        {"0x10", false, 0},
        {"inf", false, 0},
        {"nan", false, 0},
        {"1\n", false, 0},
        {"\xc2\xa0"
         "1",
         false, 0},
    };
    for (const auto& c : cases) {
        double v = 12345.0;
        EXPECT_EQ(Arg::parse_number(c.text, v), c.reads) << '"' << c.text << '"';
        if (c.reads) {
            EXPECT_EQ(bits(v), bits(c.value)) << '"' << c.text << '"';
        }
    }
}

// The syntaxes that also take digits on one side of the full stop, and the leading number.
TEST(NumberText, EachSyntaxReadsItsOwnForms) {
    struct Case {
        const char* text;
        NumberSyntax syntax;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"5.", automation_syntax, 5.0},
        {".5", automation_syntax, 0.5},
        {".", automation_syntax, std::nullopt},
        {"..5", automation_syntax, std::nullopt},
        {"5.5.", automation_syntax, std::nullopt},
        {"1.25", automation_syntax, 1.25},
        {"5.", leading_syntax, 5.0},
        {".", leading_syntax, std::nullopt},
        {"12.5kg", leading_syntax, 12.5},
        {"1.5D2", leading_syntax, 150.0},
        {"5.", argument_syntax, std::nullopt},
        {".5", argument_syntax, std::nullopt},
    };
    for (const auto& c : cases) {
        const std::optional<double> v = number_in_text(c.text, c.syntax);
        ASSERT_EQ(v.has_value(), c.value.has_value()) << '"' << c.text << '"';
        if (v) {
            EXPECT_EQ(bits(*v), bits(*c.value)) << '"' << c.text << '"';
        }
    }
}

// One row per kind of value: the outcome of each of the three uses.
struct UseCase {
    const char* what;
    Arg arg;
    bool missing;
    std::optional<double> number;  // nullopt: read_number fails with `read_failure`
    Error read_failure;
    std::optional<double> code;  // what code_value gives; nullopt: equals no code
    bool code_fails;
};

TEST(ArgUses, EachKindFollowsTheReadingTable) {
    const Error none = Error::overflow;
    const UseCase cases[] = {
        {"Empty", Arg(), true, 0.0, none, 0.0, false},
        {"Null", Arg::null(), false, std::nullopt, Error::invalid_use_of_null, std::nullopt, false},
        {"I2 0", Arg::i2(0), false, 0.0, none, 0.0, false},
        {"I2 -7", Arg::i2(-7), false, -7.0, none, -7.0, false},
        {"I4 70000", Arg::i4(70000), false, 70000.0, none, 70000.0, false},
        {"R8 2.5", Arg::r8(2.5), false, 2.5, none, 2.5, false},
        {"R8 0", Arg::r8(0.0), false, 0.0, none, 0.0, false},
        {"True", Arg::boolean(true), false, -1.0, none, -1.0, false},
        {"False", Arg::boolean(false), false, 0.0, none, 0.0, false},
        {"empty text", Arg::text(""), true, std::nullopt, Error::type_mismatch, std::nullopt, true},
        {"numeric text", Arg::text(" 2.0 "), false, 2.0, none, 2.0, false},
        {"other text", Arg::text("Male"), false, std::nullopt, Error::type_mismatch, std::nullopt, true},
        {"huge text", Arg::text("1e999"), false, std::nullopt, Error::overflow, std::numeric_limits<double>::infinity(),
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.arg.is_missing(), c.missing);
        if (c.number) {
            EXPECT_EQ(bits(c.arg.read_number("x")), bits(*c.number));
        } else {
            try {
                (void)c.arg.read_number("x");
                ADD_FAILURE() << "read_number did not fail";
            } catch (const Failure& f) {
                EXPECT_EQ(f.kind(), c.read_failure);
                EXPECT_EQ(f.subject(), "x");
            }
        }
        if (c.code_fails) {
            EXPECT_THROW((void)c.arg.code_value("x"), Failure);
            EXPECT_THROW((void)c.arg.equals_code(0, "x"), Failure);
        } else {
            EXPECT_EQ(c.arg.code_value("x"), c.code);
        }
    }
}

TEST(ArgUses, CodesCompareByValue) {
    EXPECT_TRUE(Arg::r8(2.0).equals_code(2, "eth"));
    EXPECT_TRUE(Arg::text("2").equals_code(2, "eth"));
    EXPECT_TRUE(Arg::text("2e0").equals_code(2, "eth"));
    EXPECT_FALSE(Arg::r8(2.5).equals_code(2, "eth"));
    EXPECT_FALSE(Arg::r8(2.5).equals_code(3, "eth"));
    EXPECT_FALSE(Arg::null().equals_code(0, "eth"));
    EXPECT_TRUE(Arg::boolean(true).equals_code(-1, "sex"));
    EXPECT_FALSE(Arg::boolean(true).equals_code(1, "sex"));
}

TEST(ArgUses, ReferencesAreFollowedToTheCallersValue) {
    double d = 163.0;
    std::int16_t s = 4;
    std::int32_t l = -9;
    Arg text = Arg::text("");
    Arg null = Arg::null();
    Arg held_ref = Arg::ref(&s);
    const Arg to_double = Arg::ref(&d);
    const Arg to_short = Arg::ref(&s);
    const Arg to_long = Arg::ref(&l);
    const Arg to_text = Arg::ref(&text);
    const Arg to_null = Arg::ref(&null);
    const Arg to_ref = Arg::ref(&held_ref);

    EXPECT_EQ(to_double.read_number("ht"), 163.0);
    EXPECT_EQ(to_short.read_number("par"), 4.0);
    EXPECT_EQ(to_long.read_number("par"), -9.0);
    EXPECT_TRUE(to_text.is_missing());
    EXPECT_FALSE(to_null.is_missing());
    EXPECT_TRUE(to_null.is_null());
    EXPECT_FALSE(to_null.equals_code(0, "eth"));
    EXPECT_TRUE(to_ref.equals_code(4, "par"));
    EXPECT_EQ(to_ref.value(), Arg::i2(4));
    EXPECT_EQ(to_double.value(), Arg::r8(163.0));

    d = 170.0;  // a later read sees the caller's current value
    EXPECT_EQ(to_double.read_number("ht"), 170.0);
}

TEST(ArgUses, ACyclicReferenceIsATypeMismatchNotAHang) {
    Arg a;
    Arg b = Arg::ref(&a);
    a = Arg::ref(&b);
    EXPECT_FALSE(a.is_missing());
    EXPECT_FALSE(a.is_null());
    try {
        (void)a.read_number("gest");
        ADD_FAILURE() << "no failure";
    } catch (const Failure& f) {
        EXPECT_EQ(f.kind(), Error::type_mismatch);
    }
    EXPECT_THROW(a.store(1.0, "gest"), Failure);
}

TEST(ArgStore, AVariantTakesTheDouble) {
    const Arg before[] = {Arg(),          Arg::null(),        Arg::i2(280),    Arg::i4(280),
                          Arg::r8(280.0), Arg::boolean(true), Arg::text("280")};
    for (Arg a : before) {
        a.store(40.5, "gest");
        EXPECT_EQ(a, Arg::r8(40.5));
    }
}

TEST(ArgStore, ReferencesStoreIntoTheCallersVariable) {
    double d = 280.0;
    Arg ref_d = Arg::ref(&d);
    ref_d.store(40.25, "gest");
    EXPECT_EQ(d, 40.25);
    EXPECT_EQ(ref_d.kind(), Kind::ref_r8);

    Arg variant = Arg::i2(270);
    Arg ref_v = Arg::ref(&variant);
    ref_v.store(38.5, "gest");
    EXPECT_EQ(variant, Arg::r8(38.5));  // the variant changes type; no rounding
    EXPECT_EQ(ref_v.kind(), Kind::ref_arg);

    // A variant that itself refers to a caller's integer stores into that integer.
    std::int16_t s = 0;
    Arg inner = Arg::ref(&s);
    Arg outer = Arg::ref(&inner);
    outer.store(38.6, "gest");
    EXPECT_EQ(s, 39);
    EXPECT_EQ(inner.kind(), Kind::ref_i2);
}

struct RoundCase {
    double stored;
    std::optional<std::int32_t> held;  // nullopt: Overflow
};

TEST(ArgStore, IntegersRoundToNearestTiesToEvenAndOverflow) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const RoundCase i2_cases[] = {
        {38.5, 38},
        {39.5, 40},
        {-0.5, 0},
        {-1.5, -2},
        {2.4999999999999996, 2},
        {38.571428, 39},
        {-2.6, -3},
        {32767.0, 32767},
        {32767.49, 32767},
        {32767.5, std::nullopt},
        {-32768.5, -32768},
        {-32768.51, std::nullopt},
        {1e300, std::nullopt},
        {nan, std::nullopt},
    };
    for (const auto& c : i2_cases) {
        std::int16_t s = 7;
        Arg a = Arg::ref(&s);
        if (c.held) {
            a.store(c.stored, "ht");
            EXPECT_EQ(s, *c.held) << c.stored;
        } else {
            try {
                a.store(c.stored, "ht");
                ADD_FAILURE() << "no overflow for " << c.stored;
            } catch (const Failure& f) {
                EXPECT_EQ(f.kind(), Error::overflow);
                EXPECT_STREQ(f.what(), "Overflow (ht)");
            }
            EXPECT_EQ(s, 7) << "a failed store leaves the variable";
        }
    }
    std::int32_t l = 0;
    Arg a = Arg::ref(&l);
    a.store(2147483647.4, "gest");
    EXPECT_EQ(l, 2147483647);
    EXPECT_THROW(a.store(2147483647.5, "gest"), Failure);
    a.store(-4.5, "gest");
    EXPECT_EQ(l, -4);
}

TEST(ArgStore, NullGoesOnlyWhereAVariantCanHoldIt) {
    Arg v = Arg::r8(1.0);
    v.store_null("gest");
    EXPECT_TRUE(v.is_null());
    Arg held = Arg::text("x");
    Arg ref = Arg::ref(&held);
    ref.store_null("gest");
    EXPECT_TRUE(held.is_null());
    double d = 3.0;
    Arg rd = Arg::ref(&d);
    try {
        rd.store_null("gest");
        ADD_FAILURE() << "no failure";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), 94);
    }
    EXPECT_EQ(d, 3.0);
}

TEST(FailureText, NumbersTextsAndMessages) {
    struct Row {
        Error kind;
        int number;
        const char* text;
    };
    const Row rows[] = {{Error::type_mismatch, 13, "Type mismatch"},
                        {Error::invalid_use_of_null, 94, "Invalid use of Null"},
                        {Error::overflow, 6, "Overflow"},
                        {Error::division_by_zero, 11, "Division by zero"}};
    for (const auto& r : rows) {
        const Failure f(r.kind, "spread");
        EXPECT_EQ(f.number(), r.number);
        EXPECT_STREQ(f.text(), r.text);
        EXPECT_EQ(std::string(f.what()), std::string(r.text) + " (spread)");
        EXPECT_STREQ(Failure(r.kind, "").what(), r.text);
    }
}

}  // namespace
}  // namespace pelmora::calc
