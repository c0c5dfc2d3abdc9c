#pragma once
// The ActiveX face of Pelmora on Windows: the interfaces a container of controls uses to place,
// show, size, draw and feed keys to the control (IOleObject, IOleInPlaceObject,
// IOleInPlaceActiveObject, IOleControl, IViewObject2, IPersistStreamInit, IProvideClassInfo2).
//
// OleControl is a part of the control object, not an object of its own: its IUnknown methods go
// to the control object (the `outer` given at construction), which answers QueryInterface for
// the interfaces find() names. The form's window is created when the container activates the
// control in place (containers may never ask for UI activation) and destroyed on deactivation;
// while it exists the module stays locked, so DllCanUnloadNow answers S_FALSE.
//
// No C++ exception leaves a method: failures become HRESULTs.

#include <windows.h>
#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>

namespace pelmora::forms {
class Surface;
namespace win32 {
class SurfaceWindow;
}
}  // namespace pelmora::forms

namespace pelmora::activex {

/// What OleControl needs to know of the class it is part of; everything comes from the
/// component's own tables (the IDL's identifiers, the registration's MiscStatus).
struct ClassDescription {
    const CLSID* clsid;         ///< the coclass
    const IID* default_source;  ///< the default source dispinterface
    DWORD misc_status;          ///< OLEMISC_* bits, as registered
    /// The coclass's type information (for IProvideClassInfo); AddRef'd into *info.
    HRESULT (*class_info)(ITypeInfo** info);
    /// Called with +1 when a window of the control comes into being and -1 when it is gone, so
    /// that the module is not unloaded under a live window.
    void (*lock_module)(int delta);
};

// COM interfaces have no virtual destructor, by their binary layout; the object is destroyed by
// the control object that owns it, never through an interface pointer.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
class OleControl final : public IOleObject,
                         public IOleInPlaceObject,
                         public IOleInPlaceActiveObject,
                         public IOleControl,
                         public IViewObject2,
                         public IPersistStreamInit,
                         public IProvideClassInfo2 {
public:
    /// `outer` owns this part and outlives it; `surface` is the control's form, made by the
    /// Win32 forms backend.
    OleControl(IUnknown& outer, forms::Surface& surface, const ClassDescription& description);
    ~OleControl();
    OleControl(const OleControl&) = delete;
    OleControl& operator=(const OleControl&) = delete;

    /// The interface pointer for `riid` when it is one of ours (IOleWindow included), not
    /// AddRef'd; nullptr otherwise.
    [[nodiscard]] void* find(REFIID riid) noexcept;
    /// Deactivates, destroys the window and lets go of the container's objects; called by the
    /// control object before it dies (and harmless at any other time).
    void shut_down() noexcept;
    /// True while the form's window exists.
    [[nodiscard]] bool has_window() const noexcept;

    // IUnknown: the control object's.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
    HRESULT STDMETHODCALLTYPE Close(DWORD save_option) override;
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD which, IMoniker* moniker) override;
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD reserved, IDataObject** data) override;
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG message, IOleClientSite* active_site, LONG index, HWND parent,
                                     LPCRECT position) override;
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override;
    HRESULT STDMETHODCALLTYPE Update() override;
    HRESULT STDMETHODCALLTYPE IsUpToDate() override;
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* type) override;
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override;
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advise) override;
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE* palette) override;

    // IOleWindow, through IOleInPlaceObject and IOleInPlaceActiveObject
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enter) override;

    // IOleInPlaceObject
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE UIDeactivate() override;
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT clip) override;
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;

    // IOleInPlaceActiveObject
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message) override;
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL activate) override;
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL activate) override;
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) override;
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL enable) override;

    // IOleControl
    HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override;
    HRESULT STDMETHODCALLTYPE OnMnemonic(MSG* message) override;
    HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID dispid) override;
    HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override;

    // IViewObject2
    HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG index, void* aspect_info, DVTARGETDEVICE* device, HDC target_dc,
                                   HDC dc, LPCRECTL bounds, LPCRECTL window_bounds,
                                   BOOL(STDMETHODCALLTYPE* keep_going)(ULONG_PTR), ULONG_PTR keep_going_arg) override;
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD aspect, LONG index, void* aspect_info, DVTARGETDEVICE* device,
                                          HDC target_dc, LOGPALETTE** colours) override;
    HRESULT STDMETHODCALLTYPE Freeze(DWORD aspect, LONG index, void* aspect_info, DWORD* freeze) override;
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD freeze) override;
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;

    // IPersistStreamInit
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(LPSTREAM stream) override;
    HRESULT STDMETHODCALLTYPE Save(LPSTREAM stream, BOOL clear_dirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;
    HRESULT STDMETHODCALLTYPE InitNew() override;

    // IProvideClassInfo2
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;

private:
    HRESULT activate(bool ui_activate, IOleClientSite* active_site);
    HRESULT deactivate_in_place();
    void ui_deactivate();
    void window_gone() noexcept;
    void release_site_objects() noexcept;

    IUnknown& outer_;
    forms::Surface& surface_;
    forms::win32::SurfaceWindow* window_;
    ClassDescription description_;

    IOleClientSite* client_site_ = nullptr;
    IOleInPlaceSite* in_place_site_ = nullptr;
    IOleInPlaceFrame* frame_ = nullptr;
    IOleInPlaceUIWindow* document_ = nullptr;
    IOleAdviseHolder* advise_holder_ = nullptr;
    IAdviseSink* view_sink_ = nullptr;
    DWORD view_aspects_ = 0;
    DWORD view_flags_ = 0;
    SIZEL extent_{};  ///< HIMETRIC
    bool in_place_ = false;
    bool ui_active_ = false;
    bool locked_ = false;  ///< the module lock taken for the live window
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

}  // namespace pelmora::activex
