// The Win32 backend of the forms toolkit on a real window system (Wine under Xvfb in the test
// command): native windows mirror the in-memory form, a person's pick (CBN_SELCHANGE) is the click,
// code raises none, colours come from WM_CTLCOLOR*, Tab visits the lists by tab index.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pelmora/forms/toolkit.hpp"
#include "pelmora/forms/win32.hpp"

namespace forms = pelmora::forms;
namespace win32 = pelmora::forms::win32;

namespace {

std::wstring class_of(HWND w) {
    wchar_t name[64] = {};
    GetClassNameW(w, name, 64);
    return name;
}

std::wstring text_of(HWND w) {
    wchar_t text[256] = {};
    GetWindowTextW(w, text, 256);
    return text;
}

// Position of a window in its parent's client pixels.
RECT placed(HWND w) {
    RECT r{};
    GetWindowRect(w, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(w), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::vector<std::wstring> combo_items(HWND combo) {
    std::vector<std::wstring> out;
    const auto n = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        wchar_t item[128] = {};
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
        out.emplace_back(item);
    }
    return out;
}

void pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

// A person's pick as the list itself reports it: the selection changes, then CBN_SELCHANGE goes
// to the list's parent.
void person_picks(HWND combo, WPARAM index) {
    SendMessageW(combo, CB_SETCURSEL, index, 0);
    SendMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
}

// One visible top-level window for the whole run (Wine without a window manager takes seconds to
// destroy one); each test places its form in a child window of its own.
HWND shared_top_level() {
    static HWND top = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 400, nullptr,
                                      nullptr, nullptr, nullptr);
    return top;
}

class Win32Form : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(shared_top_level(), nullptr);
        top_ = CreateWindowExW(0, L"STATIC", L"container", WS_CHILD | WS_VISIBLE, 0, 0, 600, 360, shared_top_level(),
                               nullptr, nullptr, nullptr);
        ASSERT_NE(top_, nullptr);
        HDC dc = GetDC(top_);
        dpi_x_ = GetDeviceCaps(dc, LOGPIXELSX);
        dpi_y_ = GetDeviceCaps(dc, LOGPIXELSY);
        ReleaseDC(top_, dc);

        surface_ = win32::toolkit().create_surface("UserControl");
        surface_->set_geometry({0, 0, 7065, 2985});
        surface_->set_colours(forms::Colour::window_background(), forms::Colour::toolkit_default());
        surface_->set_failure_sink([this](const forms::RuntimeError& e) { failures_.push_back(e.number()); });

        base_ = &surface_->create_list("Combobase", *surface_);
        base_->set_geometry({3000, 120, 2175, 315});
        base_->set_tab_index(11);
        base_->set_colours(forms::Colour::rgb(192, 192, 255), forms::Colour::rgb(0, 0, 0));
        for (const char* item : {"Australia", "New Zealand", "Sweden", "United Kingdom"}) base_->append(item);
        base_->set_text("United Kingdom");

        sex_ = &surface_->create_list("Combosex", *surface_);
        sex_->set_geometry({4800, 1695, 1095, 315});
        sex_->set_tab_index(3);
        sex_->append("Male");
        sex_->append("Female");
        sex_->set_text("Female");

        caption_ = &surface_->create_label("Label9", *surface_);
        caption_->set_geometry({1080, 165, 1815, 255});
        caption_->set_tab_index(20);
        caption_->set_caption("Custom base");
        caption_->set_alignment(forms::Alignment::right);
        caption_->set_colours(forms::Colour::window_background(), forms::Colour::window_text());

        frame_ = &surface_->create_frame("Frame1", *surface_);
        frame_->set_geometry({4320, 2100, 2535, 615});
        frame_->set_colours(forms::Colour::window_background(), forms::Colour::toolkit_default());
        output_ = &surface_->create_label("output_label", *frame_);
        output_->set_geometry({1780, 240, 495, 255});
        output_->set_tab_index(2);
        output_->set_caption("56");
        output_->set_alignment(forms::Alignment::centre);
        output_->set_colours(forms::Colour::rgb(255, 192, 192), forms::Colour::rgb(0, 0, 0));

        window_ = win32::window_side(*surface_);
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        surface_.reset();
        if (top_ != nullptr) DestroyWindow(top_);
        pump();
    }

    HWND show() {
        const SIZE size = window_->natural_size(dpi_x_, dpi_y_);
        const RECT at{10, 20, 10 + size.cx, 20 + size.cy};
        HWND w = window_->create_window(top_, at);
        EXPECT_NE(w, nullptr) << "error " << GetLastError();
        pump();
        return w;
    }
    HWND child(const wchar_t* cls, int index) const {
        HWND found = nullptr;
        int seen = 0;
        for (HWND w = GetWindow(window_->window(), GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT))
            if (class_of(w) == cls && seen++ == index) found = w;
        return found;
    }
    [[nodiscard]] HWND native(forms::Control& c) const { return static_cast<HWND>(c.native_handle()); }
    [[nodiscard]] int px(int twips) const { return forms::twips_to_pixels(twips, dpi_x_); }
    [[nodiscard]] int py(int twips) const { return forms::twips_to_pixels(twips, dpi_y_); }

    HWND top_ = nullptr;
    int dpi_x_ = 96;
    int dpi_y_ = 96;
    std::unique_ptr<forms::Surface> surface_;
    win32::SurfaceWindow* window_ = nullptr;
    forms::DropDownList* base_ = nullptr;
    forms::DropDownList* sex_ = nullptr;
    forms::Label* caption_ = nullptr;
    forms::Frame* frame_ = nullptr;
    forms::Label* output_ = nullptr;
    std::vector<int> failures_;
};

TEST_F(Win32Form, NoWindowUntilAContainerGivesAParent) {
    EXPECT_EQ(win32::toolkit().name(), "win32");
    EXPECT_EQ(forms::process_toolkit().name(), "win32");
    EXPECT_EQ(window_->window(), nullptr);
    EXPECT_EQ(base_->native_handle(), nullptr);
    EXPECT_EQ(base_->text(), "United Kingdom");
    const SIZE size = window_->natural_size(96, 96);
    EXPECT_EQ(size.cx, 471);
    EXPECT_EQ(size.cy, 199);
}

TEST_F(Win32Form, ControlsArePlacedFromTheirTwipsByTheWindowsDpi) {
    const long before = win32::live_windows();
    HWND surface = show();
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(win32::live_windows(), before + 1);
    EXPECT_EQ(GetParent(surface), top_);
    EXPECT_EQ(native(*surface_), surface);

    struct Expect {
        forms::Control* control;
        const wchar_t* cls;
        forms::Rect twips;
    };
    const Expect table[] = {
        {base_, L"ComboBox", {3000, 120, 2175, 315}},  {sex_, L"ComboBox", {4800, 1695, 1095, 315}},
        {caption_, L"Static", {1080, 165, 1815, 255}}, {frame_, L"PelmoraFormFrame", {4320, 2100, 2535, 615}},
        {output_, L"Static", {1780, 240, 495, 255}},
    };
    for (const Expect& e : table) {
        SCOPED_TRACE(e.control->name());
        HWND w = native(*e.control);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(_wcsicmp(class_of(w).c_str(), e.cls), 0) << class_of(w).c_str();
        const RECT r = placed(w);
        EXPECT_EQ(r.left, px(e.twips.left));
        EXPECT_EQ(r.top, py(e.twips.top));
        EXPECT_EQ(r.right - r.left, px(e.twips.width));
        EXPECT_EQ(r.bottom - r.top, py(e.twips.height));
        if (e.control->kind() != forms::ControlKind::frame) {  // a frame shows no text
            // MS Sans Serif at 8 points for this window's DPI, the font the twips layout is made for.
            LOGFONTW f{};
            const auto font = reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0));
            ASSERT_EQ(GetObjectW(font, sizeof f, &f), static_cast<int>(sizeof f));
            EXPECT_STREQ(f.lfFaceName, L"MS Sans Serif");
            EXPECT_EQ(f.lfHeight, -MulDiv(8, dpi_y_, 72));
        }
        // The control's name is on its window, where a container finds it.
        wchar_t name[64] = {};
        const auto atom = static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(GetPropW(w, L"PelmoraFormName")));
        ASSERT_GT(GlobalGetAtomNameW(atom, name, 64), 0U);
        EXPECT_EQ(std::wstring(name), forms::win32::to_wide(e.control->name()));
    }
    EXPECT_EQ(GetParent(native(*output_)), native(*frame_));
    EXPECT_EQ(GetParent(native(*base_)), surface);
}

TEST_F(Win32Form, WindowsShowTheFormsData) {
    show();
    EXPECT_EQ(combo_items(native(*base_)),
              (std::vector<std::wstring>{L"Australia", L"New Zealand", L"Sweden", L"United Kingdom"}));
    EXPECT_EQ(SendMessageW(native(*base_), CB_GETCURSEL, 0, 0), 3);
    EXPECT_EQ(text_of(native(*caption_)), L"Custom base");
    EXPECT_EQ(text_of(native(*output_)), L"56");

    const auto style = [&](forms::Control& c) { return GetWindowLongPtrW(native(c), GWL_STYLE); };
    EXPECT_EQ(style(*caption_) & SS_TYPEMASK, SS_RIGHT);
    EXPECT_EQ(style(*output_) & SS_TYPEMASK, SS_CENTER);
    EXPECT_EQ(style(*base_) & 0x3, CBS_DROPDOWNLIST);
    EXPECT_NE(style(*base_) & WS_TABSTOP, 0);
    EXPECT_EQ(style(*caption_) & WS_TABSTOP, 0);

    // Changes made while the form is on screen reach the windows at once.
    output_->set_caption("41");
    EXPECT_EQ(text_of(native(*output_)), L"41");
    output_->set_alignment(forms::Alignment::left);
    EXPECT_EQ(style(*output_) & SS_TYPEMASK, SS_LEFT);
    sex_->clear();
    EXPECT_EQ(SendMessageW(native(*sex_), CB_GETCOUNT, 0, 0), 0);
    sex_->append("Female");
    sex_->set_text("Female");
    EXPECT_EQ(combo_items(native(*sex_)), std::vector<std::wstring>{L"Female"});
    EXPECT_EQ(SendMessageW(native(*sex_), CB_GETCURSEL, 0, 0), 0);
    sex_->set_text("");
    EXPECT_EQ(SendMessageW(native(*sex_), CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(sex_->text(), "");
}

TEST_F(Win32Form, APersonsPickIsTheClickAndCodeRaisesNone) {
    int clicks = 0;
    std::string seen;
    base_->on_click([&] {
        ++clicks;
        seen = base_->text();
    });
    show();
    base_->set_text("Sweden");
    pump();
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(SendMessageW(native(*base_), CB_GETCURSEL, 0, 0), 2);

    person_picks(native(*base_), 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(seen, "New Zealand");
    EXPECT_EQ(base_->text(), "New Zealand");

    // Picking the item already picked is a click too; other notifications are not.
    person_picks(native(*base_), 1);
    EXPECT_EQ(clicks, 2);
    SendMessageW(window_->window(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(native(*base_)), CBN_DROPDOWN),
                 reinterpret_cast<LPARAM>(native(*base_)));
    EXPECT_EQ(clicks, 2);
}

TEST_F(Win32Form, AFailingHandlerStopsAtTheToolkitAndTheFormStaysUsable) {
    int runs = 0;
    sex_->on_click([&] {
        ++runs;
        output_->set_caption("changed");
        throw forms::RuntimeError(6, "Overflow");
    });
    show();
    person_picks(native(*sex_), 0);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(failures_, std::vector<int>{6});
    EXPECT_EQ(sex_->text(), "Male");
    sex_->on_click([&] { throw std::bad_alloc(); });
    person_picks(native(*sex_), 1);
    EXPECT_EQ(failures_, (std::vector<int>{6, 7}));
    EXPECT_EQ(sex_->text(), "Female");
}

TEST_F(Win32Form, ColoursComeFromTheTableAndTheSystem) {
    show();
    struct Case {
        UINT message;
        HWND from;
        COLORREF background;
        COLORREF text;
    };
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetComboBoxInfo(native(*base_), &info));
    const Case cases[] = {
        {WM_CTLCOLOREDIT, native(*base_), RGB(192, 192, 255), RGB(0, 0, 0)},
        {WM_CTLCOLORSTATIC, native(*base_), RGB(192, 192, 255), RGB(0, 0, 0)},
        {WM_CTLCOLORLISTBOX, info.hwndList, RGB(192, 192, 255), RGB(0, 0, 0)},
        {WM_CTLCOLORSTATIC, native(*caption_), GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_WINDOWTEXT)},
        {WM_CTLCOLORSTATIC, native(*output_), RGB(255, 192, 192), RGB(0, 0, 0)},
    };
    for (const Case& c : cases) {
        HDC dc = GetDC(c.from);
        const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(
            GetParent(c.from) == nullptr || c.from == info.hwndList ? window_->window() : GetParent(c.from), c.message,
            reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(c.from)));
        LOGBRUSH lb{};
        ASSERT_NE(brush, nullptr);
        ASSERT_NE(GetObjectW(brush, sizeof lb, &lb), 0);
        EXPECT_EQ(lb.lbColor, c.background) << c.message;
        EXPECT_EQ(GetBkColor(dc), c.background);
        EXPECT_EQ(GetTextColor(dc), c.text);
        ReleaseDC(c.from, dc);
    }
}

TEST_F(Win32Form, ColoursArePaintedOnScreen) {
    HWND surface = show();
    ASSERT_NE(surface, nullptr);
    RedrawWindow(shared_top_level(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    pump();
    HDC screen = GetDC(nullptr);
    const auto at = [&](HWND w, int x, int y) {
        POINT p{x, y};
        ClientToScreen(w, &p);
        return GetPixel(screen, p.x, p.y);
    };
    RECT list{};
    GetClientRect(native(*base_), &list);
    // The closed list's field right of its text, left of its button; the result label; the surface.
    EXPECT_EQ(at(native(*base_), list.right - 30, list.bottom / 2), RGB(192, 192, 255));
    EXPECT_EQ(at(native(*output_), 1, 1), RGB(255, 192, 192));
    EXPECT_EQ(at(surface, 1, 1), GetSysColor(COLOR_WINDOW));
    RECT frame{};
    GetClientRect(native(*frame_), &frame);
    EXPECT_NE(at(native(*frame_), 0, frame.bottom / 2), GetSysColor(COLOR_WINDOW)) << "the frame's etched edge";
    ReleaseDC(nullptr, screen);
}

TEST_F(Win32Form, TabVisitsTheListsByTabIndexOnly) {
    forms::DropDownList& eth = surface_->create_list("Comboeth", *surface_);
    eth.set_geometry({2040, 1695, 1455, 315});
    eth.set_tab_index(4);
    show();
    HWND surface = window_->window();
    std::vector<HWND> visited;
    HWND at = native(*sex_);
    for (int i = 0; i < 3; ++i) {
        visited.push_back(at);
        at = GetNextDlgTabItem(surface, at, FALSE);
    }
    EXPECT_EQ(visited, (std::vector<HWND>{native(*sex_), native(eth), native(*base_)}));
    EXPECT_EQ(at, native(*sex_));  // and round again

    // Tab pressed in a list goes through the surface's dialog navigation.
    SetFocus(native(*sex_));
    MSG tab{native(*sex_), WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    EXPECT_TRUE(window_->translate_message(tab));
    EXPECT_EQ(GetFocus(), native(eth));
    MSG elsewhere{shared_top_level(), WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    EXPECT_FALSE(window_->translate_message(elsewhere));
}

TEST_F(Win32Form, DestroyingTheWindowKeepsTheFormsData) {
    int destroyed = 0;
    window_->on_window_destroyed([&] { ++destroyed; });
    const long before = win32::live_windows();
    show();
    person_picks(native(*base_), 2);
    window_->destroy_window();
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(window_->window(), nullptr);
    EXPECT_EQ(base_->native_handle(), nullptr);
    EXPECT_EQ(win32::live_windows(), before);
    EXPECT_EQ(base_->text(), "Sweden");
    base_->set_text("Australia");  // no window: data only

    // Shown again, under the same parent, it shows what the form holds now.
    HWND again = show();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(SendMessageW(native(*base_), CB_GETCURSEL, 0, 0), 0);

    // A container that destroys its own window takes ours with it; we hear of it.
    DestroyWindow(top_);
    top_ = nullptr;
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(window_->window(), nullptr);
    EXPECT_EQ(win32::live_windows(), before);
    EXPECT_EQ(base_->text(), "Australia");
}

}  // namespace
