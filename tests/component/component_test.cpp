// The component seen from a host: registered through its own export, created through the
// platform's loader, called by position and by dispatch.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "component_under_test.hpp"
#include "host_environment.hpp"
#include "pelmora/calc/calculators.hpp"
#include "pelmora/calc/failure.hpp"

namespace {

// ---- The process: registered once, as regsvr32 would ------------------------------------

class Registered : public testing::Environment {
public:
    void SetUp() override {
        host::start();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        void* lib = host::load_library(host::component_path());
        ASSERT_NE(lib, nullptr);
        auto* reg = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(host::exported(lib, "DllRegisterServer"));
        ASSERT_NE(reg, nullptr);
        ASSERT_EQ(reg(), S_OK);
        host::free_library(lib);
    }
    void TearDown() override {
        CoFreeUnusedLibraries();
        CoUninitialize();
    }
};
const auto* const registered = testing::AddGlobalTestEnvironment(new Registered);

// ---- The methods and their worked examples ------------------------------------------------

using Calculator = pelmora::calc::Arg (*)(pelmora::calc::Arg&, pelmora::calc::Arg&, pelmora::calc::Arg&,
                                          pelmora::calc::Arg&, pelmora::calc::Arg&, pelmora::calc::Arg&,
                                          pelmora::calc::Arg&);

const Base uk{"custcentukn", &_Pelmora::custcentukn, 0x60030001};
const Base sweden{"custcentswe", &_Pelmora::custcentswe, 0x60030002};
const Base nz{"custcentnz", &_Pelmora::custcentnz, 0x60030003};
const Base australia{"custcentau", &_Pelmora::custcentau, 0x60030004};

Calculator calculator_of(const Base& b) {
    const std::string name = b.method;
    if (name == "custcentukn") return &pelmora::calc::custcentukn;
    if (name == "custcentswe") return &pelmora::calc::custcentswe;
    if (name == "custcentnz") return &pelmora::calc::custcentnz;
    return &pelmora::calc::custcentau;
}

const Example examples[] = {
    {uk, 3500, 280, 64, 163, 1, 1, 0, 48.4398, 163},
    {sweden, 3500, 280, 65, 165, 1, 1, 0, 38.6519, -2},
    {nz, 3500, 280, 70, 165, 1, 1, 0, 40.8892, 165},
    {australia, 3500, 280, 64, 163, 1, 1, 0, 46.6843, 163},
};

// The calc library's own answer for the same inputs (with the same write-backs).
struct Expected {
    double result;
    double gest_after;
    double ht_after;
};
Expected calc_result(const Example& e) {
    using pelmora::calc::Arg;
    Arg a[7] = {Arg::r8(e.bwt), Arg::r8(e.gest), Arg::r8(e.wt), Arg::r8(e.ht),
                Arg::r8(e.sex), Arg::r8(e.eth),  Arg::r8(e.par)};
    const Arg r = calculator_of(e.base)(a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
    return {r.as_r8(), a[1].value().as_r8(), a[3].value().as_r8()};
}

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

Ptr<_Pelmora> make_pelmora() {
    Ptr<_Pelmora> p;
    EXPECT_EQ(create_pelmora(IID__Pelmora, p.out()), S_OK);
    return p;
}

// Invoke with arguments given in parameter order (reversed into DISPPARAMS here).
HRESULT invoke(IDispatch* d, DISPID id, std::vector<VARIANT> args, VARIANT* result, EXCEPINFO* excep = nullptr,
               WORD flags = DISPATCH_METHOD, UINT* arg_err = nullptr) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    UINT err = 0;
    return d->Invoke(id, IID_NULL, 1033, flags, &params, result, excep, arg_err ? arg_err : &err);
}

VARIANT ref_to(Variant& target) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&v) = &target;
    return v;
}

DISPID dispid_of(IDispatch* d, const OleString& name) {
    OleString copy = name;
    LPOLESTR names[] = {copy.data()};
    DISPID id = 0;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 1033, &id), S_OK) << name.size();
    return id;
}

void free_excepinfo(EXCEPINFO& e) {
    SysFreeString(e.bstrSource);
    SysFreeString(e.bstrDescription);
    SysFreeString(e.bstrHelpFile);
}

// ---- Calls reproducing the worked examples --------------------------------------------------

class WorkedExample : public testing::TestWithParam<Example> {};

TEST_P(WorkedExample, ByPositionMatchesTheCalculatorBitForBit) {
    const Example& e = GetParam();
    const Expected want = calc_result(e);
    EXPECT_NEAR(want.result, e.rounded, 0.00005);
    auto p = make_pelmora();
    Variant bwt(e.bwt), gest(e.gest), wt(e.wt), ht(e.ht), sex(e.sex), eth(e.eth), par(e.par), result;
    ASSERT_EQ((p.get()->*e.base.vtable)(&bwt, &gest, &wt, &ht, &sex, &eth, &par, &result), S_OK);
    ASSERT_EQ(result.vt(), VT_R8);
    EXPECT_TRUE(same_bits(result.r8(), want.result)) << result.r8() << " vs " << want.result;
    // gest comes back in weeks; ht centred for Sweden only; the others untouched.
    EXPECT_EQ(gest.vt(), VT_R8);
    EXPECT_EQ(gest.r8(), 40.0);
    EXPECT_EQ(ht.r8(), e.ht_after);
    EXPECT_TRUE(same_bits(ht.r8(), want.ht_after));
    EXPECT_EQ(bwt.r8(), e.bwt);
    EXPECT_EQ(wt.r8(), e.wt);
}

TEST_P(WorkedExample, ByDispatchIdAndByNameInAnyCase) {
    const Example& e = GetParam();
    const Expected want = calc_result(e);
    auto p = make_pelmora();
    OleString name = to_ole(e.base.method);
    OleString upper = name;
    for (auto& c : upper) c = static_cast<OLECHAR>(c >= 'a' && c <= 'z' ? c - 32 : c);
    EXPECT_EQ(dispid_of(p.get(), name), e.base.dispid);
    EXPECT_EQ(dispid_of(p.get(), upper), e.base.dispid);
    for (WORD flags : {WORD{DISPATCH_METHOD}, WORD{DISPATCH_METHOD | DISPATCH_PROPERTYGET}}) {
        Variant bwt(e.bwt), gest(e.gest), wt(e.wt), ht(e.ht), sex(e.sex), eth(e.eth), par(e.par), result;
        ASSERT_EQ(invoke(p.get(), e.base.dispid,
                         {ref_to(bwt), ref_to(gest), ref_to(wt), ref_to(ht), ref_to(sex), ref_to(eth), ref_to(par)},
                         &result, nullptr, flags),
                  S_OK);
        ASSERT_EQ(result.vt(), VT_R8);
        EXPECT_TRUE(same_bits(result.r8(), want.result));
        EXPECT_EQ(gest.r8(), 40.0);
        EXPECT_EQ(ht.r8(), e.ht_after);
    }
}

INSTANTIATE_TEST_SUITE_P(Bases, WorkedExample, testing::ValuesIn(examples),
                         [](const testing::TestParamInfo<Example>& i) { return std::string(i.param.base.method); });

// ---- Write-backs through each kind of reference --------------------------------------------

TEST(WriteBack, LandsInTheCallersStorageOfEveryReferenceKind) {
    auto p = make_pelmora();
    Variant bwt(3500.0), wt(64.0), ht(163.0), sex(1.0), eth(1.0), par(0.0);
    const double weeks_283 = 283.0 / 7.0;
    auto call_with_gest = [&](VARIANT gest) {
        Variant result;
        EXPECT_EQ(invoke(p.get(), uk.dispid,
                         {ref_to(bwt), gest, ref_to(wt), ref_to(ht), ref_to(sex), ref_to(eth), ref_to(par)}, &result),
                  S_OK);
        EXPECT_EQ(result.vt(), VT_R8);
    };
    {
        double d = 283;
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_BYREF | VT_R8;
        V_R8REF(&v) = &d;
        call_with_gest(v);
        EXPECT_TRUE(same_bits(d, weeks_283));
    }
    {
        SHORT s = 283;  // 40.43 stored into an integer rounds to 40
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_BYREF | VT_I2;
        V_I2REF(&v) = &s;
        call_with_gest(v);
        EXPECT_EQ(s, 40);
    }
    {
        LONG l = 284;  // 40.57 -> 41
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_BYREF | VT_I4;
        V_I4REF(&v) = &l;
        call_with_gest(v);
        EXPECT_EQ(l, 41);
    }
    {
        BSTR text = SysAllocString(OLESTR("280"));
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&v) = &text;
        call_with_gest(v);
        EXPECT_EQ(OleString(text, SysStringLen(text)), OLESTR("40"));
        SysFreeString(text);
    }
    {
        Variant target = Variant::i4(283);  // the variant changes type, as an assignment does
        call_with_gest(ref_to(target));
        ASSERT_EQ(target.vt(), VT_R8);
        EXPECT_TRUE(same_bits(target.r8(), weeks_283));
    }
    {
        Variant text = Variant::text(OLESTR("280"));
        call_with_gest(ref_to(text));
        ASSERT_EQ(text.vt(), VT_R8);
        EXPECT_EQ(text.r8(), 40.0);
    }
    {
        // By value: the calculator's write-back goes to a temporary, the caller's value stays.
        Variant value = Variant::i4(280);
        call_with_gest(value.v);
        EXPECT_EQ(value.vt(), VT_I4);
        EXPECT_EQ(V_I4(&value.v), 280);
    }
}

TEST(WriteBack, ByPositionThroughAVariantHoldingAReference) {
    auto p = make_pelmora();
    double weeks = 280;
    Variant bwt(3500.0), gest, wt(64.0), ht(163.0), sex(1.0), eth(1.0), par(0.0), result;
    V_VT(&gest.v) = VT_BYREF | VT_R8;
    V_R8REF(&gest.v) = &weeks;
    ASSERT_EQ(p->custcentukn(&bwt, &gest, &wt, &ht, &sex, &eth, &par, &result), S_OK);
    EXPECT_EQ(weeks, 40.0);
    EXPECT_EQ(gest.vt(), VT_BYREF | VT_R8);
    VariantInit(&gest.v);  // it never owned the double
}

TEST(WriteBack, TheFormsWayWithReferencesToPlainFields) {
    // As the control's own form calls: doubles and 16-bit codes by reference.
    auto p = make_pelmora();
    double bwtval = 3500, gestval = 280, wtval = 65, htval = 165;
    SHORT sexval = 1, ethval = 1, parval = 0;
    VARIANT a[7];
    auto r8ref = [](VARIANT& v, double* d) {
        VariantInit(&v);
        V_VT(&v) = VT_BYREF | VT_R8;
        V_R8REF(&v) = d;
    };
    auto i2ref = [](VARIANT& v, SHORT* s) {
        VariantInit(&v);
        V_VT(&v) = VT_BYREF | VT_I2;
        V_I2REF(&v) = s;
    };
    r8ref(a[0], &bwtval);
    r8ref(a[1], &gestval);
    r8ref(a[2], &wtval);
    r8ref(a[3], &htval);
    i2ref(a[4], &sexval);
    i2ref(a[5], &ethval);
    i2ref(a[6], &parval);
    Variant result;
    ASSERT_EQ(p->custcentswe(&a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &result), S_OK);
    EXPECT_TRUE(same_bits(result.r8(), calc_result(examples[1]).result));
    EXPECT_EQ(gestval, 40.0);
    EXPECT_EQ(htval, -2.0);
    EXPECT_EQ(sexval, 1);
}

// ---- The dispatch contract ---------------------------------------------------------------------

TEST(Dispatch, RefusesWhatTheInterfaceDoesNotOffer) {
    auto p = make_pelmora();
    std::vector<Variant> store(8);
    for (auto& v : store) v = Variant(1.0);
    auto refs = [&](std::size_t n) {
        std::vector<VARIANT> r;
        for (std::size_t i = 0; i < n; ++i) r.push_back(ref_to(store[i]));
        return r;
    };
    Variant result;
    EXPECT_EQ(invoke(p.get(), uk.dispid, refs(6), &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(invoke(p.get(), uk.dispid, refs(8), &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(invoke(p.get(), uk.dispid, refs(0), &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(invoke(p.get(), 0x60030005, refs(7), &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(invoke(p.get(), DISPID_VALUE, refs(7), &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(invoke(p.get(), uk.dispid, refs(7), &result, nullptr, DISPATCH_PROPERTYGET), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(invoke(p.get(), uk.dispid, refs(7), &result, nullptr, DISPATCH_PROPERTYPUT), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(result.vt(), VT_EMPTY);

    // Named arguments.
    auto args = refs(7);
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID named[] = {0};
    DISPPARAMS with_names{reversed.data(), named, 7, 1};
    EXPECT_EQ(p->Invoke(uk.dispid, IID_NULL, 1033, DISPATCH_METHOD, &with_names, &result, nullptr, nullptr),
              DISP_E_NONAMEDARGS);
    DISPPARAMS plain{reversed.data(), nullptr, 7, 0};
    EXPECT_EQ(p->Invoke(uk.dispid, IID_IUnknown, 1033, DISPATCH_METHOD, &plain, &result, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(p->Invoke(uk.dispid, IID_NULL, 1033, DISPATCH_METHOD, nullptr, &result, nullptr, nullptr), E_POINTER);

    // An omitted argument: none is optional.
    VARIANT missing;
    VariantInit(&missing);
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    args[2] = missing;
    UINT arg_err = 99;
    EXPECT_EQ(invoke(p.get(), uk.dispid, args, &result, nullptr, DISPATCH_METHOD, &arg_err), DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(arg_err, 4u);  // counted in rgvarg, last argument first

    // A by-reference argument without storage.
    VARIANT dangling;
    VariantInit(&dangling);
    V_VT(&dangling) = VT_BYREF | VT_R8;
    args = refs(7);
    args[0] = dangling;
    EXPECT_EQ(invoke(p.get(), uk.dispid, args, &result), E_POINTER);
}

TEST(Dispatch, NamesComeFromTheTypeLibraryCaseInsensitively) {
    auto p = make_pelmora();
    const std::pair<const char*, DISPID> names[] = {{"custcentukn", 0x60030001},
                                                    {"CUSTCENTSWE", 0x60030002},
                                                    {"CustCentNz", 0x60030003},
                                                    {"custcentAU", 0x60030004}};
    for (const auto& [name, id] : names) EXPECT_EQ(dispid_of(p.get(), to_ole(name)), id) << name;

    for (const char* unknown : {"custcent", "custcentuk", "QueryInterface", "Invoke", "Recalculate", ""}) {
        OleString n = to_ole(unknown);
        LPOLESTR names1[] = {n.data()};
        DISPID id = 0;
        EXPECT_EQ(p->GetIDsOfNames(IID_NULL, names1, 1, 1033, &id), DISP_E_UNKNOWNNAME) << unknown;
        EXPECT_EQ(id, DISPID_UNKNOWN);
    }
    // Parameter names map to their positions.
    OleString m = to_ole("custcentnz"), a = to_ole("PAR"), b = to_ole("bwt"), c = to_ole("nosuch");
    LPOLESTR with_params[] = {m.data(), a.data(), b.data(), c.data()};
    DISPID ids[4] = {};
    EXPECT_EQ(p->GetIDsOfNames(IID_NULL, with_params, 4, 1033, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 0x60030003);
    EXPECT_EQ(ids[1], 6);
    EXPECT_EQ(ids[2], 0);
    EXPECT_EQ(ids[3], DISPID_UNKNOWN);
    EXPECT_EQ(p->GetIDsOfNames(IID_IUnknown, with_params, 1, 1033, ids), DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(p->GetIDsOfNames(IID_NULL, nullptr, 1, 1033, ids), E_POINTER);
}

TEST(Dispatch, ResultMayBeIgnored) {
    auto p = make_pelmora();
    Variant bwt(3500.0), gest(280.0), wt(64.0), ht(163.0), sex(1.0), eth(1.0), par(0.0);
    EXPECT_EQ(
        invoke(p.get(), uk.dispid,
               {ref_to(bwt), ref_to(gest), ref_to(wt), ref_to(ht), ref_to(sex), ref_to(eth), ref_to(par)}, nullptr),
        S_OK);
    EXPECT_EQ(gest.r8(), 40.0);
}

// ---- Missing inputs and failures ----------------------------------------------------------------

TEST(MissingInput, GivesEmptyTextAndWritesNothing) {
    auto p = make_pelmora();
    for (int which = 0; which < 7; ++which) {
        for (bool empty_variant : {false, true}) {
            std::vector<Variant> a;
            for (double d : {3500.0, 280.0, 64.0, 163.0, 1.0, 1.0, 0.0}) a.emplace_back(d);
            a[static_cast<std::size_t>(which)] = empty_variant ? Variant() : Variant::text(OleString());
            Variant result;
            ASSERT_EQ(p->custcentukn(&a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &result), S_OK);
            EXPECT_EQ(result.vt(), VT_BSTR);
            EXPECT_EQ(result.text_value(), OleString());
            if (which != 1) {
                EXPECT_EQ(a[1].r8(), 280.0) << "gest was written for a missing input";
            }
        }
    }
}

struct FailureCase {
    const char* what;
    int arg;  // which argument gets the bad value
    Variant (*make)();
};

const FailureCase failure_cases[] = {
    {"text that is no number", 0, [] { return Variant::text(to_ole("heavy")); }},
    {"Null", 0, [] { return Variant::null(); }},
    {"Null gestation", 1, [] { return Variant::null(); }},
    {"an overflow after gest is written back", 1, [] { return Variant(1e308); }},
    {"an overflow before gest is written back", 3, [] { return Variant(1e308); }},
};

// The calc library's own verdict for the case: the failure and what gest holds afterwards.
bool calc_fails(const FailureCase& c, int& number, std::string& text, pelmora::calc::Arg& gest_after) {
    using pelmora::calc::Arg;
    Arg a[7] = {Arg::r8(3500), Arg::r8(280), Arg::r8(64), Arg::r8(163), Arg::r8(1), Arg::r8(1), Arg::r8(0)};
    Variant bad = c.make();
    switch (V_VT(&bad.v)) {
    case VT_NULL: a[c.arg] = Arg::null(); break;
    case VT_R8: a[c.arg] = Arg::r8(V_R8(&bad.v)); break;
    default: a[c.arg] = Arg::text("heavy"); break;
    }
    try {
        pelmora::calc::custcentukn(a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
    } catch (const pelmora::calc::Failure& f) {
        number = f.number();
        text = f.text();
        gest_after = a[1];
        return true;
    }
    return false;
}

TEST(Failure, ReportedAsTheRuntimesErrorOnBothPaths) {
    auto p = make_pelmora();
    Ptr<ISupportErrorInfo> support;
    ASSERT_EQ(p->QueryInterface(IID_ISupportErrorInfo, support.out()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__Pelmora), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    for (const auto& c : failure_cases) {
        SCOPED_TRACE(c.what);
        int number = 0;
        std::string text;
        pelmora::calc::Arg gest_after;
        if (!calc_fails(c, number, text, gest_after)) {
            ADD_FAILURE() << "the calculator accepts " << c.what;
            continue;
        }
        const HRESULT code = static_cast<HRESULT>(0x800A0000u | static_cast<unsigned>(number));
        auto args = [&] {
            std::vector<Variant> a;
            for (double d : {3500.0, 280.0, 64.0, 163.0, 1.0, 1.0, 0.0}) a.emplace_back(d);
            a[static_cast<std::size_t>(c.arg)] = c.make();
            return a;
        };
        // Early bound: the failing status and the thread's error information.
        {
            auto a = args();
            Variant result;
            EXPECT_EQ(p->custcentukn(&a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &result), code);
            EXPECT_EQ(result.vt(), VT_EMPTY);  // no partial result
            Ptr<IErrorInfo> info;
            ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
            BSTR source = nullptr, description = nullptr;
            GUID g{};
            info->GetSource(&source);
            info->GetDescription(&description);
            info->GetGUID(&g);
            EXPECT_EQ(OleString(source, SysStringLen(source)), OLESTR("Pelmora"));
            EXPECT_EQ(OleString(description, SysStringLen(description)), to_ole(text.c_str()));
            EXPECT_TRUE(IsEqualGUID(g, IID__Pelmora));
            SysFreeString(source);
            SysFreeString(description);
            // Writes made before the failure stay, exactly as the calculator made them.
            if (gest_after.kind() == pelmora::calc::Kind::r8) {
                EXPECT_EQ(a[1].r8(), gest_after.value().as_r8());
            }
        }
        // Late bound: DISP_E_EXCEPTION with EXCEPINFO.
        {
            auto a = args();
            std::vector<VARIANT> refs;
            for (auto& v : a) refs.push_back(ref_to(v));
            Variant result;
            EXCEPINFO e{};
            EXPECT_EQ(invoke(p.get(), uk.dispid, refs, &result, &e), DISP_E_EXCEPTION);
            EXPECT_EQ(result.vt(), VT_EMPTY);
            EXPECT_EQ(e.scode, code);
            EXPECT_EQ(e.wCode, 0);
            EXPECT_EQ(OleString(e.bstrSource, SysStringLen(e.bstrSource)), OLESTR("Pelmora"));
            EXPECT_EQ(OleString(e.bstrDescription, SysStringLen(e.bstrDescription)), to_ole(text.c_str()));
            free_excepinfo(e);
            IErrorInfo* leftover = nullptr;
            if (GetErrorInfo(0, &leftover) == S_OK) leftover->Release();
        }
    }
}

TEST(Failure, VariantTypesTheCalculatorsCannotTakeAreATypeMismatch) {
    auto p = make_pelmora();
    const VARTYPE types[] = {VT_DATE, VT_CY, VT_UNKNOWN, VT_DISPATCH, VT_ERROR, VT_UI1, VT_R4, VT_I8};
    for (VARTYPE vt : types) {
        std::vector<Variant> a;
        for (double d : {3500.0, 280.0, 64.0, 163.0, 1.0, 1.0, 0.0}) a.emplace_back(d);
        VARIANT odd;
        VariantInit(&odd);
        V_VT(&odd) = vt;
        if (vt == VT_UNKNOWN || vt == VT_DISPATCH) V_UNKNOWN(&odd) = nullptr;
        a[3].v = odd;
        Variant result;
        EXPECT_EQ(p->custcentukn(&a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &result),
                  static_cast<HRESULT>(0x800A000Du))
            << vt;
        EXPECT_EQ(a[1].r8(), 280.0) << "nothing written before the arguments are taken";
        IErrorInfo* info = nullptr;
        if (GetErrorInfo(0, &info) == S_OK) info->Release();
    }
}

TEST(Failure, NullPointersAreRefused) {
    auto p = make_pelmora();
    Variant a[7], result;
    for (auto& v : a) v = Variant(1.0);
    EXPECT_EQ(p->custcentau(&a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], nullptr), E_POINTER);
    EXPECT_EQ(p->custcentau(&a[0], nullptr, &a[2], &a[3], &a[4], &a[5], &a[6], &result), E_POINTER);
    EXPECT_EQ(a[0].r8(), 1.0);
    EXPECT_EQ(p->QueryInterface(IID__Pelmora, nullptr), E_POINTER);
    EXPECT_EQ(p->GetTypeInfoCount(nullptr), E_POINTER);
    EXPECT_EQ(p->GetTypeInfo(0, 1033, nullptr), E_POINTER);
}

}  // namespace
