// The Win32 backend: every control keeps its data in memory and mirrors it into a native window
// while its surface has one. Lists are COMBOBOX (CBS_DROPDOWNLIST) windows, labels STATIC
// windows, the surface and frames windows of our own two classes whose procedure paints their
// background, draws the frame's etched border, hands out the colours of their children
// (WM_CTLCOLOR*) and turns a list's CBN_SELCHANGE into its click.

#include "pelmora/forms/win32.hpp"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace pelmora::forms::win32 {
namespace {

constexpr wchar_t surface_class[] = L"PelmoraFormSurface";
constexpr wchar_t frame_class[] = L"PelmoraFormFrame";
// The property that ties a native window (and a list's drop-down box) to its control.
constexpr wchar_t control_property[] = L"PelmoraFormControl";
constexpr const wchar_t* name_property = control_name_property;
// Rows a dropped list shows before it scrolls.
constexpr int dropped_rows = 12;
constexpr int first_control_id = 1000;

std::atomic<long> live_surface_windows{0};
std::mutex class_mutex;

HINSTANCE this_module() noexcept {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&this_module), &module);
    return module;
}

std::wstring widen(std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), n);
    return out;
}

COLORREF resolve(Colour colour, int system_default) noexcept {
    switch (colour.kind) {
    case Colour::Kind::rgb: return RGB(colour.red, colour.green, colour.blue);
    case Colour::Kind::window_background: return GetSysColor(COLOR_WINDOW);
    case Colour::Kind::window_text: return GetSysColor(COLOR_WINDOWTEXT);
    case Colour::Kind::toolkit_default: break;
    }
    return GetSysColor(system_default);
}

LRESULT CALLBACK container_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

// Where the form's own font cannot be made: the system's GUI font, so that text still shows.
HFONT default_font() noexcept { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

// Registers our two window classes on first use. A class left behind by an earlier copy of this
// library (unloaded, then loaded again) still points at that copy's procedure: it is replaced.
bool register_class(const wchar_t* name) noexcept {
    const HINSTANCE module = this_module();
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(module, name, &existing) != FALSE) {
        if (existing.lpfnWndProc == container_procedure) return true;
        UnregisterClassW(name, module);
    }
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = container_procedure;
    wc.hInstance = module;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) != 0;
}

bool register_classes() noexcept {
    const std::lock_guard lock(class_mutex);
    return register_class(surface_class) && register_class(frame_class);
}

class Win32Surface;

// The window side every control shares: its data, its window, its colours.
class Peer {
public:
    Peer(std::string name, Container* parent, Peer* parent_peer, Win32Surface* surface)
        : name_(std::move(name)), parent_(parent), parent_peer_(parent_peer), surface_(surface) {}
    virtual ~Peer() { drop_brush(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    [[nodiscard]] HWND hwnd() const noexcept { return hwnd_; }
    [[nodiscard]] int tab() const noexcept { return tab_index_; }

    // Creates this control's window (and, for containers, its children's) inside `parent`.
    virtual bool create(HWND parent) = 0;
    // Called for every control after the surface's window is gone: the handles are dead.
    virtual void forget_window() noexcept {
        hwnd_ = nullptr;
        drop_brush();
    }
    // Removes our properties from the native windows while they still exist.
    virtual void unbind() noexcept {
        if (hwnd_ == nullptr) return;
        RemovePropW(hwnd_, control_property);
        if (const auto atom = static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(RemovePropW(hwnd_, name_property))))
            GlobalDeleteAtom(atom);
    }
    // A notification from the control's window to its parent (WM_COMMAND).
    virtual void command(WORD /*code*/) {}

    // Sets the DC's colours for WM_CTLCOLOR* and returns the background brush.
    HBRUSH colour_dc(HDC dc, int default_background) noexcept {
        SetTextColor(dc, resolve(text_, COLOR_WINDOWTEXT));
        SetBkColor(dc, resolve(background_, default_background));
        SetBkMode(dc, OPAQUE);
        return background_brush(default_background);
    }
    HBRUSH background_brush(int default_background) noexcept {
        switch (background_.kind) {
        case Colour::Kind::rgb:
            if (brush_ == nullptr) brush_ = CreateSolidBrush(RGB(background_.red, background_.green, background_.blue));
            if (brush_ != nullptr) return brush_;
            break;
        case Colour::Kind::window_background: return GetSysColorBrush(COLOR_WINDOW);
        case Colour::Kind::window_text: return GetSysColorBrush(COLOR_WINDOWTEXT);
        case Colour::Kind::toolkit_default: break;
        }
        return GetSysColorBrush(default_background);
    }
    // The system colour a control of this kind has when nobody sets one.
    [[nodiscard]] virtual int default_background() const noexcept { return COLOR_BTNFACE; }

    [[nodiscard]] RECT pixels() const noexcept;
    void place() noexcept {
        if (hwnd_ == nullptr) return;
        const RECT r = pixels();
        SetWindowPos(hwnd_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
        after_place();
    }
    virtual void after_place() noexcept {}
    void set_colours_(Colour background, Colour text) noexcept {
        background_ = background;
        text_ = text;
        drop_brush();
        if (hwnd_ != nullptr) InvalidateRect(hwnd_, nullptr, TRUE);
    }

    // Control data, shared by the template below.
    std::string name_;
    Container* parent_;
    Peer* parent_peer_;
    Win32Surface* surface_;
    Rect geometry_;
    int tab_index_ = 0;
    Colour background_;
    Colour text_;
    int id_ = 0;

protected:
    bool bind(HWND created) noexcept;
    void drop_brush() noexcept {
        if (brush_ != nullptr) DeleteObject(brush_);
        brush_ = nullptr;
    }

    HWND hwnd_ = nullptr;
    HBRUSH brush_ = nullptr;
};

Peer* peer_of(HWND window) noexcept {
    return window != nullptr ? static_cast<Peer*>(GetPropW(window, control_property)) : nullptr;
}

template <class Interface, ControlKind Kind>
class Win32Control : public Interface, public Peer {
public:
    Win32Control(std::string name, Container* parent, Peer* parent_peer, Win32Surface* surface)
        : Peer(std::move(name), parent, parent_peer, surface) {}

    [[nodiscard]] ControlKind kind() const noexcept override { return Kind; }
    [[nodiscard]] const std::string& name() const noexcept override { return name_; }
    [[nodiscard]] Container* container() const noexcept override { return parent_; }
    void set_geometry(Rect twips) override {
        geometry_ = twips;
        if (Kind != ControlKind::surface) place();
    }
    [[nodiscard]] Rect geometry() const override { return geometry_; }
    void set_tab_index(int index) override;
    [[nodiscard]] int tab_index() const noexcept override { return tab_index_; }
    void set_colours(Colour background, Colour text) override { set_colours_(background, text); }
    [[nodiscard]] Colour background() const noexcept override { return background_; }
    [[nodiscard]] Colour text_colour() const noexcept override { return text_; }
    [[nodiscard]] void* native_handle() noexcept override { return hwnd_; }
};

// What the surface and frames share: children, and a window of our own class.
class ContainerPeer {
public:
    std::vector<Peer*> children;

    // Creates every child's window, then stacks the children in tab-index order, which is the
    // order dialog navigation visits them in.
    bool create_children(HWND own) {
        for (Peer* child : children)
            if (!child->create(own)) return false;
        restack();
        return true;
    }
    void restack() const noexcept {
        std::vector<Peer*> order = children;
        std::stable_sort(order.begin(), order.end(), [](const Peer* a, const Peer* b) { return a->tab() < b->tab(); });
        for (Peer* child : order)
            if (child->hwnd() != nullptr)
                SetWindowPos(child->hwnd(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
};

ContainerPeer* container_peer_of(Peer* peer) noexcept;

class Win32Frame final : public Win32Control<Frame, ControlKind::frame>, public ContainerPeer {
public:
    using Win32Control::Win32Control;
    bool create(HWND parent) override {
        const RECT r = pixels();
        if (!bind(CreateWindowExW(WS_EX_CONTROLPARENT, frame_class, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                                  r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)), this_module(), nullptr)))
            return false;
        return create_children(hwnd_);
    }
};

class Win32Label final : public Win32Control<Label, ControlKind::label> {
public:
    using Win32Control::Win32Control;

    void set_caption(std::string_view caption) override {
        caption_.assign(caption);
        if (hwnd_ != nullptr) SetWindowTextW(hwnd_, widen(caption_).c_str());
    }
    [[nodiscard]] std::string caption() const override { return caption_; }
    void set_alignment(Alignment alignment) override {
        alignment_ = alignment;
        if (hwnd_ == nullptr) return;
        const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE));
        SetWindowLongPtrW(hwnd_, GWL_STYLE, static_cast<LONG_PTR>((style & ~DWORD{SS_TYPEMASK}) | align_style()));
        InvalidateRect(hwnd_, nullptr, TRUE);
    }
    [[nodiscard]] Alignment alignment() const noexcept override { return alignment_; }

    bool create(HWND parent) override {
        const RECT r = pixels();
        return bind(CreateWindowExW(0, L"STATIC", widen(caption_).c_str(),
                                    WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SS_NOPREFIX | align_style(), r.left,
                                    r.top, r.right - r.left, r.bottom - r.top, parent,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)), this_module(), nullptr));
    }

private:
    [[nodiscard]] DWORD align_style() const noexcept {
        switch (alignment_) {
        case Alignment::right: return SS_RIGHT;
        case Alignment::centre: return SS_CENTER;
        case Alignment::left: break;
        }
        return SS_LEFT;
    }

    std::string caption_;
    Alignment alignment_ = Alignment::left;
};

class Win32List final : public Win32Control<DropDownList, ControlKind::list> {
public:
    using Win32Control::Win32Control;

    void append(std::string_view item) override {
        items_.emplace_back(item);
        if (hwnd_ != nullptr) add_native(items_.back());
    }
    void clear() override {
        items_.clear();
        picked_ = none;
        if (hwnd_ != nullptr) SendMessageW(hwnd_, CB_RESETCONTENT, 0, 0);
    }
    [[nodiscard]] std::string text() const override { return picked_ == none ? std::string() : items_[picked_]; }
    void set_text(std::string_view text) override {
        std::size_t index = none;
        if (!text.empty()) {
            const auto it = std::find(items_.begin(), items_.end(), text);
            if (it == items_.end()) throw RuntimeError(Error::invalid_property_value);
            index = static_cast<std::size_t>(it - items_.begin());
        }
        picked_ = index;
        // CB_SETCURSEL sends no CBN_SELCHANGE: setting the text from code raises no click.
        if (hwnd_ != nullptr) SendMessageW(hwnd_, CB_SETCURSEL, native_index(), 0);
    }
    [[nodiscard]] std::size_t count() const override { return items_.size(); }
    [[nodiscard]] std::string item(std::size_t index) const override { return items_.at(index); }
    void on_click(Handler handler) override { click_ = std::move(handler); }
    void pick(std::string_view text) override;

    [[nodiscard]] int default_background() const noexcept override { return COLOR_WINDOW; }

    bool create(HWND parent) override {
        const RECT r = pixels();
        const int height = r.bottom - r.top;
        // A drop-down list's window height covers its dropped box; the closed field is fitted below.
        if (!bind(CreateWindowExW(0, L"COMBOBOX", L"",
                                  WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                                  r.left, r.top, r.right - r.left, height * (dropped_rows + 1), parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)), this_module(), nullptr)))
            return false;
        COMBOBOXINFO info{};
        info.cbSize = sizeof info;
        if (GetComboBoxInfo(hwnd_, &info) != FALSE && info.hwndList != nullptr) {
            drop_box_ = info.hwndList;
            SetPropW(drop_box_, control_property, static_cast<Peer*>(this));
        }
        for (const std::string& item : items_)
            if (!add_native(item)) return false;
        SendMessageW(hwnd_, CB_SETCURSEL, native_index(), 0);
        after_place();
        return true;
    }
    void after_place() noexcept override { fit_field_height(); }
    void unbind() noexcept override {
        Peer::unbind();
        if (drop_box_ != nullptr) RemovePropW(drop_box_, control_property);
    }
    void forget_window() noexcept override {
        Peer::forget_window();
        drop_box_ = nullptr;
    }
    void command(WORD code) override;

private:
    static constexpr std::size_t none = static_cast<std::size_t>(-1);

    [[nodiscard]] WPARAM native_index() const noexcept {
        return picked_ == none ? static_cast<WPARAM>(-1) : static_cast<WPARAM>(picked_);
    }
    bool add_native(const std::string& item) {
        const LRESULT r = SendMessageW(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(item).c_str()));
        return r != CB_ERR && r != CB_ERRSPACE;
    }
    // The closed list's height follows its font; adjust the field until the window has the
    // height of the geometry.
    void fit_field_height() noexcept {
        if (hwnd_ == nullptr) return;
        const RECT want = pixels();
        const LONG target = want.bottom - want.top;
        for (int attempt = 0; attempt < 4; ++attempt) {
            RECT now{};
            GetWindowRect(hwnd_, &now);
            const LONG height = now.bottom - now.top;
            if (height == target) return;
            const LRESULT field = SendMessageW(hwnd_, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
            if (field == CB_ERR) return;
            const LRESULT wanted = field + (target - height);
            if (wanted < 1) return;
            SendMessageW(hwnd_, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), wanted);
        }
    }

    std::vector<std::string> items_;
    std::size_t picked_ = none;
    Handler click_;
    HWND drop_box_ = nullptr;
};

class Win32Surface final : public Win32Control<Surface, ControlKind::surface>,
                           public ContainerPeer,
                           public SurfaceWindow {
public:
    explicit Win32Surface(std::string name) : Win32Control(std::move(name), nullptr, nullptr, this) {}
    ~Win32Surface() override { destroy_window(); }
    Win32Surface(const Win32Surface&) = delete;
    Win32Surface& operator=(const Win32Surface&) = delete;

    Frame& create_frame(std::string name, Container& parent) override {
        return add(std::make_unique<Win32Frame>(std::move(name), &parent, peer_for(parent), this));
    }
    Label& create_label(std::string name, Container& parent) override {
        return add(std::make_unique<Win32Label>(std::move(name), &parent, peer_for(parent), this));
    }
    DropDownList& create_list(std::string name, Container& parent) override {
        return add(std::make_unique<Win32List>(std::move(name), &parent, peer_for(parent), this));
    }

    [[nodiscard]] std::vector<Control*> controls() const override {
        std::vector<Control*> out;
        out.reserve(owned_.size());
        for (const auto& c : owned_) out.push_back(c.control);
        return out;
    }
    [[nodiscard]] std::vector<Control*> focus_chain() const override { return lists_by_tab_index(controls()); }

    bool create(HWND) override { return false; }  // the surface's window comes from create_window

    // SurfaceWindow
    HWND create_window(HWND parent, const RECT& position) noexcept override {
        if (hwnd_ != nullptr) {
            SetParent(hwnd_, parent);
            move_window(position);
            return hwnd_;
        }
        try {
            if (!register_classes()) return nullptr;
            measure_dpi(parent);
            font_ = create_form_font(dpi_y_);
            const HWND window = CreateWindowExW(
                WS_EX_CONTROLPARENT, surface_class, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                position.left, position.top, position.right - position.left, position.bottom - position.top, parent,
                nullptr, this_module(), static_cast<Peer*>(this));
            if (window == nullptr) {
                const DWORD error = GetLastError();
                drop_font();  // no window came to own it
                SetLastError(error);
                return nullptr;
            }
            if (!create_children(window)) {
                const DWORD error = GetLastError();
                destroy_window();
                SetLastError(error != 0 ? error : ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            return window;
        } catch (...) {
            destroy_window();
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    void move_window(const RECT& position) noexcept override {
        if (hwnd_ != nullptr)
            SetWindowPos(hwnd_, nullptr, position.left, position.top, position.right - position.left,
                         position.bottom - position.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    void show_window(bool visible) noexcept override {
        if (hwnd_ != nullptr) ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
    }
    void destroy_window() noexcept override {
        if (hwnd_ != nullptr) DestroyWindow(hwnd_);
    }
    [[nodiscard]] HWND window() const noexcept override { return hwnd_; }
    bool translate_message(MSG& message) noexcept override {
        if (hwnd_ == nullptr || message.message < WM_KEYFIRST || message.message > WM_KEYLAST) return false;
        if (message.hwnd != hwnd_ && IsChild(hwnd_, message.hwnd) == FALSE) return false;
        return IsDialogMessageW(hwnd_, &message) != FALSE;
    }
    void on_window_destroyed(std::function<void()> listener) override { destroyed_ = std::move(listener); }
    [[nodiscard]] SIZE natural_size(int dpi_x, int dpi_y) const noexcept override {
        return SIZE{twips_to_pixels(geometry_.width, dpi_x), twips_to_pixels(geometry_.height, dpi_y)};
    }

    [[nodiscard]] int dpi_x() const noexcept { return dpi_x_; }
    [[nodiscard]] int dpi_y() const noexcept { return dpi_y_; }
    /// The form's font at the window's DPI while the surface has a window.
    [[nodiscard]] HFONT font() const noexcept { return font_ != nullptr ? font_ : default_font(); }

    // From the window procedure.
    void window_created(HWND window) noexcept {
        hwnd_ = window;
        SetPropW(hwnd_, control_property, static_cast<Peer*>(this));
        ++live_surface_windows;
    }
    void window_destroying() noexcept {
        for (const auto& c : owned_) c.peer->unbind();
        unbind();
    }
    void window_gone() noexcept {
        for (const auto& c : owned_) c.peer->forget_window();
        forget_window();
        drop_font();
        --live_surface_windows;
        if (destroyed_) {
            try {
                destroyed_();
            } catch (...) {
                // A listener's failure must not leave the window procedure.
            }
        }
    }
    [[nodiscard]] int default_background() const noexcept override { return COLOR_WINDOW; }

private:
    struct Owned {
        std::unique_ptr<Control> holder;
        Control* control;
        Peer* peer;
    };

    template <class T>
    T& add(std::unique_ptr<T> control) {
        T& ref = *control;
        ref.id_ = first_control_id + static_cast<int>(owned_.size());
        Peer* peer = &ref;
        ContainerPeer* parent = container_peer_of(ref.parent_peer_);
        if (parent == nullptr) throw RuntimeError(Error::invalid_argument);
        owned_.push_back(Owned{std::move(control), &ref, peer});
        parent->children.push_back(peer);
        // Controls added while the form is on screen appear at once.
        if (ref.parent_peer_->hwnd() != nullptr) {
            if (!peer->create(ref.parent_peer_->hwnd())) throw RuntimeError(Error::cannot_activate);
            parent->restack();
        }
        return ref;
    }
    void drop_font() noexcept {
        if (font_ != nullptr) DeleteObject(font_);
        font_ = nullptr;
    }
    Peer* peer_for(Container& parent) noexcept {
        if (&parent == static_cast<Container*>(this)) return this;
        for (const auto& c : owned_)
            if (c.control == &parent) return c.peer;
        return nullptr;
    }
    // The DPI of the window the form goes into: GetDpiForWindow where the system has it (a
    // process that declares itself DPI-aware gets its monitor's), else the screen's logical DPI.
    void measure_dpi(HWND parent) noexcept {
        using DpiForWindow = UINT(WINAPI*)(HWND);
        dpi_x_ = dpi_y_ = 0;
        if (const HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
            const auto dpi_for_window =
                reinterpret_cast<DpiForWindow>(reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")));
            if (dpi_for_window != nullptr) dpi_x_ = dpi_y_ = static_cast<int>(dpi_for_window(parent));
        }
        if (dpi_x_ <= 0) {
            if (HDC dc = GetDC(parent)) {
                dpi_x_ = GetDeviceCaps(dc, LOGPIXELSX);
                dpi_y_ = GetDeviceCaps(dc, LOGPIXELSY);
                ReleaseDC(parent, dc);
            }
        }
        if (dpi_x_ <= 0) dpi_x_ = USER_DEFAULT_SCREEN_DPI;
        if (dpi_y_ <= 0) dpi_y_ = USER_DEFAULT_SCREEN_DPI;
    }

    std::vector<Owned> owned_;
    std::function<void()> destroyed_;
    int dpi_x_ = USER_DEFAULT_SCREEN_DPI;
    int dpi_y_ = USER_DEFAULT_SCREEN_DPI;
    HFONT font_ = nullptr;
};

ContainerPeer* container_peer_of(Peer* peer) noexcept {
    if (peer == nullptr) return nullptr;
    if (auto* frame = dynamic_cast<Win32Frame*>(peer)) return frame;
    if (auto* surface = dynamic_cast<Win32Surface*>(peer)) return surface;
    return nullptr;
}

bool Peer::bind(HWND created) noexcept {
    hwnd_ = created;
    if (hwnd_ == nullptr) return false;
    SetPropW(hwnd_, control_property, this);
    // The control's name where any program finds it, as Qt's object name: a global atom.
    if (const ATOM atom = GlobalAddAtomW(widen(name_).c_str()))
        if (SetPropW(hwnd_, name_property, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(atom))) == FALSE)
            GlobalDeleteAtom(atom);
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(surface_->font()), FALSE);
    return true;
}

RECT Peer::pixels() const noexcept {
    const int dx = surface_->dpi_x();
    const int dy = surface_->dpi_y();
    const int left = twips_to_pixels(geometry_.left, dx);
    const int top = twips_to_pixels(geometry_.top, dy);
    return RECT{left, top, left + twips_to_pixels(geometry_.width, dx), top + twips_to_pixels(geometry_.height, dy)};
}

template <class Interface, ControlKind Kind>
void Win32Control<Interface, Kind>::set_tab_index(int index) {
    tab_index_ = index;
    if (hwnd_ == nullptr) return;
    if (ContainerPeer* parent = container_peer_of(parent_peer_)) parent->restack();
}

void Win32List::pick(std::string_view text) {
    set_text(text);
    const Handler handler = click_;
    deliver(handler, surface_->sink());
}

void Win32List::command(WORD code) {
    if (code != CBN_SELCHANGE || hwnd_ == nullptr) return;
    const LRESULT index = SendMessageW(hwnd_, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR || static_cast<std::size_t>(index) >= items_.size()) return;
    picked_ = static_cast<std::size_t>(index);
    const Handler handler = click_;  // the handler may replace itself while it runs
    deliver(handler, surface_->sink());
}

// A frame's etched border (it has no title); the surface draws nothing over its background.
void paint_border(HWND window, HDC dc) noexcept {
    if (GetWindowLongPtrW(window, GWLP_USERDATA) != 0) return;  // the surface
    RECT client{};
    GetClientRect(window, &client);
    DrawEdge(dc, &client, EDGE_ETCHED, BF_RECT);
}

LRESULT handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_NCCREATE: {
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        if (cs->lpCreateParams != nullptr) {
            auto* surface = static_cast<Win32Surface*>(static_cast<Peer*>(cs->lpCreateParams));
            surface->window_created(window);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(surface));
        }
        break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        if (Peer* peer = peer_of(reinterpret_cast<HWND>(lparam)))
            return reinterpret_cast<LRESULT>(
                peer->colour_dc(reinterpret_cast<HDC>(wparam), peer->default_background()));
        break;
    case WM_COMMAND:
        if (lparam != 0)
            if (Peer* peer = peer_of(reinterpret_cast<HWND>(lparam))) peer->command(HIWORD(wparam));
        return 0;
    case WM_ERASEBKGND:
        if (Peer* peer = peer_of(window)) {
            RECT client{};
            GetClientRect(window, &client);
            FillRect(reinterpret_cast<HDC>(wparam), &client, peer->background_brush(peer->default_background()));
            return 1;
        }
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps{};
        if (HDC dc = BeginPaint(window, &ps)) {
            paint_border(window, dc);
            EndPaint(window, &ps);
        }
        return 0;
    }
    case WM_PRINTCLIENT:  // drawn into another DC: a picture of the form
        paint_border(window, reinterpret_cast<HDC>(wparam));
        return 0;
    case WM_DESTROY:
        if (auto* surface = reinterpret_cast<Win32Surface*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
            surface->window_destroying();
        break;
    case WM_NCDESTROY:
        if (auto* surface = reinterpret_cast<Win32Surface*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            surface->window_gone();
        }
        break;
    default: break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK container_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
    try {
        return handle(window, message, wparam, lparam);
    } catch (...) {
        // Handlers' failures are delivered to the surface's sink; anything else stops here.
        return 0;
    }
}

class Win32Toolkit final : public Toolkit {
public:
    [[nodiscard]] std::string_view name() const noexcept override { return "win32"; }
    [[nodiscard]] std::unique_ptr<Surface> create_surface(std::string name) override {
        return std::make_unique<Win32Surface>(std::move(name));
    }
};

}  // namespace

Toolkit& toolkit() {
    static Win32Toolkit instance;
    return instance;
}

SurfaceWindow* window_side(Surface& surface) noexcept { return dynamic_cast<Win32Surface*>(&surface); }

long live_windows() noexcept { return live_surface_windows.load(); }

COLORREF colour_ref(Colour colour, int system_default) noexcept { return resolve(colour, system_default); }

HFONT create_form_font(int dpi) noexcept {
    LOGFONTW f{};
    f.lfHeight = -MulDiv(form_font_points, dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI, 72);
    f.lfWeight = FW_NORMAL;
    f.lfCharSet = DEFAULT_CHARSET;
    f.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    static_assert(sizeof form_font_face <= sizeof f.lfFaceName);
    std::copy(std::begin(form_font_face), std::end(form_font_face), f.lfFaceName);
    return CreateFontIndirectW(&f);
}

std::wstring to_wide(std::string_view text) { return widen(text); }

}  // namespace pelmora::forms::win32

namespace pelmora::forms {
Toolkit* win32_toolkit() { return &win32::toolkit(); }
}  // namespace pelmora::forms
