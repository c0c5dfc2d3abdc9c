#include "ole_control.hpp"

#include <exception>
#include <new>
#include <string>

#include "pelmora/forms/toolkit.hpp"
#include "pelmora/forms/win32.hpp"

namespace pelmora::activex {
namespace {

constexpr int himetric_per_inch = 2540;

// Runs a COM method's body; whatever it throws becomes an HRESULT.
template <class Body>
HRESULT guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// Keeps the control object alive across calls out to the container, which may release it.
class Hold {
public:
    explicit Hold(IUnknown& object) noexcept : object_(object) { object_.AddRef(); }
    ~Hold() { object_.Release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    IUnknown& object_;
};

template <class T>
void release(T*& p) noexcept {
    if (p != nullptr) {
        T* old = p;
        p = nullptr;
        old->Release();
    }
}

LONG twips_to_himetric(int twips) noexcept {
    return static_cast<LONG>(MulDiv(twips, himetric_per_inch, forms::twips_per_inch));
}

// Where a control sits on the surface, in twips: its own position plus its containers'.
forms::Rect on_surface(const forms::Control& control) {
    forms::Rect r = control.geometry();
    for (const forms::Container* c = control.container(); c != nullptr && c->container() != nullptr;
         c = c->container()) {
        const forms::Rect offset = c->geometry();
        r.left += offset.left;
        r.top += offset.top;
    }
    return r;
}

// A picture of the form without its window: every control's background, frames' borders, labels'
// captions and lists' texts, scaled from the surface's twips into `bounds`.
void paint(const forms::Surface& surface, HDC dc, const RECTL& bounds) {
    const forms::Rect whole = surface.geometry();
    const int width = whole.width > 0 ? whole.width : 1;
    const int height = whole.height > 0 ? whole.height : 1;
    const LONG span_x = bounds.right - bounds.left;
    const LONG span_y = bounds.bottom - bounds.top;
    const auto map = [&](const forms::Rect& r) {
        return RECT{bounds.left + MulDiv(r.left, span_x, width), bounds.top + MulDiv(r.top, span_y, height),
                    bounds.left + MulDiv(r.left + r.width, span_x, width),
                    bounds.top + MulDiv(r.top + r.height, span_y, height)};
    };
    const auto fill = [&](const RECT& r, forms::Colour colour, int system_default) {
        if (HBRUSH brush = CreateSolidBrush(forms::win32::colour_ref(colour, system_default))) {
            FillRect(dc, &r, brush);
            DeleteObject(brush);
        }
    };
    const auto write = [&](RECT r, const std::string& text, forms::Colour colour, UINT align) {
        const std::wstring wide = forms::win32::to_wide(text);
        SetTextColor(dc, forms::win32::colour_ref(colour, COLOR_WINDOWTEXT));
        DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &r,
                  align | DT_SINGLELINE | DT_NOPREFIX | DT_VCENTER | DT_END_ELLIPSIS);
    };

    const RECT all{bounds.left, bounds.top, bounds.right, bounds.bottom};
    fill(all, surface.background(), COLOR_WINDOW);
    // The form's own font, at the target device's resolution.
    const HFONT font = forms::win32::create_form_font(GetDeviceCaps(dc, LOGPIXELSY));
    const HGDIOBJ old_font = SelectObject(dc, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
    const int old_mode = SetBkMode(dc, TRANSPARENT);
    const COLORREF old_text = GetTextColor(dc);
    // Frames first: the labels inside them are drawn over them.
    for (int pass = 0; pass < 2; ++pass) {
        for (forms::Control* control : surface.controls()) {
            const bool is_frame = control->kind() == forms::ControlKind::frame;
            if (is_frame != (pass == 0)) continue;
            RECT r = map(on_surface(*control));
            if (is_frame) {
                fill(r, control->background(), COLOR_BTNFACE);
                DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
            } else if (forms::Label* label = control->as_label()) {
                fill(r, control->background(), COLOR_BTNFACE);
                const UINT align = label->alignment() == forms::Alignment::right    ? DT_RIGHT
                                   : label->alignment() == forms::Alignment::centre ? DT_CENTER
                                                                                    : DT_LEFT;
                write(r, label->caption(), control->text_colour(), align);
            } else if (forms::DropDownList* list = control->as_list()) {
                fill(r, control->background(), COLOR_WINDOW);
                DrawEdge(dc, &r, EDGE_SUNKEN, BF_RECT);
                r.left += 4;
                write(r, list->text(), control->text_colour(), DT_LEFT);
            }
        }
    }
    SetTextColor(dc, old_text);
    SetBkMode(dc, old_mode);
    SelectObject(dc, old_font);
    if (font != nullptr) DeleteObject(font);
}

}  // namespace

OleControl::OleControl(IUnknown& outer, forms::Surface& surface, const ClassDescription& description)
    : outer_(outer), surface_(surface), window_(forms::win32::window_side(surface)), description_(description) {
    const forms::Rect size = surface.geometry();
    extent_ = SIZEL{twips_to_himetric(size.width), twips_to_himetric(size.height)};
    if (window_ != nullptr) window_->on_window_destroyed([this] { window_gone(); });
}

OleControl::~OleControl() {
    shut_down();
    if (window_ != nullptr) window_->on_window_destroyed({});
}

void* OleControl::find(REFIID riid) noexcept {
    if (riid == IID_IOleObject) return static_cast<IOleObject*>(this);
    if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject) return static_cast<IOleInPlaceObject*>(this);
    if (riid == IID_IOleInPlaceActiveObject) return static_cast<IOleInPlaceActiveObject*>(this);
    if (riid == IID_IOleControl) return static_cast<IOleControl*>(this);
    if (riid == IID_IViewObject || riid == IID_IViewObject2) return static_cast<IViewObject2*>(this);
    if (riid == IID_IPersist || riid == IID_IPersistStreamInit) return static_cast<IPersistStreamInit*>(this);
    if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2) return static_cast<IProvideClassInfo2*>(this);
    return nullptr;
}

bool OleControl::has_window() const noexcept { return window_ != nullptr && window_->window() != nullptr; }

// Called when the control object is going away: by then no container holds it, so nothing is called
// back; the window goes and every reference is let go.
void OleControl::shut_down() noexcept {
    ui_active_ = false;
    in_place_ = false;
    if (window_ != nullptr) window_->destroy_window();
    window_gone();
    release_site_objects();
    release(client_site_);
    release(advise_holder_);
    release(view_sink_);
}

// ---- IUnknown ----------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE OleControl::QueryInterface(REFIID riid, void** object) {
    return outer_.QueryInterface(riid, object);
}
ULONG STDMETHODCALLTYPE OleControl::AddRef() { return outer_.AddRef(); }
ULONG STDMETHODCALLTYPE OleControl::Release() { return outer_.Release(); }

// ---- IOleObject --------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE OleControl::SetClientSite(IOleClientSite* site) {
    return guarded([&] {
        const Hold hold(outer_);
        // A container taking its site away must not be called through it again.
        if (site == nullptr) deactivate_in_place();
        if (site != nullptr) site->AddRef();
        release(client_site_);
        client_site_ = site;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE OleControl::GetClientSite(IOleClientSite** site) {
    if (site == nullptr) return E_POINTER;
    *site = client_site_;
    if (client_site_ != nullptr) client_site_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OleControl::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT STDMETHODCALLTYPE OleControl::Close(DWORD) {
    return guarded([&] {
        const Hold hold(outer_);
        const HRESULT hr = deactivate_in_place();
        if (advise_holder_ != nullptr) advise_holder_->SendOnClose();
        return hr;
    });
}

// Monikers, data transfer and colour schemes mean nothing to a control that links nothing and
// persists nothing (OLEMISC_CANTLINKINSIDE): OLE allows E_NOTIMPL for each.
HRESULT STDMETHODCALLTYPE OleControl::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE OleControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker != nullptr) *moniker = nullptr;
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE OleControl::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE OleControl::GetClipboardData(DWORD, IDataObject** data) {
    if (data != nullptr) *data = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE OleControl::DoVerb(LONG verb, LPMSG, IOleClientSite* active_site, LONG, HWND, LPCRECT) {
    return guarded([&]() -> HRESULT {
        const Hold hold(outer_);
        switch (verb) {
        case OLEIVERB_INPLACEACTIVATE: return activate(false, active_site);
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_UIACTIVATE: return activate(true, active_site);
        case OLEIVERB_HIDE:
            UIDeactivate();
            if (window_ != nullptr) window_->show_window(false);
            return S_OK;
        default: break;
        }
        // A positive verb the control does not know acts as the primary verb (OLE's rule); the
        // negative ones left (open in a window of its own, properties, discard undo state) the
        // control does not offer.
        if (verb > 0) {
            const HRESULT hr = activate(true, active_site);
            return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
        }
        return E_NOTIMPL;
    });
}

// The verbs and the user type are the registry's.
HRESULT STDMETHODCALLTYPE OleControl::EnumVerbs(IEnumOLEVERB** verbs) {
    if (verbs != nullptr) *verbs = nullptr;
    return OLE_S_USEREG;
}
HRESULT STDMETHODCALLTYPE OleControl::GetUserType(DWORD, LPOLESTR* type) {
    if (type != nullptr) *type = nullptr;
    return OLE_S_USEREG;
}

HRESULT STDMETHODCALLTYPE OleControl::Update() { return S_OK; }
HRESULT STDMETHODCALLTYPE OleControl::IsUpToDate() { return S_OK; }

HRESULT STDMETHODCALLTYPE OleControl::GetUserClassID(CLSID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = *description_.clsid;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OleControl::SetExtent(DWORD aspect, SIZEL* size) {
    if (size == nullptr) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (size->cx < 0 || size->cy < 0) return E_INVALIDARG;
    extent_ = *size;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OleControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (size == nullptr) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = extent_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OleControl::Advise(IAdviseSink* sink, DWORD* connection) {
    if (connection == nullptr) return E_POINTER;
    *connection = 0;
    if (sink == nullptr) return E_INVALIDARG;
    return guarded([&] {
        if (advise_holder_ == nullptr) {
            const HRESULT hr = CreateOleAdviseHolder(&advise_holder_);
            if (FAILED(hr)) return hr;
        }
        return advise_holder_->Advise(sink, connection);
    });
}

HRESULT STDMETHODCALLTYPE OleControl::Unadvise(DWORD connection) {
    if (advise_holder_ == nullptr) return OLE_E_NOCONNECTION;
    return advise_holder_->Unadvise(connection);
}

HRESULT STDMETHODCALLTYPE OleControl::EnumAdvise(IEnumSTATDATA** advise) {
    if (advise == nullptr) return E_POINTER;
    *advise = nullptr;
    if (advise_holder_ == nullptr) return S_OK;  // no connections: nothing to enumerate
    return advise_holder_->EnumAdvise(advise);
}

HRESULT STDMETHODCALLTYPE OleControl::GetMiscStatus(DWORD, DWORD* status) {
    if (status == nullptr) return E_POINTER;
    *status = description_.misc_status;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OleControl::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// ---- IOleWindow / IOleInPlaceObject ------------------------------------------------------------

HRESULT STDMETHODCALLTYPE OleControl::GetWindow(HWND* window) {
    if (window == nullptr) return E_POINTER;
    *window = window_ != nullptr ? window_->window() : nullptr;
    return *window != nullptr ? S_OK : E_FAIL;
}

// The control has no context help.
HRESULT STDMETHODCALLTYPE OleControl::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE OleControl::InPlaceDeactivate() {
    return guarded([&] {
        const Hold hold(outer_);
        return deactivate_in_place();
    });
}

HRESULT STDMETHODCALLTYPE OleControl::UIDeactivate() {
    return guarded([&] {
        const Hold hold(outer_);
        ui_deactivate();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE OleControl::SetObjectRects(LPCRECT position, LPCRECT) {
    if (position == nullptr) return E_POINTER;
    if (window_ != nullptr) window_->move_window(*position);
    return S_OK;
}

// Nothing the control does can be undone.
HRESULT STDMETHODCALLTYPE OleControl::ReactivateAndUndo() { return INPLACE_E_NOTUNDOABLE; }

// ---- IOleInPlaceActiveObject -------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE OleControl::TranslateAccelerator(LPMSG message) {
    if (message == nullptr) return E_INVALIDARG;
    return window_ != nullptr && window_->translate_message(*message) ? S_OK : S_FALSE;
}
HRESULT STDMETHODCALLTYPE OleControl::OnFrameWindowActivate(BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE OleControl::OnDocWindowActivate(BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE OleControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
HRESULT STDMETHODCALLTYPE OleControl::EnableModeless(BOOL) { return S_OK; }

// ---- IOleControl -------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE OleControl::GetControlInfo(CONTROLINFO* info) {
    if (info == nullptr) return E_POINTER;
    // No mnemonics, no accelerators: Enter and Esc are the container's.
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}
// With no mnemonics announced, a container has nothing to forward here.
HRESULT STDMETHODCALLTYPE OleControl::OnMnemonic(MSG*) { return E_NOTIMPL; }
// The form keeps its own colours and font; no ambient property changes them.
HRESULT STDMETHODCALLTYPE OleControl::OnAmbientPropertyChange(DISPID) { return S_OK; }
// The control raises no events, so there is nothing to hold back.
HRESULT STDMETHODCALLTYPE OleControl::FreezeEvents(BOOL) { return S_OK; }

// ---- IViewObject2 ------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE OleControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds,
                                           LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (dc == nullptr || bounds == nullptr) return E_INVALIDARG;
    return guarded([&] {
        paint(surface_, dc, *bounds);
        return S_OK;
    });
}

// The picture uses the system's and the form's own colours; OLE allows E_NOTIMPL for a colour set,
// and for freezing a picture that is drawn afresh each time.
HRESULT STDMETHODCALLTYPE OleControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colours) {
    if (colours != nullptr) *colours = nullptr;
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE OleControl::Freeze(DWORD, LONG, void*, DWORD* freeze) {
    if (freeze != nullptr) *freeze = 0;
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE OleControl::Unfreeze(DWORD) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE OleControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    if (sink != nullptr) sink->AddRef();
    release(view_sink_);
    view_sink_ = sink;
    view_aspects_ = aspects;
    view_flags_ = flags;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OleControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects != nullptr) *aspects = view_aspects_;
    if (flags != nullptr) *flags = view_flags_;
    if (sink != nullptr) {
        *sink = view_sink_;
        if (view_sink_ != nullptr) view_sink_->AddRef();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OleControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);
}

// ---- IPersistStreamInit: the control persists nothing ------------------------------------------

HRESULT STDMETHODCALLTYPE OleControl::GetClassID(CLSID* clsid) { return GetUserClassID(clsid); }
HRESULT STDMETHODCALLTYPE OleControl::IsDirty() { return S_FALSE; }
HRESULT STDMETHODCALLTYPE OleControl::Load(LPSTREAM stream) { return stream == nullptr ? E_POINTER : S_OK; }
HRESULT STDMETHODCALLTYPE OleControl::Save(LPSTREAM stream, BOOL) { return stream == nullptr ? E_POINTER : S_OK; }
HRESULT STDMETHODCALLTYPE OleControl::GetSizeMax(ULARGE_INTEGER* size) {
    if (size == nullptr) return E_POINTER;
    size->QuadPart = 0;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE OleControl::InitNew() { return S_OK; }

// ---- IProvideClassInfo2 ------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE OleControl::GetClassInfo(ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (description_.class_info == nullptr) return E_NOTIMPL;
    return guarded([&] { return description_.class_info(info); });
}

HRESULT STDMETHODCALLTYPE OleControl::GetGUID(DWORD kind, GUID* guid) {
    if (guid == nullptr) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = *description_.default_source;
    return S_OK;
}

// ---- activation --------------------------------------------------------------------------------

HRESULT OleControl::activate(bool ui_activate, IOleClientSite* active_site) {
    if (window_ == nullptr) return E_UNEXPECTED;  // a form without windows cannot be placed
    if (!in_place_) {
        deactivate_in_place();  // an activation whose window the container destroyed
        IOleClientSite* site = client_site_ != nullptr ? client_site_ : active_site;
        if (site == nullptr) return E_INVALIDARG;
        IOleInPlaceSite* in_place_site = nullptr;
        HRESULT hr = site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&in_place_site));
        if (FAILED(hr) || in_place_site == nullptr) return E_NOINTERFACE;
        if (in_place_site->CanInPlaceActivate() != S_OK) {
            in_place_site->Release();
            return OLEOBJ_S_CANNOT_DOVERB_NOW;
        }
        in_place_site_ = in_place_site;
        in_place_site_->OnInPlaceActivate();

        HWND parent = nullptr;
        RECT position{};
        RECT clip{};
        OLEINPLACEFRAMEINFO frame_info{};
        frame_info.cb = sizeof frame_info;
        hr = in_place_site_->GetWindow(&parent);
        if (SUCCEEDED(hr)) hr = in_place_site_->GetWindowContext(&frame_, &document_, &position, &clip, &frame_info);
        if (SUCCEEDED(hr) && parent != nullptr && window_->create_window(parent, position) != nullptr) {
            if (!locked_ && description_.lock_module != nullptr) description_.lock_module(+1);
            locked_ = true;
            in_place_ = true;
        } else {
            if (SUCCEEDED(hr)) hr = parent == nullptr ? E_FAIL : HRESULT_FROM_WIN32(GetLastError());
            if (SUCCEEDED(hr)) hr = E_FAIL;
            in_place_site_->OnInPlaceDeactivate();
            release_site_objects();
            return hr;
        }
    }
    window_->show_window(true);
    if (ui_activate && !ui_active_ && in_place_site_ != nullptr) {
        ui_active_ = true;
        in_place_site_->OnUIActivate();
        auto* active = static_cast<IOleInPlaceActiveObject*>(this);
        if (frame_ != nullptr) {
            frame_->SetActiveObject(active, L"Pelmora");
            frame_->SetBorderSpace(nullptr);
        }
        if (document_ != nullptr) {
            document_->SetActiveObject(active, L"Pelmora");
            document_->SetBorderSpace(nullptr);
        }
        // The focus goes to the form's first list unless it is in the form already.
        const HWND own = window_->window();
        const HWND focus = GetFocus();
        if (own != nullptr && focus != own && IsChild(own, focus) == FALSE)
            if (const HWND first = GetNextDlgTabItem(own, nullptr, FALSE)) SetFocus(first);
    }
    return S_OK;
}

void OleControl::ui_deactivate() {
    if (!ui_active_) return;
    ui_active_ = false;
    if (frame_ != nullptr) frame_->SetActiveObject(nullptr, nullptr);
    if (document_ != nullptr) document_->SetActiveObject(nullptr, nullptr);
    if (in_place_site_ != nullptr) in_place_site_->OnUIDeactivate(FALSE);
}

// Also undoes an activation whose window the container destroyed under the control.
HRESULT OleControl::deactivate_in_place() {
    if (in_place_site_ == nullptr) {
        in_place_ = false;
        return S_OK;
    }
    ui_deactivate();
    in_place_ = false;
    if (window_ != nullptr) window_->destroy_window();
    window_gone();
    in_place_site_->OnInPlaceDeactivate();
    release_site_objects();
    return S_OK;
}

// The window is gone, whether the control destroyed it or the container destroyed its own window
// (and ours with it): the module lock taken for it goes too.
void OleControl::window_gone() noexcept {
    if (has_window()) return;
    in_place_ = false;
    if (locked_) {
        locked_ = false;
        if (description_.lock_module != nullptr) description_.lock_module(-1);
    }
}

void OleControl::release_site_objects() noexcept {
    release(frame_);
    release(document_);
    release(in_place_site_);
}

}  // namespace pelmora::activex
