// The control's face in the WebAssembly module: the form itself (its control table, lists,
// UserControl_Initialize, Combobase_Click and Recalculate) on the headless forms toolkit, calling
// the calculators through a _Pelmora of its own, as the component's object does. The element
// <pelmora-centile> draws what this face holds and hands it a person's picks.

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "pelmora/calc/calculators.hpp"
#include "pelmora/form/form.hpp"
#include "pelmora/form/layout.hpp"
#include "pelmora/forms/toolkit.hpp"
#include "pelmora/text/utf.hpp"
#include "pelmora_idl.h"

#define PELMORA_WEB_EXPORT extern "C" __attribute__((used, visibility("default")))

namespace {

namespace calc = pelmora::calc;
namespace form = pelmora::form;
namespace forms = pelmora::forms;
using pelmora::Error;

constexpr double no_value = std::numeric_limits<double>::quiet_NaN();

/// What the form's last calculator call was given and gave back.
struct LastCall {
    bool made = false;
    calc::Base base = calc::Base::united_kingdom;
    double in[7] = {};  // bwt, gest (days), wt, ht, sex, eth, par as passed, before any write-back
    double centile = no_value;
};

// The failure a calculator reports, as the component reports it: the control-facility status
// of its run-time error number, and error information carrying the runtime's text.
HRESULT report(int number, const char* text) noexcept {
    try {
        const std::basic_string<OLECHAR> description = pelmora::text::from_utf8<OLECHAR>(text);
        ICreateErrorInfo* create = nullptr;
        if (SUCCEEDED(CreateErrorInfo(&create))) {
            create->SetGUID(IID__Pelmora);
            create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
            IErrorInfo* info = nullptr;
            if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
                SetErrorInfo(0, info);
                info->Release();
            }
            create->Release();
        }
    } catch (...) {
        // Out of memory while reporting: the status still says what happened.
    }
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<unsigned>(number) & 0xFFFF);
}

/// The form's partner: the calculators behind _Pelmora's four methods. The form passes references
/// to its fields (doubles and 16-bit integers), so the write-backs land there as they do through
/// the component. Nothing here is reached by anyone but the form; late binding is not offered.
class WebControl final : public _Pelmora {
public:
    LastCall last;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, IID__Pelmora))
            return E_NOINTERFACE;
        *ppv = static_cast<_Pelmora*>(this);
        return S_OK;
    }
    // The face owns the control; references only mark the form's calls.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE custcentukn(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht, VARIANT* sex,
                                          VARIANT* eth, VARIANT* par, VARIANT* result) override {
        return call(calc::Base::united_kingdom, {bwt, gest, wt, ht, sex, eth, par}, result);
    }
    HRESULT STDMETHODCALLTYPE custcentswe(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht, VARIANT* sex,
                                          VARIANT* eth, VARIANT* par, VARIANT* result) override {
        return call(calc::Base::sweden, {bwt, gest, wt, ht, sex, eth, par}, result);
    }
    HRESULT STDMETHODCALLTYPE custcentnz(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht, VARIANT* sex,
                                         VARIANT* eth, VARIANT* par, VARIANT* result) override {
        return call(calc::Base::new_zealand, {bwt, gest, wt, ht, sex, eth, par}, result);
    }
    HRESULT STDMETHODCALLTYPE custcentau(VARIANT* bwt, VARIANT* gest, VARIANT* wt, VARIANT* ht, VARIANT* sex,
                                         VARIANT* eth, VARIANT* par, VARIANT* result) override {
        return call(calc::Base::australia, {bwt, gest, wt, ht, sex, eth, par}, result);
    }

private:
    HRESULT call(calc::Base base, VARIANT* const (&in)[7], VARIANT* result) noexcept {
        SetErrorInfo(0, nullptr);
        if (!result) return E_POINTER;
        VariantInit(result);
        calc::Arg args[7];
        LastCall call;
        call.base = base;
        for (int i = 0; i < 7; ++i) {
            VARIANT* v = in[i];
            if (!v) return E_POINTER;
            if (V_VT(v) == (VT_BYREF | VT_R8)) {
                args[i] = calc::Arg::ref(V_R8REF(v));
                call.in[i] = *V_R8REF(v);
            } else if (V_VT(v) == (VT_BYREF | VT_I2)) {
                args[i] = calc::Arg::ref(reinterpret_cast<std::int16_t*>(V_I2REF(v)));
                call.in[i] = *V_I2REF(v);
            } else {
                return report(pelmora::error_number(Error::type_mismatch), pelmora::error_text(Error::type_mismatch));
            }
        }
        try {
            const calc::Evaluation ev =
                calc::evaluate(base, args[0], args[1], args[2], args[3], args[4], args[5], args[6]);
            call.made = true;
            if (ev.missing) {
                V_VT(result) = VT_BSTR;
                V_BSTR(result) = SysAllocStringLen(nullptr, 0);
                if (!V_BSTR(result)) return E_OUTOFMEMORY;
            } else {
                call.centile = ev.centile;
                V_VT(result) = VT_R8;
                V_R8(result) = ev.centile;
            }
            last = call;
            return S_OK;
        } catch (const calc::Failure& f) {
            return report(f.number(), f.text());
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }
};

struct Face {
    WebControl control;
    std::unique_ptr<form::Form> form;
    int failure_number = 0;
    std::string failure_text;
    std::string answer;  // the text of the last string answer, kept for the caller to read
};

forms::DropDownList* list_of(Face* face, const char* name) {
    return face ? face->form->surface().find_list(name ? name : "") : nullptr;
}

const char* keep(Face* face, std::string text) {
    face->answer = std::move(text);
    return face->answer.c_str();
}

// --- The control table as JSON, for the element's look --------------------------------------

void append_quoted(std::string& out, std::string_view s) {
    out += '"';
    for (const char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
}

std::string colour_json(const forms::Colour& c) {
    using K = forms::Colour::Kind;
    switch (c.kind) {
    case K::window_background: return "\"window\"";
    case K::window_text: return "\"window-text\"";
    case K::toolkit_default: return "null";
    default: break;
    }
    return "[" + std::to_string(c.red) + "," + std::to_string(c.green) + "," + std::to_string(c.blue) + "]";
}

std::string rect_json(const forms::Rect& r) {
    return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.width) + "," +
           std::to_string(r.height) + "]";
}

std::string layout_json(Face& face) {
    std::string out = "{\"surface\":{\"name\":";
    append_quoted(out, form::surface_name);
    out += ",\"rect\":" + rect_json(form::surface_rect) + ",\"background\":" + colour_json(form::surface_background);
    out += "},\"controls\":[";
    bool first = true;
    for (const form::ControlRow& row : form::control_table) {
        if (!first) out += ',';
        first = false;
        out += "{\"name\":";
        append_quoted(out, row.name);
        out += ",\"kind\":";
        append_quoted(out, row.kind == form::Kind::list ? "list" : row.kind == form::Kind::label ? "label" : "frame");
        out += ",\"container\":";
        append_quoted(out, row.container);
        out += ",\"caption\":";
        append_quoted(out, row.caption);
        out += ",\"rect\":" + rect_json(row.rect) + ",\"tabIndex\":" + std::to_string(row.tab_index);
        out += ",\"background\":" + colour_json(row.background) + ",\"text\":" + colour_json(row.text);
        out += ",\"alignment\":";
        append_quoted(out, row.alignment == forms::Alignment::left    ? "left"
                           : row.alignment == forms::Alignment::right ? "right"
                                                                      : "center");
        out += '}';
    }
    out += "],\"focusChain\":[";
    first = true;
    for (forms::Control* c : face.form->surface().focus_chain()) {
        if (!first) out += ',';
        first = false;
        append_quoted(out, c->name());
    }
    out += "]}";
    return out;
}

}  // namespace

/// A new face, initialised as the control is on creation (lists filled, first result shown).
/// Null when it could not be built.
PELMORA_WEB_EXPORT Face* pelmora_face_create() {
    auto* face = new (std::nothrow) Face;
    if (!face) return nullptr;
    try {
        face->form = std::make_unique<form::Form>(forms::headless_toolkit(), &face->control);
        face->form->surface().set_failure_sink([face](const forms::RuntimeError& e) {
            face->failure_number = e.number();
            face->failure_text = e.text();
        });
        face->form->surface().raise_initialise();
    } catch (...) {
        delete face;
        return nullptr;
    }
    return face;
}

PELMORA_WEB_EXPORT void pelmora_face_destroy(Face* face) { delete face; }

/// A person's pick of the item `text` in list `name`, with the click it raises. 0 when done;
/// otherwise the run-time error number (Invalid property value when the list has no such item,
/// which changes nothing; Object variable not set for a name that is no list; or a handler's
/// failure, whose text pelmora_face_failure gives).
PELMORA_WEB_EXPORT int pelmora_face_pick(Face* face, const char* name, const char* text) {
    forms::DropDownList* list = list_of(face, name);
    if (!list) return pelmora::error_number(Error::object_not_set);
    face->failure_number = 0;
    face->failure_text.clear();
    try {
        // A person picks one of the items: the empty text, which the toolkit takes as picking
        // none, is no item.
        const std::string_view wanted = text ? text : "";
        bool is_item = false;
        for (std::size_t i = 0; i < list->count() && !is_item; ++i) is_item = list->item(i) == wanted;
        if (!is_item) throw forms::RuntimeError(Error::invalid_property_value);
        list->pick(wanted);
    } catch (const forms::RuntimeError& e) {
        face->failure_number = e.number();
        face->failure_text = e.text();
    } catch (...) {
        face->failure_number = pelmora::error_number(Error::internal_error);
        face->failure_text = pelmora::error_text(Error::internal_error);
    }
    return face->failure_number;
}

PELMORA_WEB_EXPORT const char* pelmora_face_failure(Face* face) { return face ? face->failure_text.c_str() : ""; }

/// The list's text; null for a name that is no list.
PELMORA_WEB_EXPORT const char* pelmora_face_text(Face* face, const char* name) {
    forms::DropDownList* list = list_of(face, name);
    return list ? keep(face, list->text()) : nullptr;
}

/// The list's items, each followed by a line feed; null for a name that is no list.
PELMORA_WEB_EXPORT const char* pelmora_face_items(Face* face, const char* name) {
    forms::DropDownList* list = list_of(face, name);
    if (!list) return nullptr;
    std::string joined;
    for (std::size_t i = 0; i < list->count(); ++i) joined += list->item(i) + '\n';
    return keep(face, std::move(joined));
}

/// The caption of a label of the form ("output_label", "Label8"); null for a name that is no label.
PELMORA_WEB_EXPORT const char* pelmora_face_caption(Face* face, const char* name) {
    forms::Label* label = face ? face->form->surface().find_label(name ? name : "") : nullptr;
    return label ? keep(face, label->caption()) : nullptr;
}

/// The last calculation the form made: its centile (NaN for none or a missing input), its base
/// and, for `index` 0..6, its inputs as the form passed them (gestation in days).
PELMORA_WEB_EXPORT double pelmora_face_last(Face* face, int index) {
    if (!face || !face->control.last.made) return no_value;
    if (index < 0) return static_cast<double>(face->control.last.base);
    if (index >= 7) return face->control.last.centile;
    return face->control.last.in[index];
}

/// The control table, the surface and the keyboard's order as JSON.
PELMORA_WEB_EXPORT const char* pelmora_face_layout(Face* face) {
    if (!face) return "";
    try {
        return keep(face, layout_json(*face));
    } catch (...) {
        return "";
    }
}
