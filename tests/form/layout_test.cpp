// The face's data: the layout rule of the control table, the per-base ethnic lists built from the
// calculators' tables, text-to-code mapping and the leading-number conversion.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "pelmora/form/layout.hpp"

namespace pelmora::form {
namespace {

const ControlRow& row(std::string_view name) {
    for (const ControlRow& r : control_table)
        if (r.name == name) return r;
    throw std::logic_error("no such control");
}

TEST(ControlTable, EachCaptionSitsLeftOfItsListAndSlightlyLower) {
    const std::pair<const char*, const char*> pairs[] = {
        {"Label9", "Combobase"}, {"Label4", "Comboht"},  {"Label2", "Combogw"},
        {"Label2b", "Combogd"},  {"Label3", "Combowt"},  {"Label1", "Combobwt"},
        {"Label6", "Comboeth"},  {"Label5", "Combosex"}, {"Label7", "Combopar"},
    };
    for (const auto& [label, list] : pairs) {
        SCOPED_TRACE(label);
        const forms::Rect l = row(label).rect;
        const forms::Rect c = row(list).rect;
        EXPECT_EQ(l.left + l.width, c.left - 105);
        EXPECT_EQ(l.top, c.top + 45);
        EXPECT_EQ(row(label).alignment, forms::Alignment::right);
        EXPECT_EQ(row(label).container, "");
    }
}

TEST(ControlTable, NamesAreUniqueAndContainersComeFirst) {
    std::map<std::string_view, std::size_t> seen;
    for (std::size_t i = 0; i < control_table.size(); ++i) {
        const ControlRow& r = control_table[i];
        EXPECT_TRUE(seen.emplace(r.name, i).second) << r.name;
        if (!r.container.empty()) {
            ASSERT_TRUE(seen.contains(r.container)) << r.name;
            EXPECT_EQ(control_table[seen[r.container]].kind, Kind::frame);
        }
        if (r.kind == Kind::list) {
            EXPECT_TRUE(r.caption.empty());
        }
    }
    EXPECT_EQ(seen.size(), 21U);
}

TEST(EthnicLists, StartUpListIsTheUnitedKingdomsInCodeOrder) {
    EXPECT_EQ(startup_ethnic_items(), (std::vector<std::string_view>{"European", "Indian", "Pakistani", "Bangladeshi",
                                                                     "Afro-Caribbean", "African", "Middle Eastern",
                                                                     "Far East Asian", "South East Asian", "Other"}));
}

TEST(EthnicLists, EachBaseShowsItsGroupsInItsOwnOrder) {
    using calc::Base;
    const std::map<Base, std::vector<std::string_view>> expected = {
        {Base::australia, {"African", "European", "Indian/Pakistani", "Middle Eastern"}},
        {Base::new_zealand, {"Chinese", "European", "Indian", "Maori", "Samoan", "Tongan", "Other"}},
        {Base::sweden, {"Scandinavian", "Abyssinian",  "Algerian",     "Bangladeshi",  "Chilean",   "Czechoslovakian",
                        "Finnish",      "Gambian",     "Greek",        "Hungarian",    "Indian",    "Iranian",
                        "Iraqi",        "Lebanese",    "Moroccon",     "N Vietnamese", "Pakistani", "Peruvian",
                        "Phillipino",   "S Korean",    "S Vietnamese", "Somali",       "Syrian",    "Thai",
                        "Turkish",      "Yugoslavian", "Other"}},
        {Base::united_kingdom,
         {"African", "Afro-Caribbean", "Bangladeshi", "European", "Far East Asian", "Indian", "Middle Eastern",
          "Pakistani", "South East Asian", "Other"}},
    };
    const std::map<Base, std::string_view> picked = {
        {Base::australia, "European"},
        {Base::new_zealand, "European"},
        {Base::sweden, "Scandinavian"},
        {Base::united_kingdom, "European"},
    };
    for (const auto& [base, items] : expected) {
        SCOPED_TRACE(calc::base_name(base));
        EXPECT_EQ(ethnic_items(base), items);
        EXPECT_EQ(reference_group(base), picked.at(base));
    }
}

TEST(EthnicLists, EveryOfferedTextMapsToItsBasesCode) {
    using calc::Base;
    const std::map<Base, std::map<std::string_view, std::int16_t>> codes = {
        {Base::united_kingdom,
         {{"African", 6},
          {"Afro-Caribbean", 5},
          {"Bangladeshi", 4},
          {"European", 1},
          {"Far East Asian", 8},
          {"Indian", 2},
          {"Pakistani", 3},
          {"Middle Eastern", 7},
          {"South East Asian", 9},
          {"Other", 10}}},
        {Base::sweden,
         {{"Abyssinian", 2},   {"Algerian", 3},  {"Bangladeshi", 4},   {"Chilean", 5},      {"Czechoslovakian", 22},
          {"Finnish", 6},      {"Gambian", 8},   {"Greek", 9},         {"Hungarian", 24},   {"Indian", 10},
          {"Iraqi", 11},       {"Iranian", 12},  {"Lebanese", 15},     {"Moroccon", 16},    {"N Vietnamese", 26},
          {"Pakistani", 18},   {"Peruvian", 17}, {"Phillipino", 7},    {"Scandinavian", 1}, {"Somali", 19},
          {"Syrian", 20},      {"S Korean", 14}, {"S Vietnamese", 25}, {"Thai", 21},        {"Turkish", 23},
          {"Yugoslavian", 13}, {"Other", 27}}},
        {Base::new_zealand,
         {{"Chinese", 4}, {"European", 1}, {"Indian", 2}, {"Maori", 3}, {"Samoan", 5}, {"Tongan", 6}, {"Other", 7}}},
        {Base::australia, {{"African", 4}, {"European", 1}, {"Indian/Pakistani", 2}, {"Middle Eastern", 3}}},
    };
    for (const auto& [base, table] : codes) {
        SCOPED_TRACE(calc::base_name(base));
        EXPECT_EQ(ethnic_items(base).size(), table.size());
        for (const std::string_view text : ethnic_items(base)) {
            ASSERT_TRUE(table.contains(text)) << text;
            EXPECT_EQ(ethnic_code(base, text), table.at(text)) << text;
        }
    }
    // Exact comparison: case, blanks and other bases' groups are not recognised.
    EXPECT_FALSE(ethnic_code(Base::sweden, "European"));
    EXPECT_FALSE(ethnic_code(Base::united_kingdom, "european"));
    EXPECT_FALSE(ethnic_code(Base::new_zealand, "Maori "));
    EXPECT_FALSE(ethnic_code(Base::australia, "Other"));
    EXPECT_TRUE(ethnic_rule(Base::united_kingdom).unmatched_takes_other);
    EXPECT_FALSE(ethnic_rule(Base::sweden).unmatched_takes_other);
}

TEST(BaseNames, OnlyTheFourNamesExactly) {
    EXPECT_EQ(base_named("United Kingdom"), calc::Base::united_kingdom);
    EXPECT_EQ(base_named("New Zealand"), calc::Base::new_zealand);
    for (const char* text : {"", "uk", "sweden", "Sweden ", " Australia", "United kingdom"})
        EXPECT_FALSE(base_named(text)) << text;
}

TEST(LeadingNumber, ReadsTheNumberAtTheStart) {
    const std::pair<const char*, double> cases[] = {
        {"140", 140},     {"3500", 3500}, {"0", 0},  {"", 0},     {"Over 5000", 0}, {"4 or more", 4}, {"  12", 12},
        {"12.5kg", 12.5}, {"-3", -3},     {"+7", 7}, {".5", 0.5}, {"1e3", 1000},    {"2D2", 200},     {"1e", 1},
        {"1e+", 1},       {"- 3", 0},     {".", 0},  {"1,5", 1},  {"1e-400", 0},    {"0x10", 0},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(leading_number(text), value) << '"' << text << '"';
    EXPECT_EQ(std::bit_cast<std::uint64_t>(leading_number("40.428571428571428")),
              std::bit_cast<std::uint64_t>(40.428571428571428));
    // Long texts: the value decides, not the sign of the exponent.
    EXPECT_EQ(leading_number("0." + std::string(400, '0') + "1"), 0.0);
    EXPECT_EQ(leading_number("0." + std::string(300, '0') + "1"), 1e-301);
    EXPECT_EQ(leading_number("1" + std::string(308, '0') + "e-1"), 1e307);
    for (const std::string& text : {std::string("1e400"), "1" + std::string(399, '0') + "e-1"}) {
        try {
            (void)leading_number(text);
            ADD_FAILURE() << "no overflow for " << text.size() << " characters";
        } catch (const forms::RuntimeError& e) {
            EXPECT_EQ(e.number(), 6);
            EXPECT_EQ(e.text(), "Overflow");
        }
    }
}

TEST(DecimalText, PlainDigits) {
    EXPECT_EQ(decimal_text(0), "0");
    EXPECT_EQ(decimal_text(140), "140");
    EXPECT_EQ(decimal_text(3500), "3500");
}

}  // namespace
}  // namespace pelmora::form

namespace pelmora::form {
namespace {

TEST(ResultCaption, RoundsHalfUpToAPlainWholeNumber) {
    const std::pair<double, const char*> cases[] = {
        {56.41, "56"},
        {57.5, "58"},
        {57.4999, "57"},
        {99.6, "100"},
        {0.3, "0"},
        {40.8892, "41"},
        {-0.0000055, "0"},
        {-0.0, "0"},
        {100.0000055, "100"},
        {0.5, "1"},
        {0.49999999999999994, "1"},  // the sum is a double: it rounds to exactly 1 before the floor
    };
    for (const auto& [centile, shown] : cases) EXPECT_EQ(result_caption(centile), shown) << centile;
    EXPECT_THROW((void)result_caption(std::numeric_limits<double>::infinity()), forms::RuntimeError);
}

}  // namespace
}  // namespace pelmora::form
