#include "toolkit_contract.hpp"

#include <string>
#include <vector>

namespace pelmora::forms::test {

Toolkit& ToolkitContract::toolkit() const {
    const std::string which = GetParam();
    if (which == "qt") {
        Toolkit* qt = qt_toolkit();
        if (qt == nullptr) throw std::logic_error("no Qt application in this process");
        return *qt;
    }
    return headless_toolkit();
}

namespace {

struct Fixture {
    std::unique_ptr<Surface> surface;
    DropDownList* list = nullptr;
    Label* label = nullptr;
    std::vector<RuntimeError> failures;
};

Fixture make(Toolkit& tk) {
    Fixture f;
    f.surface = tk.create_surface("UserControl");
    Frame& frame = f.surface->create_frame("Frame1", *f.surface);
    f.list = &f.surface->create_list("Combo", *f.surface);
    f.label = &f.surface->create_label("Label", frame);
    for (const char* item : {"Alpha", "alpha", "Beta", "Beta gamma", "Alpha"}) f.list->append(item);
    return f;
}

TEST_P(ToolkitContract, SetTextPicksTheFirstItemWithExactlyThatText) {
    Fixture f = make(toolkit());
    EXPECT_EQ(f.list->text(), "");
    EXPECT_EQ(f.list->count(), 5U);

    struct Case {
        const char* text;
        bool accepted;
        const char* shown;
    };
    // Comparison is whole-text and case-sensitive; a refused text leaves the previous choice.
    const Case cases[] = {
        {"alpha", true, "alpha"},
        {"Alpha", true, "Alpha"},
        {"ALPHA", false, "Alpha"},
        {"Beta ", false, "Alpha"},
        {"Bet", false, "Alpha"},
        {"Beta gamma", true, "Beta gamma"},
        {"", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        if (c.accepted) {
            f.list->set_text(c.text);
        } else {
            try {
                f.list->set_text(c.text);
                ADD_FAILURE() << "accepted a text that is no item";
            } catch (const RuntimeError& e) {
                EXPECT_EQ(e.number(), error_number(Error::invalid_property_value));
                EXPECT_EQ(e.text(), "Invalid property value");
            }
        }
        EXPECT_EQ(f.list->text(), c.shown);
    }
}

TEST_P(ToolkitContract, ItemsKeepAppendOrderAndClearRemovesTheChoice) {
    Fixture f = make(toolkit());
    EXPECT_EQ(f.list->items(), (std::vector<std::string>{"Alpha", "alpha", "Beta", "Beta gamma", "Alpha"}));
    EXPECT_EQ(f.list->item(3), "Beta gamma");
    f.list->set_text("Beta");
    f.list->clear();
    EXPECT_EQ(f.list->count(), 0U);
    EXPECT_EQ(f.list->text(), "");
    EXPECT_THROW(f.list->set_text("Beta"), RuntimeError);
    f.list->append("Delta");
    EXPECT_EQ(f.list->text(), "") << "appending picks nothing";
    EXPECT_EQ(f.list->items(), std::vector<std::string>{"Delta"});
}

TEST_P(ToolkitContract, OnlyAPersonsPickRaisesTheClick) {
    Fixture f = make(toolkit());
    std::vector<std::string> seen;
    f.list->on_click([&] { seen.push_back(f.list->text()); });
    f.list->set_text("Beta");
    f.list->set_text("");
    EXPECT_TRUE(seen.empty());
    f.list->pick("alpha");
    f.list->pick("alpha");  // the same item again is a click as well
    EXPECT_EQ(seen, (std::vector<std::string>{"alpha", "alpha"}));
    EXPECT_THROW(f.list->pick("Gamma"), RuntimeError);
    EXPECT_EQ(seen.size(), 2U) << "a refused pick raises no click";
}

TEST_P(ToolkitContract, HandlerFailuresStopAtTheToolkitAndTheFormStaysUsable) {
    Fixture f = make(toolkit());
    f.surface->set_failure_sink([&](const RuntimeError& e) { f.failures.push_back(e); });
    f.label->set_caption("56");
    int calls = 0;
    f.list->on_click([&] {
        ++calls;
        if (f.list->text() == "Beta") throw RuntimeError(6, "Overflow");
        if (f.list->text() == "Beta gamma") throw std::runtime_error("boom");
        f.label->set_caption(f.list->text());
    });

    f.list->pick("Beta");
    ASSERT_EQ(f.failures.size(), 1U);
    EXPECT_EQ(f.failures[0].number(), 6);
    EXPECT_EQ(f.failures[0].text(), "Overflow");
    EXPECT_EQ(f.label->caption(), "56");
    EXPECT_EQ(f.list->text(), "Beta");

    f.list->pick("Beta gamma");
    ASSERT_EQ(f.failures.size(), 2U);
    EXPECT_EQ(f.failures[1].number(), 51);
    EXPECT_EQ(f.failures[1].text(), "Internal error: boom");

    f.list->pick("alpha");
    EXPECT_EQ(f.label->caption(), "alpha");
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(f.failures.size(), 2U);
}

TEST_P(ToolkitContract, InitialiseNotificationRunsTheHandlerThroughTheBoundary) {
    Fixture f = make(toolkit());
    f.surface->set_failure_sink([&](const RuntimeError& e) { f.failures.push_back(e); });
    int runs = 0;
    f.surface->on_initialise([&] {
        ++runs;
        f.list->set_text("Gamma");  // fails: no such item
        f.label->set_caption("never");
    });
    f.label->set_caption("Output");
    f.surface->raise_initialise();
    EXPECT_EQ(runs, 1);
    ASSERT_EQ(f.failures.size(), 1U);
    EXPECT_EQ(f.failures[0].number(), error_number(Error::invalid_property_value));
    EXPECT_EQ(f.label->caption(), "Output");
}

TEST_P(ToolkitContract, ControlsKeepTheirPropertiesAndPlace) {
    Fixture f = make(toolkit());
    f.label->set_geometry({240, 270, 1575, 255});
    f.label->set_colours(Colour::rgb(255, 192, 192), Colour::window_text());
    f.label->set_alignment(Alignment::centre);
    f.label->set_tab_index(2);
    f.label->set_caption("Gestation:  Weeks");  // two blanks kept
    EXPECT_EQ(f.label->geometry(), (Rect{240, 270, 1575, 255}));
    EXPECT_EQ(f.label->background(), Colour::rgb(255, 192, 192));
    EXPECT_EQ(f.label->text_colour(), Colour::window_text());
    EXPECT_EQ(f.label->alignment(), Alignment::centre);
    EXPECT_EQ(f.label->tab_index(), 2);
    EXPECT_EQ(f.label->caption(), "Gestation:  Weeks");
    ASSERT_NE(f.label->container(), nullptr);
    EXPECT_EQ(f.label->container()->name(), "Frame1");
    EXPECT_EQ(f.surface->container(), nullptr);
    EXPECT_EQ(f.surface->find_label("Label"), f.label);
    EXPECT_EQ(f.surface->find_list("Combo"), f.list);
    EXPECT_EQ(f.surface->find_list("Label"), nullptr);
    EXPECT_EQ(f.surface->find("Nothing"), nullptr);
    EXPECT_NE(f.surface->native_handle(), nullptr);
}

TEST_P(ToolkitContract, TabVisitsOnlyListsInTabIndexOrder) {
    auto surface = toolkit().create_surface("UserControl");
    struct Entry {
        const char* name;
        bool list;
        int tab;
    };
    const Entry entries[] = {{"c", true, 7}, {"lab", false, 1}, {"a", true, 3}, {"b", true, 5}, {"d", true, 4}};
    for (const Entry& e : entries) {
        Control& c = e.list ? static_cast<Control&>(surface->create_list(e.name, *surface))
                            : static_cast<Control&>(surface->create_label(e.name, *surface));
        c.set_tab_index(e.tab);
    }
    std::vector<std::string> order;
    for (const Control* c : surface->focus_chain()) order.push_back(c->name());
    EXPECT_EQ(order, (std::vector<std::string>{"a", "d", "b", "c"}));
}

}  // namespace
}  // namespace pelmora::forms::test
