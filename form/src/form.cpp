#include "pelmora/form/form.hpp"

#include <cmath>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "pelmora/errors.hpp"
#include "pelmora/form/layout.hpp"
#include "pelmora/text/utf.hpp"
#include "pelmora_idl.h"

namespace pelmora::form {

struct Form::Lists {
    forms::DropDownList* base;
    forms::DropDownList* bwt;
    forms::DropDownList* gd;
    forms::DropDownList* gw;
    forms::DropDownList* wt;
    forms::DropDownList* ht;
    forms::DropDownList* par;
    forms::DropDownList* eth;
    forms::DropDownList* sex;
};

namespace {

forms::DropDownList& list_named(forms::Surface& surface, std::string_view name) {
    forms::DropDownList* list = surface.find_list(name);
    if (list == nullptr) throw forms::RuntimeError(Error::object_not_set);
    return *list;
}

// --- The call through the dual interface ------------------------------------------------------

using Calculator = HRESULT (STDMETHODCALLTYPE _Pelmora::*)(VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*,
                                                           VARIANT*, VARIANT*);

Calculator calculator_of(calc::Base base) noexcept {
    switch (base) {
    case calc::Base::united_kingdom: return &_Pelmora::custcentukn;
    case calc::Base::sweden: return &_Pelmora::custcentswe;
    case calc::Base::new_zealand: return &_Pelmora::custcentnz;
    case calc::Base::australia: return &_Pelmora::custcentau;
    }
    return &_Pelmora::custcentukn;
}

VARIANT reference_to(double* field) noexcept {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = static_cast<VARTYPE>(VT_BYREF | VT_R8);
    V_R8REF(&v) = field;
    return v;
}

VARIANT reference_to(std::int16_t* field) noexcept {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = static_cast<VARTYPE>(VT_BYREF | VT_I2);
    V_I2REF(&v) = field;
    return v;
}

// A failing status from the calculator becomes the runtime error it carries: the number from a
// control-facility status (or the automation equivalent), the text from the error information the
// object left for this thread.
[[noreturn]] void raise_call_failure(HRESULT hr) {
    int number = error_number(Error::automation_error);
    if (HRESULT_FACILITY(hr) == FACILITY_CONTROL) {
        number = HRESULT_CODE(hr);
    } else if (hr == DISP_E_OVERFLOW) {
        number = error_number(Error::overflow);
    } else if (hr == DISP_E_DIVBYZERO) {
        number = error_number(Error::division_by_zero);
    } else if (hr == DISP_E_TYPEMISMATCH) {
        number = error_number(Error::type_mismatch);
    } else if (hr == E_OUTOFMEMORY) {
        number = error_number(Error::out_of_memory);
    }
    std::string text;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info != nullptr) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description)) && description != nullptr)
            text = pelmora::text::to_utf8(std::basic_string_view<OLECHAR>(description, SysStringLen(description)));
        SysFreeString(description);
        info->Release();
    }
    if (text.empty()) text = error_text(error_numbered(number).value_or(Error::automation_error));
    throw forms::RuntimeError(number, text);
}

// The centile of a result variant: a double, or anything that converts to one; text (the empty
// text of a missing input included) is a type mismatch, as adding 0.5 to it would be.
double centile_of(VARIANT& result) {
    if (V_VT(&result) == VT_R8) return V_R8(&result);
    VARIANT converted;
    VariantInit(&converted);
    const bool ok = V_VT(&result) != VT_BSTR && V_VT(&result) != VT_EMPTY && V_VT(&result) != VT_NULL &&
                    SUCCEEDED(VariantChangeType(&converted, &result, 0, VT_R8));
    if (!ok) throw forms::RuntimeError(Error::type_mismatch);
    return V_R8(&converted);
}

struct ClearOnExit {
    VARIANT* v;
    ~ClearOnExit() { VariantClear(v); }
};

}  // namespace

Form::Form(forms::Toolkit& toolkit, _Pelmora* self)
    : self_(self), surface_(toolkit.create_surface(std::string(surface_name))) {
    forms::Surface& s = *surface_;
    s.set_geometry(surface_rect);
    s.set_colours(surface_background, forms::Colour::toolkit_default());
    for (const ControlRow& row : control_table) {
        forms::Container* parent = &s;
        if (!row.container.empty()) {
            forms::Control* c = s.find(row.container);
            parent = c != nullptr ? c->as_container() : nullptr;
            if (parent == nullptr) throw std::logic_error("control table: container after its controls");
        }
        forms::Control* control = nullptr;
        switch (row.kind) {
        case Kind::list: control = &s.create_list(std::string(row.name), *parent); break;
        case Kind::frame: control = &s.create_frame(std::string(row.name), *parent); break;
        case Kind::label: {
            forms::Label& label = s.create_label(std::string(row.name), *parent);
            label.set_caption(row.caption);
            label.set_alignment(row.alignment);
            control = &label;
            break;
        }
        }
        control->set_geometry(row.rect);
        control->set_colours(row.background, row.text);
        control->set_tab_index(row.tab_index);
    }
    lists_ = std::make_unique<Lists>(Lists{
        &list_named(s, list_names.base),
        &list_named(s, list_names.bwt),
        &list_named(s, list_names.gd),
        &list_named(s, list_names.gw),
        &list_named(s, list_names.wt),
        &list_named(s, list_names.ht),
        &list_named(s, list_names.par),
        &list_named(s, list_names.eth),
        &list_named(s, list_names.sex),
    });
    output_label_ = s.find_label("output_label");

    s.on_initialise([this] { UserControl_Initialize(); });
    lists_->base->on_click(holding_self(&Form::Combobase_Click));
    for (forms::DropDownList* list :
         {lists_->bwt, lists_->gw, lists_->gd, lists_->wt, lists_->ht, lists_->sex, lists_->eth, lists_->par})
        list->on_click(holding_self(&Form::Recalculate));
}

Form::~Form() = default;

// While a click handler runs the control keeps itself alive.
forms::Handler Form::holding_self(void (Form::*handler)()) {
    return [this, handler] {
        struct Hold {
            _Pelmora* self;
            explicit Hold(_Pelmora* p) : self(p) {
                if (self != nullptr) self->AddRef();
            }
            ~Hold() {
                if (self != nullptr) self->Release();
            }
            Hold(const Hold&) = delete;
            Hold& operator=(const Hold&) = delete;
        } hold(self_);
        (this->*handler)();
    };
}

void Form::UserControl_Initialize() {
    const Lists& l = *lists_;
    for (const NumericList& n : numeric_lists) {
        forms::DropDownList& list = list_named(*surface_, n.name);
        for (int v = n.range.first; v <= n.range.last; v += n.range.step) list.append(decimal_text(v));
        if (&list == l.bwt) list.append(over_5000);
    }
    for (const std::string_view g : startup_ethnic_items()) l.eth->append(g);
    for (const std::string_view p : calc::parity_texts()) l.par->append(p);
    for (const std::string_view s : sex_items) l.sex->append(s);
    for (const calc::Base b : base_items) l.base->append(calc::base_name(b));

    for (const NumericList& n : numeric_lists) list_named(*surface_, n.name).set_text(decimal_text(n.picked));
    l.sex->set_text(sex_picked);
    l.eth->set_text(reference_group(calc::Base::united_kingdom));
    l.par->set_text(calc::parity_texts().front());
    l.base->set_text(calc::base_name(base_picked));
    Recalculate();
}

void Form::Combobase_Click() {
    const std::string chosen = lists_->base->text();
    const std::optional<calc::Base> base = base_named(chosen);
    if (!base) return;
    forms::DropDownList& eth = *lists_->eth;
    eth.clear();
    for (const std::string_view g : ethnic_items(*base)) eth.append(g);
    eth.set_text(reference_group(*base));
    Recalculate();
}

void Form::Recalculate() {
    const Lists& l = *lists_;
    const PerList<std::string> texts{l.base->text(), l.bwt->text(), l.gd->text(),  l.gw->text(), l.wt->text(),
                                     l.ht->text(),   l.par->text(), l.eth->text(), l.sex->text()};
    read_fields(texts, fields_);

    const std::optional<calc::Base> base = base_named(l.base->text());
    if (!base) return;
    if (self_ == nullptr) throw forms::RuntimeError(Error::object_not_set);
    VARIANT bwt = reference_to(&fields_.bwtval);
    VARIANT gest = reference_to(&fields_.gestval);
    VARIANT wt = reference_to(&fields_.wtval);
    VARIANT ht = reference_to(&fields_.htval);
    VARIANT sex = reference_to(&fields_.sexval);
    VARIANT eth = reference_to(&fields_.ethval);
    VARIANT par = reference_to(&fields_.parval);
    VARIANT result;
    VariantInit(&result);
    const ClearOnExit clear{&result};
    const HRESULT hr = (self_->*calculator_of(*base))(&bwt, &gest, &wt, &ht, &sex, &eth, &par, &result);
    if (FAILED(hr)) raise_call_failure(hr);

    output_label_->set_caption(result_caption(centile_of(result)));
}

}  // namespace pelmora::form
