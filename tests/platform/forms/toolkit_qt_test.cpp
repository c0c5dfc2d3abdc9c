// The Qt backend's own promises: real widgets, pixels from twips, palette roles, Tab order, and
// no crash when a host destroys the widgets.

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include "toolkit_contract.hpp"

namespace pelmora::forms::test {

INSTANTIATE_TEST_SUITE_P(Qt, ToolkitContract, ::testing::Values("qt"));

namespace {

TEST(QtToolkit, IsTheProcessToolkitInAQtApplication) {
    ASSERT_NE(qt_toolkit(), nullptr);
    EXPECT_EQ(&process_toolkit(), qt_toolkit());
    EXPECT_EQ(process_toolkit().name(), "qt");
}

TEST(QtToolkit, ControlsAreRealWidgetsPlacedInPixels) {
    const double dpi = QGuiApplication::primaryScreen()->logicalDotsPerInchX();
    auto surface = qt_toolkit()->create_surface("UserControl");
    surface->set_geometry({0, 0, 7065, 2985});
    Frame& frame = surface->create_frame("Frame1", *surface);
    frame.set_geometry({4320, 2100, 2535, 615});
    Label& label = surface->create_label("output_label", frame);
    label.set_geometry({1780, 240, 495, 255});
    DropDownList& list = surface->create_list("Combobase", *surface);
    list.set_geometry({3000, 120, 2175, 315});

    auto* top = static_cast<QWidget*>(surface->native_handle());
    ASSERT_NE(top, nullptr);
    EXPECT_TRUE(top->isWindow());
    EXPECT_EQ(top->objectName(), "UserControl");
    EXPECT_EQ(top->size(), QSize(twips_to_pixels(7065, dpi), twips_to_pixels(2985, dpi)));

    auto* box = top->findChild<QComboBox*>("Combobase");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(static_cast<void*>(box), list.native_handle());
    EXPECT_FALSE(box->isEditable());
    EXPECT_EQ(box->geometry(), QRect(twips_to_pixels(3000, dpi), twips_to_pixels(120, dpi), twips_to_pixels(2175, dpi),
                                     twips_to_pixels(315, dpi)));

    auto* text = top->findChild<QLabel*>("output_label");
    ASSERT_NE(text, nullptr);
    ASSERT_NE(qobject_cast<QFrame*>(text->parentWidget()), nullptr);
    EXPECT_EQ(text->parentWidget()->objectName(), "Frame1");
    EXPECT_EQ(text->geometry(), QRect(twips_to_pixels(1780, dpi), twips_to_pixels(240, dpi), twips_to_pixels(495, dpi),
                                      twips_to_pixels(255, dpi)));
    EXPECT_EQ(text->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(text->parentWidget()->focusPolicy(), Qt::NoFocus);

    if (dpi == 96.0) {  // the offscreen platform's DPI: one literal check of the arithmetic
        EXPECT_EQ(box->geometry(), QRect(200, 8, 145, 21));
        EXPECT_EQ(text->geometry(), QRect(119, 16, 33, 17));
    }
}

TEST(QtToolkit, ColoursUsePaletteRolesForSystemColours) {
    auto surface = qt_toolkit()->create_surface("UserControl");
    Label& sys = surface->create_label("sys", *surface);
    Label& red = surface->create_label("red", *surface);
    Label& plain = surface->create_label("plain", *surface);
    DropDownList& list = surface->create_list("list", *surface);
    sys.set_colours(Colour::window_background(), Colour::window_text());
    red.set_colours(Colour::rgb(255, 192, 192), Colour::rgb(0, 0, 0));
    plain.set_colours(Colour::window_background(), Colour::toolkit_default());
    list.set_colours(Colour::rgb(192, 192, 255), Colour::rgb(0, 0, 0));

    const QPalette app = QApplication::palette();
    auto* w = static_cast<QLabel*>(sys.native_handle());
    EXPECT_TRUE(w->autoFillBackground());
    EXPECT_EQ(w->backgroundRole(), QPalette::Window);
    EXPECT_EQ(w->foregroundRole(), QPalette::WindowText);
    EXPECT_EQ(w->palette().color(QPalette::Window), app.color(QPalette::Window));
    EXPECT_EQ(w->palette().color(QPalette::WindowText), app.color(QPalette::WindowText));

    w = static_cast<QLabel*>(red.native_handle());
    EXPECT_TRUE(w->autoFillBackground());
    EXPECT_EQ(w->palette().color(w->backgroundRole()), QColor(255, 192, 192));
    EXPECT_EQ(w->palette().color(w->foregroundRole()), QColor(0, 0, 0));

    // A later system colour replaces an earlier custom one.
    red.set_colours(Colour::window_background(), Colour::toolkit_default());
    EXPECT_EQ(w->palette().color(w->backgroundRole()), app.color(QPalette::Window));

    auto* box = static_cast<QComboBox*>(list.native_handle());
    EXPECT_EQ(box->palette().color(QPalette::Button), QColor(192, 192, 255));
    EXPECT_EQ(box->palette().color(QPalette::Base), QColor(192, 192, 255));
    EXPECT_EQ(box->palette().color(QPalette::ButtonText), QColor(0, 0, 0));
    EXPECT_EQ(box->palette().color(QPalette::Text), QColor(0, 0, 0));
}

TEST(QtToolkit, AlignmentAndPlainTextCaptions) {
    auto surface = qt_toolkit()->create_surface("UserControl");
    Label& label = surface->create_label("l", *surface);
    auto* w = static_cast<QLabel*>(label.native_handle());
    const std::pair<Alignment, Qt::Alignment> cases[] = {
        {Alignment::right, Qt::AlignRight},
        {Alignment::centre, Qt::AlignHCenter},
        {Alignment::left, Qt::AlignLeft},
    };
    for (const auto& [ours, theirs] : cases) {
        label.set_alignment(ours);
        EXPECT_EQ(w->alignment() & Qt::AlignHorizontal_Mask, theirs);
    }
    label.set_caption("<b>56</b>");
    EXPECT_EQ(w->textFormat(), Qt::PlainText);
    EXPECT_EQ(label.caption(), "<b>56</b>");
}

TEST(QtToolkit, ActivatedIsTheClickAndSettingTheIndexIsNot) {
    auto surface = qt_toolkit()->create_surface("UserControl");
    DropDownList& list = surface->create_list("Combosex", *surface);
    list.append("Male");
    list.append("Female");
    int clicks = 0;
    list.on_click([&] { ++clicks; });
    auto* box = static_cast<QComboBox*>(list.native_handle());
    box->setCurrentIndex(1);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(list.text(), "Female");
    Q_EMIT box->activated(0);  // what the popup sends when a person chooses
    EXPECT_EQ(clicks, 1);
    QSignalSpy spy(box, &QComboBox::activated);
    list.pick("Male");
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(clicks, 2);
}

TEST(QtToolkit, TabKeyFollowsTabIndexes) {
    auto surface = qt_toolkit()->create_surface("UserControl");
    surface->set_geometry({0, 0, 7065, 2985});
    const std::pair<const char*, int> lists[] = {{"c", 7}, {"a", 3}, {"b", 5}};
    for (const auto& [name, tab] : lists) {
        DropDownList& l = surface->create_list(name, *surface);
        l.append("x");
        l.set_tab_index(tab);
    }
    Label& label = surface->create_label("lab", *surface);
    label.set_tab_index(4);
    auto* top = static_cast<QWidget*>(surface->native_handle());
    top->show();
    QApplication::setActiveWindow(top);
    ASSERT_TRUE(QTest::qWaitForWindowActive(top));
    auto* a = top->findChild<QComboBox*>("a");
    a->setFocus();
    std::vector<QString> visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget()->objectName());
    }
    EXPECT_EQ(visited, (std::vector<QString>{"a", "b", "c", "a"}));
}

TEST(QtToolkit, AHostDestroyingTheWidgetsLeavesFailuresNotCrashes) {
    auto surface = qt_toolkit()->create_surface("UserControl");
    DropDownList& list = surface->create_list("list", *surface);
    Label& label = surface->create_label("label", *surface);
    list.append("x");
    {
        QWidget host;
        static_cast<QWidget*>(surface->native_handle())->setParent(&host);
    }  // the host window takes the surface's widgets with it
    EXPECT_EQ(surface->native_handle(), nullptr);
    try {
        list.set_text("x");
        ADD_FAILURE() << "no failure from a destroyed list";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), error_number(Error::object_not_set));
    }
    EXPECT_THROW((void)label.caption(), RuntimeError);
    EXPECT_TRUE(surface->focus_chain().empty());
}  // and the surface's own destruction must not delete them twice

}  // namespace
}  // namespace pelmora::forms::test
