// Pelmora placed by a container nobody here wrote: atl100's "AtlAxWin100" window, given the ProgID
// as its text, creates the registered control, activates it in place and sizes it. The checks find
// the form's windows the way any program would and act as a person does: a pick selects the item
// and the list tells its parent (CBN_SELCHANGE).
//
//   pelmora-activex-host.exe PROGID [--screenshot READY_FILE DONE_FILE]
// With --screenshot, once the checks are done the host writes the screen rectangle of its window
// into READY_FILE and keeps the window up until DONE_FILE exists (the test script takes the picture
// in between).

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <initguid.h>  // this program defines the identifiers it uses

#include "pelmora_idl.h"

namespace {

struct Options {
    std::wstring progid;
    std::wstring ready_file;
    std::wstring done_file;
};
Options options;

using AxWinInit = BOOL(WINAPI*)();
using AxGetControl = HRESULT(WINAPI*)(HWND, IUnknown**);

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
std::string narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }  // ASCII texts only

void pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

// The form as the control's layout fixes it: name, twips rectangle relative to the container.
struct ExpectedList {
    const char* name;
    int left, top, width, height;
    int count;
    const wchar_t* first_item;
    const wchar_t* picked;
};
const ExpectedList lists[] = {
    {"Combobase", 3000, 120, 2175, 315, 4, L"Australia", L"United Kingdom"},
    {"Combobwt", 4800, 1215, 1095, 315, 94, L"400", L"3500"},
    {"Combogd", 6120, 735, 615, 315, 7, L"0", L"0"},
    {"Combogw", 4800, 735, 735, 315, 25, L"20", L"40"},
    {"Combowt", 2040, 1215, 1095, 315, 121, L"30", L"65"},
    {"Comboht", 2040, 735, 1095, 315, 61, L"140", L"165"},
    {"Combopar", 2040, 2175, 1095, 315, 5, L"0", L"0"},
    {"Comboeth", 2040, 1695, 1455, 315, 10, L"European", L"European"},
    {"Combosex", 4800, 1695, 1095, 315, 2, L"Male", L"Female"},
};
struct ExpectedLabel {
    const wchar_t* caption;
    bool in_frame;
    int left, top, width, height;
    LONG align;  // SS_LEFT, SS_RIGHT or SS_CENTER
};
const ExpectedLabel labels[] = {
    {L"Customised centile =", true, 240, 270, 1575, 255, SS_LEFT},
    {L"Custom base", false, 1080, 165, 1815, 255, SS_RIGHT},
    {L"Days", false, 5520, 780, 495, 255, SS_RIGHT},
    {L"Birthweight (g)", false, 3480, 1260, 1215, 255, SS_RIGHT},
    {L"Gestation:  Weeks", false, 3120, 780, 1575, 255, SS_RIGHT},
    {L"Booking weight (kg)", false, 360, 1260, 1575, 255, SS_RIGHT},
    {L"Maternal height (cm)", false, 360, 780, 1575, 255, SS_RIGHT},
    {L"Sex", false, 3480, 1740, 1215, 255, SS_RIGHT},
    {L"Ethnic group", false, 720, 1740, 1215, 255, SS_RIGHT},
    {L"Parity at booking", false, 720, 2220, 1215, 255, SS_RIGHT},
};
constexpr int frame_left = 4320, frame_top = 2100, frame_width = 2535, frame_height = 615;
constexpr int output_left = 1780, output_top = 240, output_width = 495, output_height = 255;
constexpr int surface_width = 7065, surface_height = 2985;

// The hosted control and the windows found under it, shared by every test.
struct Hosted {
    HMODULE atl = nullptr;
    HWND top = nullptr;
    HWND ax = nullptr;
    HWND surface = nullptr;
    HWND frame = nullptr;
    HWND output = nullptr;
    IUnknown* control = nullptr;
    _Pelmora* pelmora = nullptr;
    int dpi_x = 96;
    int dpi_y = 96;
    std::map<std::string, HWND> list;
    std::vector<HWND> statics;
    std::wstring first_shown;  ///< the result label as the container first showed it
};
Hosted hosted;

int px(int twips) { return static_cast<int>(std::lround(twips * hosted.dpi_x / 1440.0)); }
int py(int twips) { return static_cast<int>(std::lround(twips * hosted.dpi_y / 1440.0)); }

RECT placed(HWND w) {
    RECT r{};
    GetWindowRect(w, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(w), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::vector<std::wstring> items(HWND combo) {
    std::vector<std::wstring> out;
    const auto n = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        const auto len = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring item(static_cast<std::size_t>(len) + 1, L'\0');
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data()));
        item.resize(static_cast<std::size_t>(len));
        out.push_back(item);
    }
    return out;
}

std::wstring picked(HWND combo) {
    const auto i = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (i == CB_ERR) return {};
    return items(combo).at(static_cast<std::size_t>(i));
}

std::wstring shown() { return text_of(hosted.output); }

// A person's pick: the item is selected and the list tells its parent, as the list itself does.
void pick(const char* list, const std::wstring& text) {
    HWND combo = hosted.list.at(list);
    const auto index =
        SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
    ASSERT_NE(index, CB_ERR) << list << " has no item " << narrow(text);
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
    pump();
}

BOOL CALLBACK collect(HWND w, LPARAM) {
    const std::wstring cls = class_of(w);
    if (_wcsicmp(cls.c_str(), L"ComboBox") == 0) {
        // Which list it is: the one the layout puts at this place.
        const RECT r = placed(w);
        for (const ExpectedList& s : lists)
            if (r.left == px(s.left) && r.top == py(s.top)) hosted.list[s.name] = w;
    } else if (_wcsicmp(cls.c_str(), L"Static") == 0) {
        hosted.statics.push_back(w);
    } else if (cls == L"PelmoraFormFrame") {
        hosted.frame = w;
    }
    return TRUE;
}

class Host : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_EQ(OleInitialize(nullptr), S_OK);
        hosted.atl = LoadLibraryW(L"atl100.dll");
        ASSERT_NE(hosted.atl, nullptr);
        const auto init =
            reinterpret_cast<AxWinInit>(reinterpret_cast<void*>(GetProcAddress(hosted.atl, "AtlAxWinInit")));
        const auto get =
            reinterpret_cast<AxGetControl>(reinterpret_cast<void*>(GetProcAddress(hosted.atl, "AtlAxGetControl")));
        ASSERT_NE(init, nullptr);
        ASSERT_NE(get, nullptr);
        ASSERT_TRUE(init());

        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        wc.lpszClassName = L"PelmoraTestContainer";
        ASSERT_NE(RegisterClassExW(&wc), 0);
        hosted.top = CreateWindowExW(0, wc.lpszClassName, L"Pelmora in AtlAxWin100", WS_POPUP | WS_VISIBLE, 0, 0, 100,
                                     100, nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(hosted.top, nullptr);
        HDC dc = GetDC(hosted.top);
        hosted.dpi_x = GetDeviceCaps(dc, LOGPIXELSX);
        hosted.dpi_y = GetDeviceCaps(dc, LOGPIXELSY);
        ReleaseDC(hosted.top, dc);
        // The container's window has the control's natural size; the top window a margin around it.
        const int w = px(surface_width), h = py(surface_height);
        SetWindowPos(hosted.top, nullptr, 0, 0, w + 16, h + 16, SWP_NOZORDER);
        hosted.ax = CreateWindowExW(0, L"AtlAxWin100", options.progid.c_str(), WS_CHILD | WS_VISIBLE, 8, 8, w, h,
                                    hosted.top, nullptr, nullptr, nullptr);
        ASSERT_NE(hosted.ax, nullptr);
        pump();
        ASSERT_EQ(get(hosted.ax, &hosted.control), S_OK) << "AtlAxWin100 holds no control";
        ASSERT_EQ(hosted.control->QueryInterface(IID__Pelmora, reinterpret_cast<void**>(&hosted.pelmora)), S_OK);

        for (HWND c = GetWindow(hosted.ax, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
            if (class_of(c) == L"PelmoraFormSurface") hosted.surface = c;
        ASSERT_NE(hosted.surface, nullptr) << "the control made no window in the container's";
        EnumChildWindows(hosted.surface, collect, 0);
        for (HWND s : hosted.statics)
            if (GetParent(s) == hosted.frame && placed(s).left == px(output_left)) hosted.output = s;
        ASSERT_NE(hosted.output, nullptr);
        hosted.first_shown = text_of(hosted.output);
        UpdateWindow(hosted.top);
        pump();
    }
    void TearDown() override {
        if (hosted.pelmora != nullptr) hosted.pelmora->Release();
        if (hosted.control != nullptr) hosted.control->Release();
        hosted.pelmora = nullptr;
        hosted.control = nullptr;
        if (!options.ready_file.empty() && hosted.output != nullptr) take_picture();
        if (hosted.ax != nullptr) unload_when_gone();
    }

private:
    // The library stays while the control lives in the container; when the container's window goes,
    // the container closes and releases the control, and the library may be unloaded.
    static void unload_when_gone() {
        using CanUnload = HRESULT(STDAPICALLTYPE*)();
        const HMODULE dll = GetModuleHandleW(L"pelmora.dll");
        ASSERT_NE(dll, nullptr);
        const auto can_unload =
            reinterpret_cast<CanUnload>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
        ASSERT_NE(can_unload, nullptr);
        EXPECT_EQ(can_unload(), S_FALSE) << "while the control is in its container";
        DestroyWindow(hosted.ax);
        hosted.ax = nullptr;
        pump();
        EXPECT_EQ(can_unload(), S_OK) << "after the container closed and released the control";
    }

    // The picture shows the form as a person first sees it.
    static void take_picture() {
        pick("Combobase", L"United Kingdom");
        for (const ExpectedList& s : lists) pick(s.name, s.picked);
        SetFocus(hosted.surface);
        if (shown() != L"56") std::fprintf(stderr, "the form does not show its first result\n");
        RedrawWindow(hosted.top, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        pump();
        RECT r{};
        GetWindowRect(hosted.top, &r);
        if (FILE* f = _wfopen(options.ready_file.c_str(), L"w")) {
            std::fprintf(f, "%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
            std::fclose(f);
        }
        for (int waited = 0; waited < 30000; waited += 50) {
            pump();
            if (GetFileAttributesW(options.done_file.c_str()) != INVALID_FILE_ATTRIBUTES) break;
            Sleep(50);
        }
    }
};

// ---- the control in its container --------------------------------------------------------------

TEST(Container, ActivatesTheControlInPlaceAtTheContainersSize) {
    RECT r{};
    GetWindowRect(hosted.surface, &r);
    RECT ax{};
    GetWindowRect(hosted.ax, &ax);
    EXPECT_EQ(r.left, ax.left);
    EXPECT_EQ(r.top, ax.top);
    EXPECT_EQ(r.right - r.left, px(surface_width));
    EXPECT_EQ(r.bottom - r.top, py(surface_height));
    EXPECT_TRUE(IsWindowVisible(hosted.surface));

    IOleInPlaceObject* in_place = nullptr;
    ASSERT_EQ(hosted.control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&in_place)), S_OK);
    HWND w = nullptr;
    EXPECT_EQ(in_place->GetWindow(&w), S_OK);
    EXPECT_EQ(w, hosted.surface);
    in_place->Release();

    // The container resizes its window: the control follows (SetObjectRects).
    SetWindowPos(hosted.ax, nullptr, 0, 0, px(surface_width) + 20, py(surface_height) + 10, SWP_NOMOVE | SWP_NOZORDER);
    pump();
    GetWindowRect(hosted.surface, &r);
    EXPECT_EQ(r.right - r.left, px(surface_width) + 20);
    EXPECT_EQ(r.bottom - r.top, py(surface_height) + 10);
    SetWindowPos(hosted.ax, nullptr, 0, 0, px(surface_width), py(surface_height), SWP_NOMOVE | SWP_NOZORDER);
    pump();

    IOleObject* ole = nullptr;
    ASSERT_EQ(hosted.control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)), S_OK);
    DWORD status = 0;
    EXPECT_EQ(ole->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, 0x20191U);
    CLSID clsid{};
    EXPECT_EQ(ole->GetUserClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Pelmora);
    ole->Release();
}

TEST(Container, NineListsWithTheirItemsAndFirstPicks) {
    ASSERT_EQ(hosted.list.size(), 9U);
    for (const ExpectedList& s : lists) {
        SCOPED_TRACE(s.name);
        HWND combo = hosted.list.at(s.name);
        const RECT r = placed(combo);
        EXPECT_EQ(r.right - r.left, px(s.width));
        EXPECT_EQ(r.bottom - r.top, py(s.height));
        EXPECT_EQ(GetWindowLongPtrW(combo, GWL_STYLE) & 0x3, CBS_DROPDOWNLIST);
        const auto all = items(combo);
        EXPECT_EQ(static_cast<int>(all.size()), s.count);
        ASSERT_FALSE(all.empty());
        EXPECT_EQ(all.front(), s.first_item);
        EXPECT_EQ(picked(combo), s.picked);
    }
    EXPECT_EQ(items(hosted.list.at("Combobwt")).back(), L"Over 5000");
    EXPECT_EQ(
        items(hosted.list.at("Comboeth")),
        (std::vector<std::wstring>{L"European", L"Indian", L"Pakistani", L"Bangladeshi", L"Afro-Caribbean", L"African",
                                   L"Middle Eastern", L"Far East Asian", L"South East Asian", L"Other"}));
    EXPECT_EQ(items(hosted.list.at("Combopar")), (std::vector<std::wstring>{L"0", L"1", L"2", L"3", L"4 or more"}));
}

TEST(Container, CaptionsWhereTheLayoutPutsThem) {
    for (const ExpectedLabel& s : labels) {
        SCOPED_TRACE(narrow(s.caption));
        HWND found = nullptr;
        for (HWND w : hosted.statics)
            if (text_of(w) == s.caption) found = w;
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(GetParent(found), s.in_frame ? hosted.frame : hosted.surface);
        const RECT r = placed(found);
        EXPECT_EQ(r.left, px(s.left));
        EXPECT_EQ(r.top, py(s.top));
        EXPECT_EQ(r.right - r.left, px(s.width));
        EXPECT_EQ(r.bottom - r.top, py(s.height));
        EXPECT_EQ(GetWindowLongPtrW(found, GWL_STYLE) & SS_TYPEMASK, s.align);
    }
    const RECT f = placed(hosted.frame);
    EXPECT_EQ(f.left, px(frame_left));
    EXPECT_EQ(f.top, py(frame_top));
    EXPECT_EQ(f.right - f.left, px(frame_width));
    EXPECT_EQ(f.bottom - f.top, py(frame_height));
    const RECT o = placed(hosted.output);
    EXPECT_EQ(o.top, py(output_top));
    EXPECT_EQ(o.right - o.left, px(output_width));
    EXPECT_EQ(o.bottom - o.top, py(output_height));
    EXPECT_EQ(GetWindowLongPtrW(hosted.output, GWL_STYLE) & SS_TYPEMASK, SS_CENTER);
}

// Each caption as the label draws it: in the label's own font, measured by the system, on one line
// inside the label's window (a wider text wraps or is clipped). The widths go to the log.
TEST(Container, EveryCaptionFitsItsLabelOnOneLineInTheFormsFont) {
    for (HWND w : hosted.statics) {
        const std::wstring text = text_of(w);
        if (text.empty()) continue;
        SCOPED_TRACE(narrow(text));
        const auto font = reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0));
        ASSERT_NE(font, nullptr);
        HDC dc = GetDC(w);
        const HGDIOBJ old = SelectObject(dc, font);
        wchar_t face[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, face);
        SIZE extent{};
        ASSERT_TRUE(GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent));
        RECT drawn{};
        const int one_line = DrawTextW(dc, text.c_str(), -1, &drawn, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        RECT wrapped{0, 0, 0, 0};
        RECT client{};
        GetClientRect(w, &client);
        wrapped.right = client.right;
        const int lines_height =
            DrawTextW(dc, text.c_str(), -1, &wrapped, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
        SelectObject(dc, old);
        ReleaseDC(w, dc);
        std::printf("caption \"%s\": %ld of %ld px wide, %ld of %ld px high, in %s\n", narrow(text).c_str(), extent.cx,
                    client.right, extent.cy, client.bottom, narrow(face).c_str());
        EXPECT_STREQ(face, L"MS Sans Serif") << "the system gave another face for the form's font";
        EXPECT_LE(extent.cx, client.right);
        EXPECT_LE(extent.cy, client.bottom);
        EXPECT_EQ(lines_height, one_line) << "the label breaks its caption over more than one line";
    }
}

TEST(Container, FiftySixBeforeAnyoneTouchesIt) { EXPECT_EQ(hosted.first_shown, L"56"); }

TEST(Container, ColoursOnScreen) {
    RedrawWindow(hosted.top, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    pump();
    HDC screen = GetDC(nullptr);
    const auto at = [&](HWND w, int x, int y) {
        POINT p{x, y};
        ClientToScreen(w, &p);
        return GetPixel(screen, p.x, p.y);
    };
    EXPECT_EQ(at(hosted.output, 1, 1), RGB(255, 192, 192)) << "the result's pale red";
    EXPECT_EQ(at(hosted.surface, 2, 2), GetSysColor(COLOR_WINDOW)) << "the surface in the window colour";
    const RECT base = placed(hosted.list.at("Comboeth"));
    // Inside the closed list's field, right of its text, left of its button: the lists' pale blue
    // (unless it has the focus, when the field shows the selection colour).
    SetFocus(hosted.surface);
    RedrawWindow(hosted.list.at("Comboeth"), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(at(hosted.list.at("Comboeth"), (base.right - base.left) - 30, (base.bottom - base.top) / 2),
              RGB(192, 192, 255));
    ReleaseDC(nullptr, screen);
}

TEST(Container, TabMovesThroughTheListsInTheirTabOrder) {
    const char* order[] = {"Combosex", "Comboeth", "Combopar", "Comboht",  "Combowt",
                           "Combogw",  "Combogd",  "Combobwt", "Combobase"};
    HWND at = hosted.list.at(order[0]);
    for (std::size_t i = 1; i < std::size(order); ++i) {
        at = GetNextDlgTabItem(hosted.surface, at, FALSE);
        EXPECT_EQ(at, hosted.list.at(order[i])) << "after " << order[i - 1];
    }
    // The same through the in-place active object, as a container passes its keys on.
    IOleInPlaceActiveObject* active = nullptr;
    ASSERT_EQ(hosted.control->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&active)), S_OK);
    SetFocus(hosted.list.at("Combosex"));
    MSG tab{hosted.list.at("Combosex"), WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    EXPECT_EQ(active->TranslateAccelerator(&tab), S_OK);
    EXPECT_EQ(GetFocus(), hosted.list.at("Comboeth"));
    active->Release();
}

// ---- a person's picks --------------------------------------------------------------------------

struct Case {
    const wchar_t* base;
    const wchar_t* bwt;
    const wchar_t* weeks;
    const wchar_t* wt;
    const wchar_t* ht;
    const wchar_t* sex;
    const wchar_t* eth;
    const wchar_t* par;
    const wchar_t* expect;  ///< the published centile rounded half up
};

// The worked examples of the four bases, entered through the lists (days always 0).
const Case cases[] = {
    {L"New Zealand", L"3500", L"40", L"70", L"165", L"Male", L"European", L"0", L"41"},              // 40.8892
    {L"New Zealand", L"3500", L"40", L"70", L"165", L"Male", L"Indian", L"0", L"55"},                // 54.9872
    {L"New Zealand", L"3500", L"40", L"70", L"165", L"Male", L"Tongan", L"0", L"31"},                // 30.7158
    {L"New Zealand", L"3500", L"40", L"70", L"165", L"Male", L"Other", L"0", L"40"},                 // 39.7196
    {L"New Zealand", L"3500", L"40", L"70", L"165", L"Female", L"European", L"0", L"52"},            // 51.6551
    {L"New Zealand", L"3500", L"40", L"30", L"165", L"Male", L"European", L"0", L"54"},              // 53.9984
    {L"New Zealand", L"3500", L"40", L"70", L"165", L"Male", L"European", L"4 or more", L"27"},      // 27.0978
    {L"United Kingdom", L"3500", L"40", L"64", L"163", L"Male", L"European", L"0", L"48"},           // 48.4398
    {L"United Kingdom", L"3000", L"38", L"80", L"150", L"Female", L"Indian", L"2", L"52"},           // 51.5967
    {L"United Kingdom", L"2500", L"37", L"45", L"170", L"Female", L"African", L"4 or more", L"16"},  // 16.4053
    {L"Sweden", L"3500", L"40", L"65", L"165", L"Male", L"Scandinavian", L"0", L"39"},               // 38.6519
    {L"Sweden", L"3200", L"39", L"40", L"170", L"Female", L"Phillipino", L"4 or more", L"14"},       // 14.2717
    {L"Sweden", L"2800", L"37", L"95", L"158", L"Male", L"N Vietnamese", L"4 or more", L"13"},       // 13.4276
    {L"Australia", L"3500", L"40", L"64", L"163", L"Male", L"European", L"0", L"47"},                // 46.6843
    {L"Australia", L"3000", L"38", L"80", L"150", L"Female", L"Indian/Pakistani", L"2", L"56"},      // 56.1270
    {L"Australia", L"4000", L"41", L"70", L"165", L"Male", L"Middle Eastern", L"3", L"66"},          // 65.7174
    {L"Australia", L"2500", L"37", L"45", L"170", L"Female", L"African", L"4 or more", L"32"},       // 31.6888
};

class Picks : public ::testing::TestWithParam<Case> {};

TEST_P(Picks, EveryPickRecalculatesAndTheLabelShowsTheRoundedCentile) {
    const Case& c = GetParam();
    pick("Combobase", c.base);
    pick("Combobwt", c.bwt);
    pick("Combogw", c.weeks);
    pick("Combogd", L"0");
    pick("Combowt", c.wt);
    pick("Comboht", c.ht);
    pick("Combosex", c.sex);
    pick("Combopar", c.par);
    pick("Comboeth", c.eth);
    EXPECT_EQ(shown(), c.expect);
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, Picks, ::testing::ValuesIn(cases));

TEST(Picking, ABaseRebuildsTheEthnicListAndPicksItsReferenceGroup) {
    struct Switch {
        const wchar_t* base;
        std::size_t count;
        const wchar_t* first;
        const wchar_t* last;
        const wchar_t* picked;
    };
    const Switch switches[] = {
        {L"Sweden", 27, L"Scandinavian", L"Other", L"Scandinavian"},
        {L"Australia", 4, L"African", L"Middle Eastern", L"European"},
        {L"New Zealand", 7, L"Chinese", L"Other", L"European"},
        {L"United Kingdom", 10, L"African", L"Other", L"European"},
    };
    HWND eth = hosted.list.at("Comboeth");
    for (const Switch& s : switches) {
        SCOPED_TRACE(narrow(s.base));
        pick("Combobase", s.base);
        const auto all = items(eth);
        ASSERT_EQ(all.size(), s.count);
        EXPECT_EQ(all.front(), s.first);
        EXPECT_EQ(all.back(), s.last);
        EXPECT_EQ(picked(eth), s.picked);
    }
    // Picking the base already chosen rebuilds its list and forgets the person's group.
    pick("Comboeth", L"Indian");
    pick("Combobase", L"United Kingdom");
    EXPECT_EQ(picked(eth), L"European");
    // Sweden's "Somali", then New Zealand: nothing Swedish is left.
    pick("Combobase", L"Sweden");
    pick("Comboeth", L"Somali");
    pick("Combobase", L"New Zealand");
    EXPECT_EQ(items(eth), (std::vector<std::wstring>{L"Chinese", L"European", L"Indian", L"Maori", L"Samoan", L"Tongan",
                                                     L"Other"}));
}

// The label always agrees with the control's own method for what the lists show.
TEST(Picking, AKeyPressInAListIsAPickToo) {
    pick("Combobase", L"United Kingdom");
    for (const auto& [list, text] : std::vector<std::pair<const char*, const wchar_t*>>{{"Combobwt", L"3500"},
                                                                                        {"Combogw", L"40"},
                                                                                        {"Combogd", L"0"},
                                                                                        {"Combowt", L"65"},
                                                                                        {"Comboht", L"165"},
                                                                                        {"Combosex", L"Female"},
                                                                                        {"Combopar", L"0"}})
        pick(list, text);
    ASSERT_EQ(shown(), L"56");
    // The person presses the down arrow in the weeks list: the list moves to 41 and says so itself.
    HWND weeks = hosted.list.at("Combogw");
    SetFocus(weeks);
    SendMessageW(weeks, WM_KEYDOWN, VK_DOWN, 0);
    SendMessageW(weeks, WM_KEYUP, VK_DOWN, 0);
    pump();
    EXPECT_EQ(picked(weeks), L"41");

    VARIANT args[7];
    const double values[] = {3500, 41 * 7, 65, 165};
    for (int i = 0; i < 4; ++i) {
        VariantInit(&args[i]);
        args[i].vt = VT_R8;
        args[i].dblVal = values[i];
    }
    const short codes[] = {0, 1, 0};  // female, European, parity 0
    for (int i = 0; i < 3; ++i) {
        VariantInit(&args[4 + i]);
        args[4 + i].vt = VT_I2;
        args[4 + i].iVal = codes[i];
    }
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(
        hosted.pelmora->custcentukn(&args[0], &args[1], &args[2], &args[3], &args[4], &args[5], &args[6], &result),
        S_OK);
    ASSERT_EQ(result.vt, VT_R8);
    EXPECT_EQ(shown(), std::to_wstring(static_cast<long>(std::floor(result.dblVal + 0.5))));
    EXPECT_NE(shown(), L"56");
    pick("Combogw", L"40");
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    int wargc = 0;
    LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
    std::vector<std::wstring> rest;
    for (int i = 1; wargv != nullptr && i < wargc; ++i)
        if (std::wstring_view(wargv[i]).rfind(L"--gtest", 0) != 0) rest.emplace_back(wargv[i]);
    LocalFree(wargv);
    if (rest.empty()) {
        std::fprintf(stderr, "usage: pelmora-activex-host PROGID [--screenshot READY_FILE DONE_FILE]\n");
        return 2;
    }
    options.progid = rest[0];
    if (rest.size() == 4 && rest[1] == L"--screenshot") {
        options.ready_file = rest[2];
        options.done_file = rest[3];
    }
    testing::AddGlobalTestEnvironment(new Host);
    return RUN_ALL_TESTS();
}
