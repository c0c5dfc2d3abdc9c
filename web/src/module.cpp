// The WebAssembly module's entry points: the batch engine, weights at centiles, centile curves
// and the growth chart over columns the JavaScript side has put into the module's memory, and the
// failures of the last call.

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "pelmora/calc/curves.hpp"
#include "pelmora/calc/engine.hpp"
#include "pelmora/chart/chart.hpp"
#include "slices.hpp"
#include "wasm_exp.hpp"

#define PELMORA_WEB_EXPORT extern "C" __attribute__((used, visibility("default")))

namespace {

namespace calc = pelmora::calc;

struct LastFailure {
    std::size_t count = 0;
    std::size_t row = 0;
    int number = 0;
    std::string message;
} last;

std::string last_chart;  // the last chart's SVG, kept for the caller to read

// Column c (0 base as bytes, 1..7 bwt, gest, wt, ht, sex, eth, par as doubles) starts at in[c]
// and steps by strides[c] values (0 repeats one value).
calc::Rows rows_of(std::uint32_t count, const void* const* in, const std::int32_t* strides) {
    calc::Rows rows;
    rows.count = count;
    rows.base = {static_cast<const std::uint8_t*>(in[0]), strides[0]};
    calc::Column<double>* columns[7] = {&rows.bwt, &rows.gest, &rows.wt, &rows.ht, &rows.sex, &rows.eth, &rows.par};
    for (int c = 0; c < 7; ++c) *columns[c] = {static_cast<const double*>(in[c + 1]), strides[c + 1]};
    return rows;
}

// Keeps the first failure for pelmora_web_failure_*; returns how many rows failed.
int keep(std::vector<calc::RowFailure>& failures) {
    last.count = failures.size();
    if (!failures.empty()) {
        last.row = failures.front().row;
        last.number = failures.front().number;
        last.message = std::move(failures.front().message);
    } else {
        last.row = 0;
        last.number = 0;
        last.message.clear();
    }
    return static_cast<int>(failures.size());
}

}  // namespace

/// Runs `count` rows (columns as rows_of reads them). out[q] is the column of Quantity q (or 0);
/// error and size_class may be 0. Returns 1 when a row failed (the first failed row is kept for
/// pelmora_web_failure_*), else 0; -1 when memory ran out.
PELMORA_WEB_EXPORT int pelmora_web_rows(std::uint32_t count, const void* const* in, const std::int32_t* strides,
                                        double* const* out, std::int32_t* error, std::int8_t* size_class,
                                        double sga_below, double lga_above) {
    const calc::Rows rows = rows_of(count, in, strides);
    calc::Results results;
    for (std::size_t q = 0; q < calc::quantity_count; ++q) results.values[q] = out[q];
    results.error = error;
    results.size_class = reinterpret_cast<calc::SizeClass*>(size_class);
    results.thresholds = {sga_below, lga_above};
    std::vector<calc::RowFailure> failures;
    results.failures = &failures;
    results.failure_limit = 1;  // only the first failure is reported
    try {
        calc::evaluate_rows(rows, results, 1);
    } catch (...) {
        return -1;
    }
    return keep(failures);
}

/// The birth weights at centiles: the columns as pelmora_web_rows reads them, with the centile
/// in place of the birth weight (in[1], strides[1]); the weights go to `weight`. Returns as
/// pelmora_web_rows does (the number of failed rows).
PELMORA_WEB_EXPORT int pelmora_web_weights(std::uint32_t count, const void* const* in, const std::int32_t* strides,
                                           double* weight, std::int32_t* error) {
    const calc::Rows rows = rows_of(count, in, strides);
    std::vector<calc::RowFailure> failures;
    try {
        calc::weights_at_centile(rows, rows.bwt, weight, error, &failures);
    } catch (...) {
        return -1;
    }
    return keep(failures);
}

/// One mother's centile curves (her columns as pelmora_web_rows reads them, one row; bwt and
/// gest unused): weights[c * (last - first + 1) + d] is the weight at centiles[c] on day
/// first + d. Returns 1 when the request or the calculation fails (kept as a failure of row 0;
/// the weights are then not to be read), 0 when not, -1 when memory ran out.
PELMORA_WEB_EXPORT int pelmora_web_curves(const void* const* in, const std::int32_t* strides, const double* centiles,
                                          std::uint32_t centile_count, std::int32_t first, std::int32_t last_day,
                                          double* weights) {
    const calc::Rows rows = rows_of(1, in, strides);
    std::vector<calc::RowFailure> failures;
    try {
        calc::curves_rows(rows, std::span<const double>(centiles, centile_count), {first, last_day}, weights, nullptr,
                          &failures);
    } catch (const calc::Failure& f) {
        failures.push_back({0, f.number(), f.what()});
    } catch (...) {
        return -1;
    }
    return keep(failures) > 0 ? 1 : 0;
}

/// One mother's growth chart as SVG text, the chart writer's bytes: her columns as
/// pelmora_web_curves reads them; `first` and `last` gestations as text (days "168" or weeks+days
/// "24+0"); `point_count` measured points, each "GEST:GRAMS[:LABEL]"; `edd` "YYYY-MM-DD" or
/// empty. Null when the request is bad or the calculation fails (kept as a failure of row 0,
/// invalid procedure call for a bad request); the text stays until the next chart.
PELMORA_WEB_EXPORT const char* pelmora_web_chart(const void* const* in, const std::int32_t* strides,
                                                 const double* centiles, std::uint32_t centile_count, const char* first,
                                                 const char* last_day, const char* const* points,
                                                 std::uint32_t point_count, const char* edd) {
    namespace chart = pelmora::chart;
    std::vector<calc::RowFailure> failures;
    last_chart.clear();
    try {
        const calc::Rows rows = rows_of(1, in, strides);
        chart::Chart c;
        c.mother = {static_cast<calc::Base>(rows.base.data[0]),
                    rows.wt.data[0],
                    rows.ht.data[0],
                    rows.sex.data[0],
                    rows.eth.data[0],
                    rows.par.data[0]};
        c.centiles.assign(centiles, centiles + centile_count);
        const struct {
            const char* name;
            const char* text;
            int* day;
        } range[] = {{"first", first, &c.days.first}, {"last", last_day, &c.days.last}};
        for (const auto& [name, text, day] : range) {
            const auto days = chart::parse_gestation(text);
            if (!days) {
                throw calc::Failure(pelmora::Error::invalid_argument,
                                    std::string(name) + ": '" + text +
                                        "' is not days (168) or weeks+days (24+0) from 0 to " +
                                        std::to_string(calc::max_gestation_days) + " days");
            }
            *day = *days;
        }
        for (std::uint32_t i = 0; i < point_count; ++i) {
            try {
                c.points.push_back(chart::parse_point(points[i]));
            } catch (const std::invalid_argument& e) {
                throw calc::Failure(pelmora::Error::invalid_argument, e.what());
            }
        }
        if (*edd) {
            c.edd = chart::parse_date(edd);
            if (!c.edd) {
                throw calc::Failure(pelmora::Error::invalid_argument,
                                    std::string("edd: not a date YYYY-MM-DD: '") + edd + "'");
            }
        }
        last_chart = chart::svg(c);
    } catch (const calc::Failure& f) {
        failures.push_back({0, f.number(), f.what()});
    } catch (...) {
        failures.push_back({0, pelmora::error_number(pelmora::Error::out_of_memory),
                            pelmora::error_text(pelmora::Error::out_of_memory)});
    }
    return keep(failures) > 0 ? nullptr : last_chart.c_str();
}

/// A number in text as the calculators read a text argument (blanks around, sign, digits, full
/// stop, exponent): 1 with the value in *out, or 0 for any other text.
PELMORA_WEB_EXPORT int pelmora_web_number(const char* text, double* out) {
    return calc::Arg::parse_number(text ? text : "", *out) ? 1 : 0;
}

namespace {
const calc::EthnicGroup* ethnic_group(int base, int i) {
    if (base < 0 || base > static_cast<int>(calc::Base::australia) || i < 0) return nullptr;
    const auto groups = calc::ethnic_groups(static_cast<calc::Base>(base));
    return static_cast<std::size_t>(i) < groups.size() ? &groups[static_cast<std::size_t>(i)] : nullptr;
}
}  // namespace

/// The text and code of the base's ethnic group `i` (in the base's order); null and -1 past the last.
PELMORA_WEB_EXPORT const char* pelmora_web_ethnic_text(int base, int i) {
    const calc::EthnicGroup* g = ethnic_group(base, i);
    return g ? g->text.data() : nullptr;
}
PELMORA_WEB_EXPORT int pelmora_web_ethnic_code(int base, int i) {
    const calc::EthnicGroup* g = ethnic_group(base, i);
    return g ? g->code : -1;
}
/// The parity list's text of code `i` ("0" .. "4 or more"), or null past the last.
PELMORA_WEB_EXPORT const char* pelmora_web_parity_text(int i) {
    const auto texts = calc::parity_texts();
    return i >= 0 && static_cast<std::size_t>(i) < texts.size() ? texts[static_cast<std::size_t>(i)].data() : nullptr;
}

/// The sex list's text `i` ("Male", "Female") and the code it stands for; null and -1 past the last.
PELMORA_WEB_EXPORT const char* pelmora_web_sex_text(int i) {
    return i >= 0 && static_cast<std::size_t>(i) < calc::sex_texts.size()
               ? calc::sex_texts[static_cast<std::size_t>(i)].text.data()
               : nullptr;
}
PELMORA_WEB_EXPORT int pelmora_web_sex_code(int i) {
    return i >= 0 && static_cast<std::size_t>(i) < calc::sex_texts.size()
               ? calc::sex_texts[static_cast<std::size_t>(i)].code
               : -1;
}

PELMORA_WEB_EXPORT std::uint32_t pelmora_web_failure_row() { return static_cast<std::uint32_t>(last.row); }
PELMORA_WEB_EXPORT int pelmora_web_failure_number() { return last.number; }
/// The first failure's message ("Overflow (weight band)"), NUL-terminated UTF-8.
PELMORA_WEB_EXPORT const char* pelmora_web_failure_message() { return last.message.c_str(); }
/// The runtime's text of an error number, or "" for a number the table does not hold.
PELMORA_WEB_EXPORT const char* pelmora_web_error_text(int number) {
    const auto e = pelmora::error_numbered(number);
    return e ? pelmora::error_text(*e) : "";
}

/// The name of quantity `q` (engine order), or null past the last.
PELMORA_WEB_EXPORT const char* pelmora_web_quantity_name(int q) {
    return q >= 0 && static_cast<std::size_t>(q) < calc::quantity_count
               ? calc::quantity_name(static_cast<calc::Quantity>(q))
               : nullptr;
}

/// The base's name ("United Kingdom") and tag ("uk") by its code 0..3, or null.
PELMORA_WEB_EXPORT const char* pelmora_web_base_name(int base) {
    return base >= 0 && base <= static_cast<int>(calc::Base::australia)
               ? calc::base_name(static_cast<calc::Base>(base)).data()
               : nullptr;
}
PELMORA_WEB_EXPORT const char* pelmora_web_base_tag(int base) {
    return base >= 0 && base <= static_cast<int>(calc::Base::australia)
               ? calc::base_tag(static_cast<calc::Base>(base)).data()
               : nullptr;
}
/// The code of a base by its exact name or tag; -1 for any other text.
PELMORA_WEB_EXPORT int pelmora_web_base_from_text(const char* text) {
    const auto base = calc::base_from_text(text ? text : "");
    return base ? static_cast<int>(*base) : -1;
}
/// "SGA", "AGA", "LGA" or "" for a size class 0..3.
PELMORA_WEB_EXPORT const char* pelmora_web_class_text(int size_class) {
    return calc::class_text(static_cast<calc::SizeClass>(size_class));
}

/// For the tests and the benchmark: how many slices the engine forms at once here (2 with
/// WebAssembly SIMD), whether it fuses them with relaxed SIMD's multiply-add (1) or not (0), and
/// the two-lane exp of x[0], x[1] into y.
PELMORA_WEB_EXPORT int pelmora_web_lanes() { return static_cast<int>(calc::detail::widest_lanes()); }
PELMORA_WEB_EXPORT int pelmora_web_fused() { return calc::detail::wasm_exp_fused() ? 1 : 0; }
PELMORA_WEB_EXPORT void pelmora_web_exp2(const double* x, double* y) { calc::detail::wasm_exp2(x, y); }
