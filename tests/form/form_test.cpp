// The face at work without a display: start-up contents, base switching, the seven fields and the
// result, driven through the toolkit the way a person would, with the real control's dual
// interface doing the calculations.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "control.hpp"
#include "pelmora/calc/calculators.hpp"
#include "pelmora/form/form.hpp"
#include "pelmora/form/layout.hpp"
#include "pelmora_idl.h"

namespace pelmora::form {
namespace {

using calc::Base;

std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

// The caption a run with these inputs must show, computed by the calculators themselves.
std::string expected_caption(Base base, double bwt, double gest_days, double wt, double ht, int sex, int eth, int par) {
    calc::Arg a[] = {calc::Arg::r8(bwt),
                     calc::Arg::r8(gest_days),
                     calc::Arg::r8(wt),
                     calc::Arg::r8(ht),
                     calc::Arg::i2(static_cast<std::int16_t>(sex)),
                     calc::Arg::i2(static_cast<std::int16_t>(eth)),
                     calc::Arg::i2(static_cast<std::int16_t>(par))};
    const calc::Evaluation ev = calc::evaluate(base, a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
    return result_caption(ev.centile);
}

class FormTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<Form>(forms::headless_toolkit(), control.pelmora());
        form->surface().set_failure_sink([this](const forms::RuntimeError& e) { failures.push_back(e); });
    }
    forms::DropDownList& list(std::string_view name) { return *form->surface().find_list(name); }
    std::string shown() { return form->surface().find_label("output_label")->caption(); }
    void start() { form->surface().raise_initialise(); }

    test::Control control;  // the real Pelmora, created through its class factory
    std::unique_ptr<Form> form;
    std::vector<forms::RuntimeError> failures;
};

TEST_F(FormTest, BeforeStartListsAreEmptyAndTheLabelIsThePlaceholder) {
    for (const ControlRow& row : control_table) {
        if (row.kind == Kind::list) {
            EXPECT_EQ(list(row.name).count(), 0U) << row.name;
        }
    }
    EXPECT_EQ(shown(), "Output");
}

TEST_F(FormTest, StartUpFillsEveryListPicksTheFirstChoicesAndShows56) {
    start();
    struct Expect {
        const char* name;
        std::size_t count;
        const char* first;
        const char* last;
        const char* picked;
    };
    const Expect lists[] = {
        {"Comboht", 61, "140", "200", "165"},
        {"Combowt", 121, "30", "150", "65"},
        {"Combogw", 25, "20", "44", "40"},
        {"Combogd", 7, "0", "6", "0"},
        {"Combobwt", 94, "400", "Over 5000", "3500"},
        {"Comboeth", 10, "European", "Other", "European"},
        {"Combopar", 5, "0", "4 or more", "0"},
        {"Combosex", 2, "Male", "Female", "Female"},
        {"Combobase", 4, "Australia", "United Kingdom", "United Kingdom"},
    };
    for (const Expect& e : lists) {
        SCOPED_TRACE(e.name);
        forms::DropDownList& l = list(e.name);
        ASSERT_EQ(l.count(), e.count);
        EXPECT_EQ(l.item(0), e.first);
        EXPECT_EQ(l.item(e.count - 1), e.last);
        EXPECT_EQ(l.text(), e.picked);
    }
    // Numeric items are plain digits in steps, nothing in front.
    for (const char* name : {"Comboht", "Combowt", "Combogw", "Combogd"}) {
        const auto items = list(name).items();
        for (std::size_t i = 1; i < items.size(); ++i)
            EXPECT_EQ(std::stoi(items[i]), std::stoi(items[i - 1]) + 1) << name << ' ' << items[i];
    }
    const auto bwt = list("Combobwt").items();
    EXPECT_EQ(bwt[62], "3500");
    EXPECT_EQ(bwt[92], "5000");
    EXPECT_EQ(bwt[1], "450");
    EXPECT_EQ(list("Combopar").items(), (std::vector<std::string>{"0", "1", "2", "3", "4 or more"}));
    EXPECT_EQ(list("Comboeth").items(),
              (std::vector<std::string>{"European", "Indian", "Pakistani", "Bangladeshi", "Afro-Caribbean", "African",
                                        "Middle Eastern", "Far East Asian", "South East Asian", "Other"}));
    EXPECT_EQ(list("Combobase").items(),
              (std::vector<std::string>{"Australia", "New Zealand", "Sweden", "United Kingdom"}));

    EXPECT_EQ(shown(), "56");
    EXPECT_EQ(shown(), expected_caption(Base::united_kingdom, 3500, 280, 65, 165, 0, 1, 0));
    const Fields f = form->fields();
    EXPECT_EQ(f.bwtval, 3500);
    EXPECT_EQ(f.gestval, 40) << "the calculator wrote the weeks back";
    EXPECT_EQ(f.wtval, 65);
    EXPECT_EQ(f.htval, 165);
    EXPECT_EQ(f.sexval, 0);
    EXPECT_EQ(f.ethval, 1);
    EXPECT_EQ(f.parval, 0);
    EXPECT_TRUE(failures.empty());
}

TEST_F(FormTest, EveryBaseSwitchRebuildsTheEthnicListAndRecalculates) {
    start();
    struct Switch {
        const char* base;
        Base id;
        std::size_t count;
        const char* first;
        const char* last;
        const char* picked;
    };
    const Switch switches[] = {
        {"Sweden", Base::sweden, 27, "Scandinavian", "Other", "Scandinavian"},
        {"Australia", Base::australia, 4, "African", "Middle Eastern", "European"},
        {"New Zealand", Base::new_zealand, 7, "Chinese", "Other", "European"},
        {"United Kingdom", Base::united_kingdom, 10, "African", "Other", "European"},
    };
    for (const Switch& s : switches) {
        SCOPED_TRACE(s.base);
        forms::DropDownList& before = list("Comboeth");
        before.pick(before.item(before.count() - 1));  // some group other than the reference first
        list("Combobase").pick(s.base);
        forms::DropDownList& eth = list("Comboeth");
        ASSERT_EQ(eth.count(), s.count);
        EXPECT_EQ(eth.item(0), s.first);
        EXPECT_EQ(eth.item(s.count - 1), s.last);
        EXPECT_EQ(eth.text(), s.picked);
        const auto items = eth.items();
        const std::vector<std::string_view> offered = ethnic_items(s.id);
        EXPECT_EQ(items, std::vector<std::string>(offered.begin(), offered.end()));
        EXPECT_EQ(form->fields().ethval, 1);
        EXPECT_EQ(shown(), expected_caption(s.id, 3500, 280, 65, 165, 0, 1, 0));
        // The other lists keep their choices.
        EXPECT_EQ(list("Comboht").text(), "165");
        EXPECT_EQ(list("Combosex").text(), "Female");
    }
    EXPECT_TRUE(failures.empty());
}

TEST_F(FormTest, SwitchingNeverMergesAndRepickingResetsTheGroup) {
    start();
    list("Combobase").pick("Sweden");
    list("Comboeth").pick("Somali");
    EXPECT_EQ(form->fields().ethval, 19);
    list("Combobase").pick("New Zealand");
    for (const std::string& item : list("Comboeth").items())
        EXPECT_FALSE(ethnic_code(Base::sweden, item) && !ethnic_code(Base::new_zealand, item)) << item;
    EXPECT_EQ(list("Comboeth").count(), 7U);

    list("Comboeth").pick("Maori");
    list("Combobase").pick("New Zealand");  // the base already chosen
    EXPECT_EQ(list("Comboeth").text(), "European");
    EXPECT_EQ(list("Comboeth").count(), 7U);
    EXPECT_EQ(form->fields().ethval, 1);
}

TEST_F(FormTest, EthnicCodeFollowsTheChosenBasesTable) {
    start();
    struct Step {
        const char* list;
        const char* pick;
        std::int16_t ethval;
    };
    const Step steps[] = {
        {"Comboeth", "Indian", 2},     {"Comboeth", "Other", 10},  // the United Kingdom's catch-all
        {"Combobase", "Sweden", 1},    {"Comboeth", "Phillipino", 7},       {"Comboeth", "Other", 27},
        {"Combobase", "Australia", 1}, {"Comboeth", "Indian/Pakistani", 2}, {"Combobase", "New Zealand", 1},
        {"Comboeth", "Other", 7},
    };
    for (const Step& s : steps) {
        list(s.list).pick(s.pick);
        EXPECT_EQ(form->fields().ethval, s.ethval) << s.list << ' ' << s.pick;
    }
}

TEST_F(FormTest, AnUnknownEthnicTextKeepsTheCodeExceptUnderTheUnitedKingdom) {
    start();
    list("Combobase").pick("Sweden");
    list("Comboeth").pick("Somali");
    list("Comboeth").append("European");  // not a Swedish group
    list("Comboeth").pick("European");
    EXPECT_EQ(form->fields().ethval, 19);
    EXPECT_EQ(shown(), expected_caption(Base::sweden, 3500, 280, 65, 165, 0, 19, 0));

    list("Combobase").pick("United Kingdom");
    list("Comboeth").pick("Indian");
    list("Comboeth").append("Martian");
    list("Comboeth").pick("Martian");
    EXPECT_EQ(form->fields().ethval, 10);
}

TEST_F(FormTest, WriteBacksLandInTheFieldsAndNeverReachTheNextRun) {
    start();
    list("Combogd").pick("3");
    const double weeks = 283.0 / 7.0;
    EXPECT_EQ(bits(form->fields().gestval), bits(weeks));
    list("Combogd").pick("3");  // again: 283 is rebuilt from the lists, not 40.43 divided again
    EXPECT_EQ(bits(form->fields().gestval), bits(weeks));
    EXPECT_EQ(form->fields().htval, 165) << "only Sweden writes the height back";

    list("Combobase").pick("Sweden");
    EXPECT_EQ(form->fields().htval, -2);
    const std::string first = shown();
    list("Combosex").pick("Female");
    EXPECT_EQ(form->fields().htval, -2) << "165 read again from the list, centred once";
    EXPECT_EQ(shown(), first);
    EXPECT_EQ(shown(), expected_caption(Base::sweden, 3500, 283, 65, 165, 0, 1, 0));
}

TEST_F(FormTest, FieldsComeFromTheListTexts) {
    start();
    list("Combobwt").pick("Over 5000");
    EXPECT_EQ(form->fields().bwtval, 5500);
    list("Combobwt").pick("3450");
    EXPECT_EQ(form->fields().bwtval, 3450);
    list("Combosex").pick("Male");
    EXPECT_EQ(form->fields().sexval, 1);
    list("Combopar").pick("4 or more");
    EXPECT_EQ(form->fields().parval, 4);
    list("Combopar").pick("2");
    EXPECT_EQ(form->fields().parval, 2);
    list("Combowt").pick("30");
    list("Comboht").pick("200");
    list("Combogw").pick("20");
    list("Combogd").set_text("");  // an empty days text counts as 0 days
    list("Combobwt").pick("Over 5000");
    const Fields f = form->fields();
    EXPECT_EQ(f.wtval, 30);
    EXPECT_EQ(f.htval, 200);
    EXPECT_EQ(f.gestval, 20);
    EXPECT_EQ(shown(), expected_caption(Base::united_kingdom, 5500, 140, 30, 200, 1, 1, 2));
}

TEST_F(FormTest, TheNewZealandWorkedExampleShows41) {
    start();
    list("Combobase").pick("New Zealand");
    list("Combowt").pick("70");
    list("Combosex").pick("Male");
    EXPECT_EQ(shown(), "41");
}

TEST_F(FormTest, AnUnknownBaseTextCalculatesNothingButStillReadsTheOtherLists) {
    start();
    list("Comboeth").pick("Indian");
    const std::string before = shown();
    list("Combobase").set_text("");  // no base picked
    list("Combobase").pick("");      // its click: nothing to switch to
    EXPECT_EQ(list("Comboeth").text(), "Indian");
    EXPECT_EQ(list("Comboeth").count(), 10U);
    list("Comboeth").pick("African");  // would be code 6 under the United Kingdom
    list("Combowt").pick("80");
    EXPECT_EQ(shown(), before);
    EXPECT_EQ(form->fields().wtval, 80);
    EXPECT_EQ(form->fields().ethval, 2) << "the ethnic code keeps its value";

    list("Combobase").append("Atlantis");
    list("Combobase").pick("Atlantis");
    EXPECT_EQ(list("Comboeth").text(), "African");
    EXPECT_EQ(shown(), before);
    EXPECT_TRUE(failures.empty());
}

TEST_F(FormTest, AFailingRunKeepsTheCaptionAndTheFormGoesOn) {
    start();
    list("Combobase").pick("Sweden");
    const std::string before = shown();
    list("Combogw").append("1e308");  // weeks x 7 overflows
    list("Combogw").pick("1e308");
    ASSERT_EQ(failures.size(), 1U);
    EXPECT_EQ(failures[0].number(), 6);
    EXPECT_EQ(failures[0].text(), "Overflow");
    EXPECT_EQ(shown(), before);

    list("Combogw").pick("40");
    list("Comboht").append("1e200");  // the Swedish cubic height term overflows in the calculator
    list("Comboht").pick("1e200");
    ASSERT_EQ(failures.size(), 2U);
    EXPECT_EQ(failures[1].number(), 6);
    EXPECT_EQ(failures[1].text(), "Overflow");
    EXPECT_EQ(shown(), before);

    list("Comboht").pick("165");
    list("Combosex").pick("Male");
    EXPECT_EQ(shown(), expected_caption(Base::sweden, 3500, 280, 65, 165, 1, 1, 0));
    EXPECT_EQ(failures.size(), 2U);
}

TEST_F(FormTest, ClickHandlersLeaveTheReferenceCountAsTheyFoundIt) {
    start();
    _Pelmora* p = control.pelmora();
    const ULONG before = (p->AddRef(), p->Release());
    list("Combogw").pick("38");
    list("Combobase").pick("Australia");
    list("Comboht").append("1e200");
    list("Combobase").pick("Sweden");
    list("Comboht").pick("1e200");  // a failing handler too
    EXPECT_EQ((p->AddRef(), p->Release()), before);
}

TEST(CreatedControl, BuildsItsFormAndShowsTheFirstResultAtOnce) {
    test::Control control;
    forms::Surface* surface = control.surface();
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->name(), "UserControl");
    ASSERT_NE(surface->find_label("output_label"), nullptr);
    EXPECT_EQ(surface->find_label("output_label")->caption(), "56");
    surface->find_list("Combobase")->pick("New Zealand");
    surface->find_list("Combowt")->pick("70");
    surface->find_list("Combosex")->pick("Male");
    EXPECT_EQ(surface->find_label("output_label")->caption(), "41");
}

}  // namespace
}  // namespace pelmora::form
