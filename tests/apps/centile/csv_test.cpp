// RFC 4180 records: where a record ends, how it splits into fields, how a field is written.

#include <gtest/gtest.h>

#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "batch.hpp"
#include "csv.hpp"

namespace pelmora::centile {
namespace {

TEST(Csv, RecordsEndAtALineEndOutsideQuotedFields) {
    struct Row {
        std::string data;
        std::size_t end;
        char eol = '\n';
    };
    const std::size_t none = std::string_view::npos;
    const Row rows[] = {
        {"a,b\nc", 3},
        {"a,b\r\nc", 4},
        {"\"x\ny\",z\nw", 7},
        {"\"a\"\"\nb\"\n", 7},
        {"\"\"\n", 2},
        {"no end", none},
        {"\"open\n", none},
        {"", none},
        // A quote inside an unquoted field, or after a quoted field's close, opens nothing.
        {"uk,3500\",280\nuk,1\n", 12},
        {"a\"\nb\"\n", 2},
        {"\"a\"x\"\ny", 5},
        {"x,\"a\nb\"\ny", 7},
        // Lines that end with a carriage return alone.
        {"a,b\rc,d\r", 3, '\r'},
        {"\"a\rb\"\rc", 5, '\r'},
    };
    for (const auto& r : rows) EXPECT_EQ(find_record_end(r.data, r.eol), r.end) << r.data;
}

TEST(Csv, SplittingUndoesQuoting) {
    struct Row {
        std::string record;
        std::vector<std::string> fields;
        bool closed;
    };
    const Row rows[] = {
        {"a,b,c", {"a", "b", "c"}, true},
        {"", {""}, true},
        {",", {"", ""}, true},
        {"a,", {"a", ""}, true},
        {"\"a,b\",c", {"a,b", "c"}, true},
        {"\"say \"\"hi\"\"\"", {"say \"hi\""}, true},
        {"\"two\r\nlines\"", {"two\r\nlines"}, true},
        {"\"\",x", {"", "x"}, true},
        {" a , b ", {" a ", " b "}, true},
        {"\"ab\"c,d", {"abc", "d"}, true},  // lenient: text after the closing quote is kept
        {"a\"b", {"a\"b"}, true},           // lenient: a quote inside an unquoted field
        {"uk,3500\",280", {"uk", "3500\"", "280"}, true},
        {"\"a\"x\"y,\"b\"\"\"", {"ax\"y", "b\""}, true},
        {"x,\"open", {"x"}, false},
    };
    std::vector<std::string> fields{"left", "over", "from", "before"};
    for (const auto& r : rows) {
        EXPECT_EQ(split_record(r.record, fields), r.closed) << r.record;
        if (r.closed) {
            EXPECT_EQ(fields, r.fields) << r.record;
        }
    }
    // A record of a million fields where eight are expected keeps eight and counts the rest.
    const std::string wide = "\"a,b\",c" + std::string(1'000'000, ',');
    std::size_t count = 0;
    EXPECT_TRUE(split_record(wide, fields, 8, count));
    EXPECT_EQ(count, 1'000'002u);
    ASSERT_EQ(fields.size(), 8u);
    EXPECT_EQ(fields[0], "a,b");
    EXPECT_EQ(fields[1], "c");
}

TEST(Csv, WritingQuotesOnlyWhatNeedsIt) {
    const std::pair<std::string, std::string> rows[] = {
        {"plain", "plain"},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\r", "\"cr\r\""},
        {" spaced ", " spaced "},
    };
    for (const auto& [field, written] : rows) {
        std::string out;
        append_field(out, field);
        EXPECT_EQ(out, written);
        std::vector<std::string> back;
        ASSERT_TRUE(split_record(out, back));
        EXPECT_EQ(back, std::vector<std::string>{field}) << "round trip of " << field;
    }
}

TEST(Csv, NumbersAreWrittenShortestAndReadBackExactly) {
    const std::pair<double, const char*> rows[] = {
        {40.0, "40"},
        {-2.0, "-2"},
        {0.1, "0.1"},
        {48.43984325029622, "48.43984325029622"},
        {38.0 + 4.0 / 7, "38.57142857142857"},
        {1e300, "1e+300"},
        {-0.0, "-0"},
    };
    for (const auto& [v, text] : rows) {
        EXPECT_EQ(format_number(v), text);
        EXPECT_EQ(std::stod(format_number(v)), v);
    }
}

// The kept texts are the formatted ones, whatever comes before: values again and again, in
// every order, values that share a slot, hostile doubles.
TEST(Csv, RepeatedNumbersWriteWhatFormattingWrites) {
    const double values[] = {
        35.0,
        35.285714285714285,
        -0.0,
        0.0,
        4.9e-324,                 // the least subnormal
        2.2250738585072009e-308,  // the greatest subnormal
        1e-300,
        0.30000000000000004,  // 17 digits
        9007199254740993.0,
        1.7976931348623157e308,
        1e21,
        123456789012345680.0,
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(),
    };
    RepeatedNumbers texts;
    std::mt19937_64 pick(7);
    for (int round = 0; round < 5000; ++round) {
        double v = values[pick() % std::size(values)];
        if (round % 3 == 0) v = static_cast<double>(pick() % 400) / 7;  // weeks, many sharing slots
        char buf[number_room];
        const std::string_view text(buf, static_cast<std::size_t>(texts.put(buf, v) - buf));
        ASSERT_EQ(text, format_number(v)) << "round " << round;
    }
}

}  // namespace
}  // namespace pelmora::centile
