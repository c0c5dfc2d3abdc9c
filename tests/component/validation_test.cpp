// The validation table through the component: every row late bound, by name and IDispatch,
// as a script host calls. On Linux the results are the calculators' own, bit for bit; the
// Windows DLL (under Wine) links another C runtime, whose exp may differ in the last bit of a
// slice, so there the values must agree to 1e-12 of their size (of 1 for values below 1).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "component_under_test.hpp"

namespace {

struct TableRow {
    std::string line;
    std::string base;
    double in[7];
    bool missing[7];
    double centile, z, optimal_weight;
    int error;
};

std::vector<TableRow> read_table() {
    std::vector<TableRow> rows;
    std::FILE* f = std::fopen(PELMORA_VALIDATION_TABLE, "r");
    if (!f) return rows;
    char buf[512];
    bool header = true;
    while (std::fgets(buf, sizeof buf, f)) {
        if (header) {
            header = false;
            continue;
        }
        std::string line(buf);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = line.find(',', start);
            fields.push_back(line.substr(start, comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        if (fields.size() != 15) continue;
        TableRow r{};
        r.line = line;
        r.base = fields[2];
        for (int k = 0; k < 7; ++k) {
            r.missing[k] = fields[static_cast<std::size_t>(3 + k)].empty();
            r.in[k] = r.missing[k] ? 0 : std::strtod(fields[static_cast<std::size_t>(3 + k)].c_str(), nullptr);
        }
        const auto number = [](const std::string& s) {
            return s.empty() ? std::nan("") : std::strtod(s.c_str(), nullptr);
        };
        r.centile = number(fields[10]);
        r.z = number(fields[11]);
        r.optimal_weight = number(fields[12]);
        r.error = fields[13].empty() ? 0 : std::atoi(fields[13].c_str());
        rows.push_back(r);
    }
    std::fclose(f);
    return rows;
}

bool agrees(double got, double want) {
#ifdef _WIN32
    return std::fabs(got - want) <= 1e-12 * std::fmax(1.0, std::fmax(std::fabs(got), std::fabs(want)));
#else
    return std::memcmp(&got, &want, sizeof got) == 0;
#endif
}

TEST(ValidationTable, EveryRowThroughIDispatch) {
    const std::vector<TableRow> rows = read_table();
    ASSERT_GE(rows.size(), 4000u) << "cannot read " << PELMORA_VALIDATION_TABLE;
    Ptr<IDispatch> d;
    ASSERT_EQ(create_pelmora(IID_IDispatch, d.out()), S_OK);
    const struct {
        const char* tag;
        const char* method;
    } methods[] = {{"uk", "custcentukn"}, {"swe", "custcentswe"}, {"nz", "custcentnz"}, {"au", "custcentau"}};
    DISPID ids[4] = {};
    for (int b = 0; b < 4; ++b) {
        OleString name = to_ole(methods[b].method);
        LPOLESTR names[] = {name.data()};
        ASSERT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 1033, &ids[b]), S_OK);
    }
    int mismatches = 0;
    for (const TableRow& r : rows) {
        int b = 0;
        while (b < 4 && r.base != methods[b].tag) ++b;
        ASSERT_LT(b, 4) << r.line;
        // Arguments in reverse order, as DISPPARAMS holds them; a missing input is Empty.
        VARIANT args[7];
        for (int k = 0; k < 7; ++k) {
            VARIANT& v = args[6 - k];
            VariantInit(&v);
            if (!r.missing[k]) {
                V_VT(&v) = VT_R8;
                V_R8(&v) = r.in[k];
            }
        }
        DISPPARAMS params{args, nullptr, 7, 0};
        Variant result;
        EXCEPINFO e{};
        UINT arg_err = 0;
        const HRESULT hr = d->Invoke(ids[b], IID_NULL, 1033, DISPATCH_METHOD, &params, &result.v, &e, &arg_err);
        bool ok = true;
        if (r.error != 0) {
            ok =
                hr == DISP_E_EXCEPTION && e.scode == static_cast<HRESULT>(0x800A0000u | static_cast<unsigned>(r.error));
            SysFreeString(e.bstrSource);
            SysFreeString(e.bstrDescription);
            SysFreeString(e.bstrHelpFile);
        } else if (std::isnan(r.centile)) {
            ok = hr == S_OK && result.vt() == VT_BSTR && SysStringLen(V_BSTR(&result.v)) == 0;
        } else {
            ok = hr == S_OK && result.vt() == VT_R8 && agrees(result.r8(), r.centile);
        }
        if (!ok && ++mismatches <= 20) {
            ADD_FAILURE() << r.line << ": status 0x" << std::hex << static_cast<unsigned long>(hr) << std::dec
                          << (result.vt() == VT_R8 ? " centile " + std::to_string(result.r8()) : std::string());
        }
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
