// The ActiveX face against a container written here: a client site that records what the control
// asks of it. The control object around the face is a stand-in owning a small Win32 form, so these
// checks need neither the registered DLL nor the real form.

#include <windows.h>
#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ole_control.hpp"
#include "pelmora/forms/toolkit.hpp"
#include "pelmora/forms/win32.hpp"

namespace forms = pelmora::forms;
using pelmora::activex::OleControl;

namespace {

// Identifiers of the stand-in class (the real ones belong to the component).
const CLSID test_clsid = {0x8d0c5a51, 0x3f5e, 0x4f0b, {0x9a, 0x61, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};
const IID test_source = {0x8d0c5a52, 0x3f5e, 0x4f0b, {0x9a, 0x61, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};
int module_locks = 0;
bool class_info_throws = false;

HRESULT class_info(ITypeInfo** info) {
    if (class_info_throws) throw std::bad_alloc();
    *info = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
}
void lock_module(int delta) { module_locks += delta; }

const pelmora::activex::ClassDescription description{&test_clsid, &test_source, 0x20191, class_info, lock_module};

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// The control object: reference counted, owning its form and its ActiveX face.
class StandIn final : public IUnknown {
public:
    StandIn() : surface_(forms::win32::toolkit().create_surface("UserControl")) {
        surface_->set_geometry({0, 0, 7065, 2985});
        surface_->set_colours(forms::Colour::window_background(), forms::Colour::toolkit_default());
        list_ = &surface_->create_list("Combosex", *surface_);
        list_->set_geometry({4800, 1695, 1095, 315});
        list_->set_colours(forms::Colour::rgb(192, 192, 255), forms::Colour::rgb(0, 0, 0));
        list_->append("Male");
        list_->append("Female");
        list_->set_text("Female");
        second_ = &surface_->create_list("Combobase", *surface_);
        second_->set_geometry({3000, 120, 2175, 315});
        second_->set_tab_index(11);
        label_ = &surface_->create_label("output_label", *surface_);
        label_->set_geometry({100, 100, 600, 300});
        label_->set_colours(forms::Colour::rgb(255, 192, 192), forms::Colour::rgb(0, 0, 0));
        label_->set_caption("56");
        ole_ = std::make_unique<OleControl>(*this, *surface_, description);
        ++alive;
    }
    ~StandIn() {
        ole_->shut_down();
        ole_.reset();
        --alive;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown) *object = static_cast<IUnknown*>(this);
        else *object = ole_->find(riid);
        if (*object == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --refs_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    template <class I>
    I* as(REFIID riid) {
        void* p = nullptr;
        EXPECT_EQ(QueryInterface(riid, &p), S_OK);
        Release();  // the test's own reference keeps the object; keep the count honest
        return static_cast<I*>(p);
    }

    static inline int alive = 0;
    std::unique_ptr<forms::Surface> surface_;
    forms::DropDownList* list_ = nullptr;
    forms::DropDownList* second_ = nullptr;
    forms::Label* label_ = nullptr;
    std::unique_ptr<OleControl> ole_;
    long refs_ = 1;
};

// A container's site: client site, in-place site and frame in one object, recording every call.
class Site final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
public:
    explicit Site(HWND window) : window_(window) {}

    std::vector<std::string> calls;
    bool refuse_in_place = false;
    RECT position{12, 34, 12 + 471, 34 + 199};
    IOleInPlaceActiveObject* active = nullptr;
    long refs = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite) *object = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IOleInPlaceSite || riid == IID_IOleWindow) *object = static_cast<IOleInPlaceSite*>(this);
        else if (riid == IID_IOleInPlaceFrame || riid == IID_IOleInPlaceUIWindow)
            *object = static_cast<IOleInPlaceFrame*>(this);
        if (*object == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
        *window = window_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override {
        calls.emplace_back("CanInPlaceActivate");
        return refuse_in_place ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override {
        calls.emplace_back("OnInPlaceActivate");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override {
        calls.emplace_back("OnUIActivate");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT pos,
                                               LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        calls.emplace_back("GetWindowContext");
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *document = nullptr;
        *pos = position;
        *clip = position;
        info->fMDIApp = FALSE;
        info->hwndFrame = window_;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override {
        calls.emplace_back("OnUIDeactivate");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override {
        calls.emplace_back("OnInPlaceDeactivate");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return E_NOTIMPL; }

    // IOleInPlaceUIWindow / IOleInPlaceFrame
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override {
        calls.emplace_back(object != nullptr ? "SetActiveObject" : "SetActiveObject(null)");
        if (object != nullptr) object->AddRef();
        if (active != nullptr) active->Release();
        active = object;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

private:
    HWND window_;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

HWND shared_top_level() {
    static HWND top = CreateWindowExW(0, L"STATIC", L"container", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 400,
                                      nullptr, nullptr, nullptr, nullptr);
    return top;
}

class Activation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(OleInitialize(nullptr), S_OK);
        ASSERT_NE(shared_top_level(), nullptr);
        container_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 600, 360, shared_top_level(),
                                     nullptr, nullptr, nullptr);
        site_ = std::make_unique<Site>(container_);
        control_ = new StandIn();
        module_locks = 0;
        class_info_throws = false;
        ole_ = control_->as<IOleObject>(IID_IOleObject);
        ASSERT_NE(ole_, nullptr);
    }
    void TearDown() override {
        if (control_ != nullptr) {
            ole_->Close(OLECLOSE_NOSAVE);
            ole_->SetClientSite(nullptr);
            EXPECT_EQ(control_->Release(), 0U);
        }
        EXPECT_EQ(StandIn::alive, 0);
        EXPECT_EQ(site_->refs, 1) << "the control let go of every reference to the container";
        EXPECT_EQ(module_locks, 0);
        if (container_ != nullptr) DestroyWindow(container_);
        OleUninitialize();
    }
    HWND form_window() {
        HWND w = nullptr;
        control_->as<IOleInPlaceObject>(IID_IOleInPlaceObject)->GetWindow(&w);
        return w;
    }

    HWND container_ = nullptr;
    std::unique_ptr<Site> site_;
    StandIn* control_ = nullptr;
    IOleObject* ole_ = nullptr;
};

TEST_F(Activation, InPlaceActivationCreatesTheWindowWhereTheContainerSays) {
    ASSERT_EQ(ole_->SetClientSite(site_.get()), S_OK);
    EXPECT_EQ(form_window(), nullptr);
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.get(), 0, container_, &site_->position), S_OK);
    EXPECT_EQ(site_->calls, (std::vector<std::string>{"CanInPlaceActivate", "OnInPlaceActivate", "GetWindowContext"}));
    HWND w = form_window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(GetParent(w), container_);
    RECT r{};
    GetWindowRect(w, &r);
    MapWindowPoints(HWND_DESKTOP, container_, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 12);
    EXPECT_EQ(r.top, 34);
    EXPECT_EQ(r.right - r.left, 471);
    EXPECT_EQ(r.bottom - r.top, 199);
    EXPECT_EQ(module_locks, 1) << "the library stays loaded while the window lives";
    EXPECT_TRUE(IsWindowVisible(w));

    // The container moves and sizes the control.
    const RECT moved{5, 6, 305, 106};
    EXPECT_EQ(control_->as<IOleInPlaceObject>(IID_IOleInPlaceObject)->SetObjectRects(&moved, &moved), S_OK);
    GetWindowRect(w, &r);
    MapWindowPoints(HWND_DESKTOP, container_, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 5);
    EXPECT_EQ(r.right - r.left, 300);
    EXPECT_EQ(r.bottom - r.top, 100);

    // Activating again changes nothing.
    site_->calls.clear();
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.get(), 0, container_, &site_->position), S_OK);
    EXPECT_TRUE(site_->calls.empty());
    EXPECT_EQ(form_window(), w);

    EXPECT_EQ(control_->as<IOleInPlaceObject>(IID_IOleInPlaceObject)->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(site_->calls, std::vector<std::string>{"OnInPlaceDeactivate"});
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(form_window(), nullptr);
    EXPECT_EQ(module_locks, 0);
    EXPECT_EQ(control_->list_->text(), "Female") << "the form outlives its window";
}

TEST_F(Activation, UiActivationMakesTheControlActiveAndFocusesItsFirstList) {
    ASSERT_EQ(ole_->SetClientSite(site_.get()), S_OK);
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_UIACTIVATE, nullptr, site_.get(), 0, container_, &site_->position), S_OK);
    EXPECT_EQ(site_->calls, (std::vector<std::string>{"CanInPlaceActivate", "OnInPlaceActivate", "GetWindowContext",
                                                      "OnUIActivate", "SetActiveObject"}));
    ASSERT_NE(site_->active, nullptr);
    EXPECT_EQ(GetFocus(), static_cast<HWND>(control_->list_->native_handle()));

    // The container hands keys to the active object: Tab goes to the next list by tab index.
    MSG tab{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    EXPECT_EQ(site_->active->TranslateAccelerator(&tab), S_OK);
    EXPECT_EQ(GetFocus(), static_cast<HWND>(control_->second_->native_handle()));
    MSG other{container_, WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    EXPECT_EQ(site_->active->TranslateAccelerator(&other), S_FALSE);
    EXPECT_EQ(site_->active->TranslateAccelerator(nullptr), E_INVALIDARG);

    site_->calls.clear();
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_HIDE, nullptr, site_.get(), 0, container_, &site_->position), S_OK);
    EXPECT_EQ(site_->calls, (std::vector<std::string>{"SetActiveObject(null)", "OnUIDeactivate"}));
    EXPECT_FALSE(IsWindowVisible(form_window()));
    EXPECT_EQ(site_->active, nullptr);
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_SHOW, nullptr, site_.get(), 0, container_, &site_->position), S_OK);
    EXPECT_TRUE(IsWindowVisible(form_window()));

    site_->calls.clear();
    EXPECT_EQ(ole_->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(site_->calls,
              (std::vector<std::string>{"SetActiveObject(null)", "OnUIDeactivate", "OnInPlaceDeactivate"}));
    EXPECT_EQ(module_locks, 0);
}

TEST_F(Activation, VerbsTheControlDoesNotOfferAndRefusedActivation) {
    ASSERT_EQ(ole_->SetClientSite(site_.get()), S_OK);
    for (LONG verb : {OLEIVERB_OPEN, OLEIVERB_DISCARDUNDOSTATE, -7L}) {
        EXPECT_EQ(ole_->DoVerb(verb, nullptr, site_.get(), 0, container_, &site_->position), E_NOTIMPL) << verb;
    }
    EXPECT_EQ(form_window(), nullptr);
    site_->refuse_in_place = true;
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.get(), 0, container_, &site_->position),
              OLEOBJ_S_CANNOT_DOVERB_NOW);
    EXPECT_EQ(form_window(), nullptr);
    site_->refuse_in_place = false;
    // An unknown positive verb is taken as the primary verb.
    EXPECT_EQ(ole_->DoVerb(7, nullptr, site_.get(), 0, container_, &site_->position), OLEOBJ_S_INVALIDVERB);
    EXPECT_NE(form_window(), nullptr);
}

TEST_F(Activation, AContainerDestroyingItsWindowTakesTheFormsWindowAndTheLock) {
    ASSERT_EQ(ole_->SetClientSite(site_.get()), S_OK);
    ASSERT_EQ(ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.get(), 0, container_, &site_->position), S_OK);
    EXPECT_EQ(module_locks, 1);
    DestroyWindow(container_);
    container_ = nullptr;
    EXPECT_EQ(module_locks, 0);
    EXPECT_EQ(form_window(), nullptr);
    site_->calls.clear();
    EXPECT_EQ(ole_->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(site_->calls, std::vector<std::string>{"OnInPlaceDeactivate"});
}

TEST_F(Activation, ReleasingTheLastReferenceWhileActiveLeavesNothingBehind) {
    ASSERT_EQ(ole_->SetClientSite(site_.get()), S_OK);
    ASSERT_EQ(ole_->DoVerb(OLEIVERB_UIACTIVATE, nullptr, site_.get(), 0, container_, &site_->position), S_OK);
    HWND w = form_window();
    // A careless container: the frame lets go of the active object, then the last reference goes.
    site_->active->Release();
    site_->active = nullptr;
    EXPECT_EQ(control_->Release(), 0U);
    control_ = nullptr;
    EXPECT_FALSE(IsWindow(w));
}

TEST_F(Activation, ObjectAnswers) {
    DWORD status = 0;
    EXPECT_EQ(ole_->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, 0x20191U);
    CLSID clsid{};
    EXPECT_EQ(ole_->GetUserClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, test_clsid);
    EXPECT_EQ(control_->as<IPersistStreamInit>(IID_IPersistStreamInit)->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, test_clsid);

    // The natural extent is the surface's, in HIMETRIC: 7065 x 2985 twips.
    SIZEL size{};
    EXPECT_EQ(ole_->GetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(size.cx, 12462);
    EXPECT_EQ(size.cy, 5265);
    SIZEL wanted{5000, 2000};
    EXPECT_EQ(ole_->SetExtent(DVASPECT_CONTENT, &wanted), S_OK);
    EXPECT_EQ(control_->as<IViewObject2>(IID_IViewObject2)->GetExtent(DVASPECT_CONTENT, -1, nullptr, &size), S_OK);
    EXPECT_EQ(size.cx, 5000);
    EXPECT_EQ(ole_->GetExtent(DVASPECT_ICON, &size), DV_E_DVASPECT);

    // The client site goes back to whoever asks.
    IOleClientSite* site = nullptr;
    EXPECT_EQ(ole_->GetClientSite(&site), S_OK);
    EXPECT_EQ(site, nullptr);
    ole_->SetClientSite(site_.get());
    EXPECT_EQ(ole_->GetClientSite(&site), S_OK);
    EXPECT_EQ(site, static_cast<IOleClientSite*>(site_.get()));
    site->Release();

    // Advise connections, through OLE's own advise holder.
    DWORD cookie = 0;
    EXPECT_EQ(ole_->Advise(nullptr, &cookie), E_INVALIDARG);
    IEnumSTATDATA* connections = nullptr;
    EXPECT_EQ(ole_->EnumAdvise(&connections), S_OK);
    EXPECT_EQ(connections, nullptr);
    EXPECT_EQ(ole_->Unadvise(1), OLE_E_NOCONNECTION);

    // Class information: the default source interface; the coclass from the component's table.
    auto* info2 = control_->as<IProvideClassInfo2>(IID_IProvideClassInfo2);
    GUID source{};
    EXPECT_EQ(info2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
    EXPECT_EQ(source, test_source);
    EXPECT_EQ(info2->GetGUID(99, &source), E_INVALIDARG);
    ITypeInfo* type = nullptr;
    EXPECT_EQ(info2->GetClassInfo(&type), TYPE_E_ELEMENTNOTFOUND);
    class_info_throws = true;
    EXPECT_EQ(info2->GetClassInfo(&type), E_OUTOFMEMORY) << "a C++ failure stops at the COM method";
    EXPECT_EQ(type, nullptr);

    // Nothing to persist.
    auto* persist = control_->as<IPersistStreamInit>(IID_IPersistStreamInit);
    EXPECT_EQ(persist->InitNew(), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    ULARGE_INTEGER max{};
    max.QuadPart = 77;
    EXPECT_EQ(persist->GetSizeMax(&max), S_OK);
    EXPECT_EQ(max.QuadPart, 0U);
    EXPECT_EQ(persist->Load(nullptr), E_POINTER);

    CONTROLINFO ci{};
    ci.cb = sizeof ci;
    EXPECT_EQ(control_->as<IOleControl>(IID_IOleControl)->GetControlInfo(&ci), S_OK);
    EXPECT_EQ(ci.cAccel, 0);

    // The window interfaces without a window.
    HWND w = reinterpret_cast<HWND>(1);
    EXPECT_EQ(control_->as<IOleWindow>(IID_IOleWindow)->GetWindow(&w), E_FAIL);
    EXPECT_EQ(w, nullptr);
    void* none = nullptr;
    EXPECT_EQ(control_->QueryInterface(IID_IDataObject, &none), E_NOINTERFACE);
}

TEST_F(Activation, DrawPaintsTheFormIntoAnyRectangle) {
    auto* view = control_->as<IViewObject2>(IID_IViewObject2);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 471, 199);
    ReleaseDC(nullptr, screen);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    const RECTL bounds{0, 0, 471, 199};
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), S_OK);
    // Inside the list (4800,1695 twips = 320,113 px) its pale blue; inside the label its pale red;
    // elsewhere the window colour.
    EXPECT_EQ(GetPixel(dc, 320 + 60, 113 + 3), RGB(192, 192, 255));
    EXPECT_EQ(GetPixel(dc, 42, 8), RGB(255, 192, 192));
    EXPECT_EQ(GetPixel(dc, 460, 190), GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
              DV_E_DVASPECT);
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, nullptr, nullptr, nullptr, 0),
              E_INVALIDARG);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

}  // namespace
