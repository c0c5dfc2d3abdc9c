// Calling the four calculators: by position (the vtable) and by name or dispatch id
// (IDispatch), and the report of a failure in both forms.

#include <cstring>
#include <new>

#include "pelmora/calc/calculators.hpp"
#include "pelmora_object.hpp"
#include "text.hpp"

namespace pelmora::component {
namespace {

using Calculator = calc::Arg (*)(calc::Arg&, calc::Arg&, calc::Arg&, calc::Arg&, calc::Arg&, calc::Arg&, calc::Arg&);

// In the order of `_Pelmora`'s vtable (Method).
constexpr Calculator calculators[method_count] = {&calc::custcentukn, &calc::custcentswe, &calc::custcentnz,
                                                  &calc::custcentau};

constexpr char error_source[] = "Pelmora";

const MethodInfo* find_method(DISPID id, Method& which) {
    const auto* table = methods();
    if (!table) return nullptr;
    for (std::size_t m = 0; m < method_count; ++m) {
        if ((*table)[m].dispid == id) {
            which = static_cast<Method>(m);
            return &(*table)[m];
        }
    }
    return nullptr;
}

}  // namespace

HRESULT report_failure(int number, const char* text, EXCEPINFO* excep) noexcept {
    const HRESULT hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<unsigned>(number) & 0xFFFF);
    try {
        const OleString source = ole(error_source);
        const OleString description = to_ole(text);
        ICreateErrorInfo* create = nullptr;
        if (SUCCEEDED(CreateErrorInfo(&create))) {
            create->SetGUID(IID__Pelmora);
            create->SetSource(const_cast<LPOLESTR>(source.c_str()));
            create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
            IErrorInfo* info = nullptr;
            if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
                SetErrorInfo(0, info);
                info->Release();
            }
            create->Release();
        }
        if (excep) {
            std::memset(excep, 0, sizeof *excep);
            excep->bstrSource = SysAllocStringLen(source.data(), static_cast<UINT>(source.size()));
            excep->bstrDescription = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
            excep->scode = hr;
        }
    } catch (...) {
        // Out of memory while reporting: the status still tells the caller what happened.
    }
    return hr;
}

void PelmoraObject::run(Method method, Arguments& args, VARIANT* result) {
    calc::Arg value;
    try {
        value = calculators[static_cast<std::size_t>(method)](args[0], args[1], args[2], args[3], args[4], args[5],
                                                              args[6]);
    } catch (...) {
        // Writes made before the failure stay with the caller; the failure is what is reported.
        try {
            args.write_back();
        } catch (...) {
        }
        throw;
    }
    args.write_back();
    to_variant(value, result);
}

HRESULT PelmoraObject::call_by_position(Method method, VARIANT* const (&args)[param_count], VARIANT* result) noexcept {
    CallGuard guard(static_cast<_Pelmora*>(this));
    SetErrorInfo(0, nullptr);
    if (!result) return E_POINTER;
    VariantInit(result);
    for (VARIANT* a : args)
        if (!a) return E_POINTER;
    try {
        Arguments bound;
        for (std::size_t i = 0; i < param_count; ++i) {
            const HRESULT hr = bound.bind(i, args[i]);
            if (FAILED(hr)) return hr;
        }
        run(method, bound, result);
        return S_OK;
    } catch (const calc::Failure& f) {
        return report_failure(f.number(), f.text(), nullptr);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT STDMETHODCALLTYPE PelmoraObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PelmoraObject::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return type_info(IID__Pelmora, out);
}

HRESULT STDMETHODCALLTYPE PelmoraObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids) return E_POINTER;
    if (count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const auto* table = methods();
    if (!table) return E_UNEXPECTED;
    const MethodInfo* method = nullptr;
    for (const auto& m : *table)
        if (names[0] && same_name(m.name, names[0])) method = &m;
    if (!method) return DISP_E_UNKNOWNNAME;
    ids[0] = method->dispid;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
        for (std::size_t p = 0; p < param_count; ++p)
            if (names[i] && same_name(method->params[p], names[i])) ids[i] = static_cast<DISPID>(p);
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE PelmoraObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                                VARIANT* result, EXCEPINFO* excep, UINT* arg_err) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    Method method{};
    if (!find_method(id, method)) return DISP_E_MEMBERNOTFOUND;
    // A method; script engines call one as DISPATCH_METHOD | DISPATCH_PROPERTYGET.
    if (!(flags & DISPATCH_METHOD) || (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
        return DISP_E_MEMBERNOTFOUND;
    if (!params) return E_POINTER;
    if (params->cNamedArgs) return DISP_E_NONAMEDARGS;
    if (params->cArgs != param_count) return DISP_E_BADPARAMCOUNT;
    if (!params->rgvarg) return E_POINTER;
    // Arguments arrive last first.
    auto arg = [&](std::size_t i) { return &params->rgvarg[param_count - 1 - i]; };
    for (std::size_t i = 0; i < param_count; ++i) {
        if (V_VT(arg(i)) == VT_ERROR && V_ERROR(arg(i)) == DISP_E_PARAMNOTFOUND) {
            if (arg_err) *arg_err = static_cast<UINT>(param_count - 1 - i);
            return DISP_E_PARAMNOTOPTIONAL;
        }
    }
    CallGuard guard(static_cast<_Pelmora*>(this));
    if (result) VariantInit(result);
    try {
        Arguments bound;
        for (std::size_t i = 0; i < param_count; ++i) {
            const HRESULT hr = bound.bind_dispatch(i, arg(i));
            if (FAILED(hr)) {
                if (arg_err) *arg_err = static_cast<UINT>(param_count - 1 - i);
                return hr;
            }
        }
        VARIANT value;
        VariantInit(&value);
        run(method, bound, &value);
        if (result) *result = value;
        else VariantClear(&value);
        return S_OK;
    } catch (const calc::Failure& f) {
        report_failure(f.number(), f.text(), excep);
        return DISP_E_EXCEPTION;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace pelmora::component
