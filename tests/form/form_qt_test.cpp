// The control's face on Qt (offscreen platform): what IOleWindow::GetWindow hands a host is the
// form's top-level widget, laid out, coloured and ordered as the control table says.

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "control.hpp"
#include "pelmora/form/layout.hpp"

namespace pelmora::form {
namespace {

QString q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

class FormOnQt : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(forms::qt_toolkit(), nullptr);
        top = static_cast<QWidget*>(control.window());
        ASSERT_NE(top, nullptr);
        dpi_x = QGuiApplication::primaryScreen()->logicalDotsPerInchX();
        dpi_y = QGuiApplication::primaryScreen()->logicalDotsPerInchY();
    }
    QRect pixels(forms::Rect r) const {
        return {forms::twips_to_pixels(r.left, dpi_x), forms::twips_to_pixels(r.top, dpi_y),
                forms::twips_to_pixels(r.width, dpi_x), forms::twips_to_pixels(r.height, dpi_y)};
    }
    QWidget* widget(std::string_view name) const { return top->findChild<QWidget*>(q(name)); }
    QString shown() const { return top->findChild<QLabel*>("output_label")->text(); }
    void show() {
        top->show();
        QApplication::setActiveWindow(top);
        ASSERT_TRUE(QTest::qWaitForWindowActive(top));
    }

    test::Control control;
    QWidget* top = nullptr;
    double dpi_x = 96;
    double dpi_y = 96;
};

QColor colour_of(forms::Colour c, const QWidget& w, QPalette::ColorRole system_role) {
    switch (c.kind) {
    case forms::Colour::Kind::rgb: return {c.red, c.green, c.blue};
    case forms::Colour::Kind::window_background: return QApplication::palette(&w).color(QPalette::Window);
    case forms::Colour::Kind::window_text: return QApplication::palette(&w).color(QPalette::WindowText);
    case forms::Colour::Kind::toolkit_default: return QApplication::palette(&w).color(system_role);
    }
    return {};
}

TEST_F(FormOnQt, EveryControlIsPlacedSizedAndCaptionedFromTheTable) {
    EXPECT_TRUE(top->isWindow());
    EXPECT_EQ(top->objectName(), q(surface_name));
    EXPECT_EQ(top->size(), pixels(surface_rect).size());
    for (const ControlRow& row : control_table) {
        SCOPED_TRACE(std::string(row.name));
        QWidget* w = widget(row.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), pixels(row.rect));
        EXPECT_EQ(w->parentWidget()->objectName(), q(row.container.empty() ? surface_name : row.container));
        switch (row.kind) {
        case Kind::list: {
            auto* box = qobject_cast<QComboBox*>(w);
            ASSERT_NE(box, nullptr);
            EXPECT_FALSE(box->isEditable());
            EXPECT_EQ(box->palette().color(QPalette::Button), colour_of(row.background, *w, QPalette::Button));
            EXPECT_EQ(box->palette().color(QPalette::ButtonText), colour_of(row.text, *w, QPalette::ButtonText));
            break;
        }
        case Kind::label: {
            auto* label = qobject_cast<QLabel*>(w);
            ASSERT_NE(label, nullptr);
            if (row.name != "output_label") {
                EXPECT_EQ(label->text(), q(row.caption));
            }
            const Qt::Alignment h = label->alignment() & Qt::AlignHorizontal_Mask;
            EXPECT_EQ(h, row.alignment == forms::Alignment::right    ? Qt::AlignRight
                         : row.alignment == forms::Alignment::centre ? Qt::AlignHCenter
                                                                     : Qt::AlignLeft);
            EXPECT_TRUE(label->autoFillBackground());
            EXPECT_EQ(label->palette().color(label->backgroundRole()), colour_of(row.background, *w, QPalette::Window));
            EXPECT_EQ(label->palette().color(label->foregroundRole()), colour_of(row.text, *w, QPalette::WindowText));
            EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
            break;
        }
        case Kind::frame:
            EXPECT_NE(qobject_cast<QFrame*>(w), nullptr);
            EXPECT_EQ(w->palette().color(w->backgroundRole()), colour_of(row.background, *w, QPalette::Window));
            EXPECT_EQ(w->focusPolicy(), Qt::NoFocus);
            break;
        }
    }
    EXPECT_EQ(shown(), "56");
    if (dpi_x == 96 && dpi_y == 96) {  // the offscreen platform: one literal check
        EXPECT_EQ(top->size(), QSize(471, 199));
        EXPECT_EQ(widget("Combobase")->geometry(), QRect(200, 8, 145, 21));
        EXPECT_EQ(widget("Label2")->geometry(), QRect(208, 52, 105, 17));
    }
}

std::vector<QString> tab_through(QWidget& start, int presses) {
    start.setFocus();
    std::vector<QString> visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < presses; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget()->objectName());
    }
    return visited;
}

const std::vector<QString> tab_order = {"Combosex", "Comboeth", "Combopar", "Comboht",   "Combowt",
                                        "Combogw",  "Combogd",  "Combobwt", "Combobase", "Combosex"};

TEST_F(FormOnQt, TabVisitsTheListsInTabIndexOrder) {
    show();
    EXPECT_EQ(tab_through(*widget("Combosex"), 9), tab_order);
}

TEST_F(FormOnQt, TabOrderSurvivesPlacementInAHostWindow) {
    QWidget host;
    top->setParent(&host);
    top->show();
    host.show();
    QApplication::setActiveWindow(&host);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    EXPECT_EQ(tab_through(*widget("Combosex"), 9), tab_order);
    top->setParent(nullptr);  // hand the form back before the host window goes
}

TEST_F(FormOnQt, APersonsPickRecalculates) {
    show();
    auto* base = top->findChild<QComboBox*>("Combobase");
    base->setFocus();
    // Keyboard choices on a closed list are picks: Up from "United Kingdom" is "Sweden".
    QTest::keyClick(base, Qt::Key_Up);
    EXPECT_EQ(base->currentText(), "Sweden");
    auto* eth = top->findChild<QComboBox*>("Comboeth");
    EXPECT_EQ(eth->count(), 27);
    EXPECT_EQ(eth->currentText(), "Scandinavian");
    const QString swedish = shown();

    QTest::keyClick(base, Qt::Key_Up);  // "New Zealand"
    auto* wt = top->findChild<QComboBox*>("Combowt");
    wt->setCurrentIndex(wt->findText("70"));
    Q_EMIT wt->activated(wt->currentIndex());
    auto* sex = top->findChild<QComboBox*>("Combosex");
    sex->setFocus();
    QTest::keyClick(sex, Qt::Key_Up);  // "Male"
    EXPECT_EQ(sex->currentText(), "Male");
    EXPECT_EQ(shown(), "41");
    EXPECT_NE(swedish, "41");

    // Choosing from code only is no pick: nothing recalculates.
    sex->setCurrentIndex(1);
    EXPECT_EQ(shown(), "41");
}

TEST_F(FormOnQt, AScreenshotShowsTheFormInItsColours) {
    show();
    const QImage image = top->grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size() / image.devicePixelRatio(), top->size());
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 8U) << "a blank picture";

    // Inside the result label, right of its centred text: the label's pale red.
    const QWidget* label = widget("output_label");
    const QPoint in_label = label->mapTo(top, QPoint(label->width() - 2, label->height() - 2));
    EXPECT_EQ(QColor(image.pixel(in_label * image.devicePixelRatio())), QColor(255, 192, 192));
    // Inside every list, left of its text: the list's own pale blue as a solid field.
    for (const char* name :
         {"Combobase", "Combobwt", "Combogd", "Combogw", "Combowt", "Comboht", "Combopar", "Comboeth", "Combosex"}) {
        SCOPED_TRACE(name);
        const QWidget* list = widget(name);
        const QPoint in_list = list->mapTo(top, QPoint(2, list->height() - 3));
        EXPECT_EQ(QColor(image.pixel(in_list * image.devicePixelRatio())), QColor(192, 192, 255));
    }
    // The surface itself, far from any control: the window colour.
    EXPECT_EQ(QColor(image.pixel(QPoint(2, top->height() - 3) * image.devicePixelRatio())),
              QApplication::palette(top).color(QPalette::Window));
}

}  // namespace
}  // namespace pelmora::form
