// pelmora-host.exe: the demo host on Windows, the same program as the Linux one. It creates the
// registered control and places it in ATL's container window (AtlAxWin100, or the system's older
// AtlAxWin) inside a window of its own, and works the form only as a container and a person do: it finds the form's
// windows by the names they carry, picks by selecting a list's item and telling the list's parent
// (CBN_SELCHANGE), reads the result label's window text and calls the methods through IDispatch.
//
//   pelmora-host [--library PATH]                    the window
//   pelmora-host [--library PATH] --screenshot FILE  draws the window into FILE (PNG), prints the
//                                                    result label; nothing appears on screen
//   pelmora-host [--library PATH] --chart FILE       writes the growth chart of the form's inputs (SVG)
//   pelmora-host [--library PATH] --script           commands on stdin, one answer line each
//
// --library PATH registers that pelmora.dll first, as `regsvr32 PATH` does; without it the control
// registered on the machine is used.

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>
#include <wincodec.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "pelmora/forms/win32.hpp"
#include "pelmora/text/utf.hpp"
#include "options.hpp"
#include "pelmora_idl_class.h"
#include "script.hpp"

namespace {

using namespace pelmora::host;

constexpr wchar_t prog_id[] = L"" PELMORA_VI_PROGID;
constexpr wchar_t host_class[] = L"PelmoraHost";

std::string utf8(std::wstring_view w) { return pelmora::text::to_utf8(w); }
std::wstring wide(std::string_view s) { return pelmora::text::from_utf8<wchar_t>(s); }

// What regsvr32 does: load the library and ask it to register itself.
HRESULT register_library(const std::wstring& path) {
    const HMODULE lib = LoadLibraryW(path.c_str());
    if (lib == nullptr) {
        std::fprintf(stderr, "pelmora-host: cannot load %s (error %lu)\n", utf8(path).c_str(), GetLastError());
        return CO_E_DLLNOTFOUND;
    }
    using Register = HRESULT(STDAPICALLTYPE*)();
    const auto reg = reinterpret_cast<Register>(reinterpret_cast<void*>(GetProcAddress(lib, "DllRegisterServer")));
    const HRESULT hr = reg != nullptr ? reg() : CO_E_ERRORINDLL;
    FreeLibrary(lib);  // COM loads it again for itself
    return hr;
}

void pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

LRESULT CALLBACK host_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wparam, lparam);
}

// ATL's container: its window class and AtlAxAttachControl, from ATL 10 (atl100.dll, as Wine and
// the Visual C++ 2010 runtime have it), else from the system's own atl.dll.
struct Atl {
    HMODULE module = nullptr;
    const wchar_t* window_class = nullptr;
    HRESULT(WINAPI* attach)(IUnknown*, HWND, IUnknown**) = nullptr;

    bool load() {
        struct Candidate {
            const wchar_t* dll;
            const wchar_t* window_class;
        };
        for (const Candidate c : {Candidate{L"atl100.dll", L"AtlAxWin100"}, Candidate{L"atl.dll", L"AtlAxWin"}}) {
            module = LoadLibraryW(c.dll);
            if (module == nullptr) continue;
            using Init = BOOL(WINAPI*)();
            const auto init = reinterpret_cast<Init>(reinterpret_cast<void*>(GetProcAddress(module, "AtlAxWinInit")));
            attach = reinterpret_cast<decltype(attach)>(
                reinterpret_cast<void*>(GetProcAddress(module, "AtlAxAttachControl")));
            if (init != nullptr && attach != nullptr && init() != FALSE) {
                window_class = c.window_class;
                return true;
            }
            FreeLibrary(module);
            module = nullptr;
        }
        return false;
    }
};

// The host window with ATL's container window in it, and the control the container holds.
class Host {
public:
    ~Host() { close(); }

    // As a container places a control: create it, ask its natural size, give it a container
    // window of that size.
    HRESULT open(const Atl& atl, REFCLSID clsid) {
        Ref<IUnknown> control;
        HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, control.out());
        if (FAILED(hr)) return hr;
        Ref<IOleObject> ole;
        SIZEL extent{};  // HIMETRIC
        hr = control.p->QueryInterface(IID_IOleObject, ole.out());
        if (SUCCEEDED(hr)) hr = ole.p->GetExtent(DVASPECT_CONTENT, &extent);
        if (FAILED(hr)) return hr;

        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = host_procedure;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
        wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        wc.lpszClassName = host_class;
        if (RegisterClassExW(&wc) == 0) return HRESULT_FROM_WIN32(GetLastError());
        const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
        HDC screen = GetDC(nullptr);
        const int width = MulDiv(extent.cx, GetDeviceCaps(screen, LOGPIXELSX), 2540);
        const int height = MulDiv(extent.cy, GetDeviceCaps(screen, LOGPIXELSY), 2540);
        ReleaseDC(nullptr, screen);
        RECT frame{0, 0, width, height};
        AdjustWindowRectEx(&frame, style, FALSE, 0);
        top_ = CreateWindowExW(0, host_class, L"Pelmora", style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                               frame.bottom - frame.top, nullptr, nullptr, wc.hInstance, nullptr);
        if (top_ == nullptr) return HRESULT_FROM_WIN32(GetLastError());
        // An empty container window: ATL's site then takes the control we made.
        container_ = CreateWindowExW(0, atl.window_class, L"", WS_CHILD | WS_VISIBLE, 0, 0, width, height, top_,
                                     nullptr, nullptr, nullptr);
        if (container_ == nullptr) return HRESULT_FROM_WIN32(GetLastError());
        hr = atl.attach(control.p, container_, &site_.p);
        if (FAILED(hr)) return hr;
        pump();
        hr = control.p->QueryInterface(IID_IDispatch, dispatch_.out());
        if (FAILED(hr)) return hr;
        control.p->QueryInterface(IID_IOleInPlaceActiveObject, active_.out());
        return S_OK;
    }

    // Our references go first; closing the window then makes the container let go of the control.
    void close() {
        active_.reset();
        dispatch_.reset();
        if (top_ != nullptr) {
            DestroyWindow(top_);
            top_ = nullptr;
            container_ = nullptr;
            pump();
        }
        site_.reset();
    }

    // Screenshots and scripts: the window is up, as the controls draw only then, but off every
    // screen and out of the task bar, so nothing appears.
    void show_off_screen() {
        SetWindowLongPtrW(top_, GWL_EXSTYLE, GetWindowLongPtrW(top_, GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
        SetWindowPos(top_, nullptr, -32000, -32000, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
        pump();
    }

    int run_window() {
        ShowWindow(top_, SW_SHOWNORMAL);
        UpdateWindow(top_);
        MSG m;
        while (GetMessageW(&m, nullptr, 0, 0) > 0) {
            // The container hands keys to the control first (Tab between its lists).
            if (m.message >= WM_KEYFIRST && m.message <= WM_KEYLAST && active_.p != nullptr &&
                active_.p->TranslateAccelerator(&m) == S_OK)
                continue;
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        top_ = nullptr;  // gone with the quit
        container_ = nullptr;
        return 0;
    }

    [[nodiscard]] HWND top() const noexcept { return top_; }
    [[nodiscard]] IDispatch& dispatch() const noexcept { return *dispatch_.p; }

private:
    HWND top_ = nullptr;
    HWND container_ = nullptr;
    Ref<IUnknown> site_;
    Ref<IDispatch> dispatch_;
    Ref<IOleInPlaceActiveObject> active_;
};

// --- The form as a person works it ---------------------------------------------------------------

std::wstring class_of(HWND w) {
    wchar_t name[64] = {};
    GetClassNameW(w, name, 64);
    return name;
}

// The name a form window carries (empty for other windows).
std::string name_of(HWND w) {
    const auto atom =
        static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(GetPropW(w, pelmora::forms::win32::control_name_property)));
    if (atom == 0) return {};
    wchar_t name[256] = {};
    const UINT n = GlobalGetAtomNameW(atom, name, 256);
    return utf8(std::wstring_view(name, n));
}

std::wstring window_text(HWND w) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(w, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Draws a window and everything inside it into `dc` (whose origin is the client origin of `top`)
// the way each window paints itself: background, then its client area, then its children from the
// bottom of the z-order up, each clipped to its parent (`clip`, in `top`'s client coordinates).
// Each window paints into a DC of its own size whose origin is its client origin, as when it
// paints on screen, and the result is copied into place. Needs no display.
void print_tree(HWND w, HWND top, HDC dc, const RECT& clip) {
    if (w != top && (GetWindowLongPtrW(w, GWL_STYLE) & WS_VISIBLE) == 0) return;
    POINT origin{0, 0};
    MapWindowPoints(w, top, &origin, 1);
    RECT client{};
    GetClientRect(w, &client);
    const RECT placed{origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
    RECT visible{};
    if (IntersectRect(&visible, &placed, &clip) == FALSE) return;

    HDC own = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    if (own != nullptr && bitmap != nullptr) {
        const HGDIOBJ old = SelectObject(own, bitmap);
        BitBlt(own, 0, 0, client.right, client.bottom, dc, origin.x, origin.y, SRCCOPY);  // what lies beneath
        SendMessageW(w, WM_ERASEBKGND, reinterpret_cast<WPARAM>(own), 0);
        SendMessageW(w, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(own), PRF_CLIENT);
        BitBlt(dc, visible.left, visible.top, visible.right - visible.left, visible.bottom - visible.top, own,
               visible.left - origin.x, visible.top - origin.y, SRCCOPY);
        SelectObject(own, old);
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
    if (own != nullptr) DeleteDC(own);

    std::vector<HWND> children;
    for (HWND c = GetWindow(w, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
    for (auto it = children.rbegin(); it != children.rend(); ++it) print_tree(*it, top, dc, visible);
}

// The picture as WIC's PNG encoder writes it, from 24-bit BGR rows.
bool write_png(const std::wstring& file, const std::vector<BYTE>& rows, UINT width, UINT height, UINT stride) {
    Ref<IWICImagingFactory> factory;
    Ref<IWICStream> stream;
    Ref<IWICBitmapEncoder> encoder;
    Ref<IWICBitmapFrameEncode> frame;
    Ref<IPropertyBag2> options;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                      factory.out())) &&
           SUCCEEDED(factory.p->CreateStream(&stream.p)) &&
           SUCCEEDED(stream.p->InitializeFromFilename(file.c_str(), GENERIC_WRITE)) &&
           SUCCEEDED(factory.p->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder.p)) &&
           SUCCEEDED(encoder.p->Initialize(stream.p, WICBitmapEncoderNoCache)) &&
           SUCCEEDED(encoder.p->CreateNewFrame(&frame.p, &options.p)) && SUCCEEDED(frame.p->Initialize(options.p)) &&
           SUCCEEDED(frame.p->SetSize(width, height)) && SUCCEEDED(frame.p->SetPixelFormat(&format)) &&
           IsEqualGUID(format, GUID_WICPixelFormat24bppBGR) &&
           SUCCEEDED(
               frame.p->WritePixels(height, stride, static_cast<UINT>(rows.size()), const_cast<BYTE*>(rows.data()))) &&
           SUCCEEDED(frame.p->Commit()) && SUCCEEDED(encoder.p->Commit());
}

bool screenshot(HWND top, const std::wstring& file) {
    RECT client{};
    GetClientRect(top, &client);
    const int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0) return false;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dc == nullptr || bitmap == nullptr || bits == nullptr) {
        if (bitmap != nullptr) DeleteObject(bitmap);
        if (dc != nullptr) DeleteDC(dc);
        return false;
    }
    const HGDIOBJ old = SelectObject(dc, bitmap);
    print_tree(top, top, dc, client);
    GdiFlush();
    const auto w = static_cast<UINT>(width), h = static_cast<UINT>(height);
    const UINT stride = (w * 3 + 3) & ~3U;
    std::vector<BYTE> rows(static_cast<std::size_t>(stride) * h);
    const auto* pixels = static_cast<const BYTE*>(bits);
    for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x)
            for (UINT k = 0; k < 3; ++k)
                rows[std::size_t{y} * stride + x * 3 + k] = pixels[(std::size_t{y} * w + x) * 4 + k];
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return write_png(file, rows, w, h, stride);
}

class Win32FormView final : public pelmora::host::FormView {
public:
    explicit Win32FormView(HWND top) : top_(top) {}

    [[nodiscard]] bool has_list(std::string_view name) const override { return list(name) != nullptr; }
    [[nodiscard]] std::vector<std::string> items(std::string_view name) const override {
        std::vector<std::string> out;
        HWND combo = list(name);
        const LRESULT n = combo != nullptr ? SendMessageW(combo, CB_GETCOUNT, 0, 0) : 0;
        for (LRESULT i = 0; i < n; ++i) out.push_back(item(combo, i));
        return out;
    }
    [[nodiscard]] std::string text(std::string_view name) const override {
        HWND combo = list(name);
        const LRESULT i = combo != nullptr ? SendMessageW(combo, CB_GETCURSEL, 0, 0) : CB_ERR;
        return i == CB_ERR ? std::string() : item(combo, i);
    }
    // A person's pick: the list selects the item and tells its parent, as the list itself does.
    void pick(std::string_view name, std::size_t index) override {
        HWND combo = list(name);
        if (combo == nullptr) return;
        SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        pump();
    }
    [[nodiscard]] bool result(std::string& text) const override {
        HWND label = find("output_label", L"Static");
        if (label == nullptr) return false;
        text = utf8(window_text(label));
        return true;
    }
    [[nodiscard]] bool screenshot(const std::string& file) override { return ::screenshot(top_, wide(file)); }

private:
    [[nodiscard]] HWND list(std::string_view name) const { return find(name, L"ComboBox"); }

    struct Search {
        std::string_view name;
        const wchar_t* cls;
        HWND found;
    };
    static BOOL CALLBACK match(HWND w, LPARAM p) {
        auto& s = *reinterpret_cast<Search*>(p);
        if (_wcsicmp(class_of(w).c_str(), s.cls) != 0 || name_of(w) != s.name) return TRUE;
        s.found = w;
        return FALSE;
    }
    // The window of that class carrying that name, anywhere inside the host window.
    [[nodiscard]] HWND find(std::string_view name, const wchar_t* cls) const {
        Search search{name, cls, nullptr};
        EnumChildWindows(top_, match, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    static std::string item(HWND combo, LRESULT i) {
        const LRESULT len = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        if (len == CB_ERR) return {};
        std::wstring text(static_cast<std::size_t>(len) + 1, L'\0');
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<std::size_t>(len));
        return utf8(text);
    }

    HWND top_;
};

int run(const Options<std::wstring>& options) {
    if (!options.library.empty()) {
        const HRESULT hr = register_library(options.library);
        if (FAILED(hr)) {
            fail("cannot register " + utf8(options.library), hr);
            return 1;
        }
    }
    CLSID clsid{};
    if (const HRESULT hr = CLSIDFromProgID(prog_id, &clsid); FAILED(hr)) {
        fail("Pelmora.Pelmora is not registered", hr);
        return 1;
    }
    Atl atl;
    if (!atl.load()) {
        fail("no ActiveX container window (atl100.dll or atl.dll)", HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
        return 1;
    }
    Host host;
    if (const HRESULT hr = host.open(atl, clsid); FAILED(hr)) {
        fail("cannot create Pelmora", hr);
        return 1;
    }
    Win32FormView view(host.top());
    if (options.mode != Mode::window) host.show_off_screen();
    switch (options.mode) {
    case Mode::window: return host.run_window();
    case Mode::screenshot: {
        if (!view.screenshot(utf8(options.screenshot))) {
            std::fprintf(stderr, "pelmora-host: cannot write %s\n", utf8(options.screenshot).c_str());
            return 1;
        }
        std::string shown;
        (void)view.result(shown);
        std::printf("%s\n", shown.c_str());
        std::fprintf(stderr, "pelmora-host: wrote %s\n", utf8(options.screenshot).c_str());
        return 0;
    }
    case Mode::chart: {
        // The script's own command: the same chart, written whole or not at all.
        pelmora::host::Script script(view, host.dispatch());
        const std::string answer = script.answer("chart " + utf8(options.screenshot));
        if (answer != "ok") {
            std::fprintf(stderr, "pelmora-host: no chart: %s\n", answer.c_str());
            return 1;
        }
        std::fprintf(stderr, "pelmora-host: wrote %s\n", utf8(options.screenshot).c_str());
        return 0;
    }
    case Mode::script: {
        pelmora::host::Script script(view, host.dispatch());
        std::string line;
        while (std::getline(std::cin, line)) std::cout << script.answer(line) << '\n' << std::flush;
        return 0;
    }
    }
    return 0;
}

}  // namespace

int main() {
    // Answers are UTF-8 lines ending in LF, byte for byte as on Linux.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args;
    for (int i = 1; argv != nullptr && i < argc; ++i) args.emplace_back(argv[i]);
    LocalFree(argv);
    Options<std::wstring> options;
    if (!parse_options(args, options)) return usage();

    if (FAILED(OleInitialize(nullptr))) {
        std::fputs("pelmora-host: OleInitialize failed\n", stderr);
        return 1;
    }
    const int status = run(options);
    OleUninitialize();
    return status;
}
