// The C face of the calculators and the batch engine: plain structures in, plain structures
// out, no exception across the boundary.

#define PELMORA_CENTILE_BUILDING 1
#include "pelmora/centile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <new>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "pelmora/calc/calculators.hpp"
#include "pelmora/calc/curves.hpp"
#include "pelmora/calc/engine.hpp"
#include "pelmora/errors.hpp"
#include "caller_struct.hpp"

namespace {

namespace calc = pelmora::calc;
using pelmora::capi::read_caller;
using pelmora::capi::write_caller;

using pelmora::Error;
constexpr int out_of_memory = PELMORA_OUT_OF_MEMORY;

// The header's error names against the one table: the same numbers, one name for every row.
struct NamedError {
    pelmora_error c;
    Error error;
};
constexpr NamedError named_errors[] = {
    {PELMORA_INVALID_ARGUMENT, Error::invalid_argument},
    {PELMORA_OVERFLOW, Error::overflow},
    {PELMORA_OUT_OF_MEMORY, Error::out_of_memory},
    {PELMORA_DIVISION_BY_ZERO, Error::division_by_zero},
    {PELMORA_TYPE_MISMATCH, Error::type_mismatch},
    {PELMORA_INTERNAL_ERROR, Error::internal_error},
    {PELMORA_OBJECT_NOT_SET, Error::object_not_set},
    {PELMORA_INVALID_USE_OF_NULL, Error::invalid_use_of_null},
    {PELMORA_INVALID_PROPERTY_VALUE, Error::invalid_property_value},
    {PELMORA_AUTOMATION_ERROR, Error::automation_error},
    {PELMORA_CANNOT_ACTIVATE, Error::cannot_activate},
};
constexpr bool names_match_table() {
    if (std::size(named_errors) != std::size(pelmora::error_table)) return false;
    for (const auto& row : pelmora::error_table) {
        if (std::none_of(std::begin(named_errors), std::end(named_errors),
                         [&](const NamedError& n) { return n.error == row.error && n.c == error_number(row.error); }))
            return false;
    }
    return true;
}
static_assert(names_match_table(), "pelmora_error must name every row of the error table with its number");

// The header's bases and classes are calc's codes.
static_assert(PELMORA_UNITED_KINGDOM == static_cast<int>(calc::Base::united_kingdom) &&
              PELMORA_SWEDEN == static_cast<int>(calc::Base::sweden) &&
              PELMORA_NEW_ZEALAND == static_cast<int>(calc::Base::new_zealand) &&
              PELMORA_AUSTRALIA == static_cast<int>(calc::Base::australia) &&
              PELMORA_AUSTRALIA + 1 == calc::base_count);
static_assert(PELMORA_CLASS_NONE == static_cast<int>(calc::SizeClass::none) &&
              PELMORA_CLASS_SGA == static_cast<int>(calc::SizeClass::sga) &&
              PELMORA_CLASS_AGA == static_cast<int>(calc::SizeClass::aga) &&
              PELMORA_CLASS_LGA == static_cast<int>(calc::SizeClass::lga));

bool known_base(int base) noexcept { return calc::is_base_code(base); }

void set_message(pelmora_evaluation& out, const char* text) noexcept {
    std::snprintf(out.message, sizeof out.message, "%s", text);
}

void evaluate_one(int base, const pelmora_inputs& in, pelmora_evaluation& out) {
    const auto b = static_cast<std::uint8_t>(base);
    calc::Rows rows{.count = 1,
                    .base = {&b, 0},
                    .bwt = {&in.bwt, 0},
                    .gest = {&in.gest, 0},
                    .wt = {&in.wt, 0},
                    .ht = {&in.ht, 0},
                    .sex = {&in.sex, 0},
                    .eth = {&in.eth, 0},
                    .par = {&in.par, 0}};
    double* const slots[calc::quantity_count] = {
        &out.centile,     &out.z,          &out.optimal_weight, &out.weight,      &out.weight_term,
        &out.height_term, &out.sex_term,   &out.ethnic_term,    &out.parity_term, &out.term_weight,
        &out.weeks,       &out.proportion, &out.spread,         &out.ht_after};
    calc::Results results;
    for (std::size_t q = 0; q < calc::quantity_count; ++q) results.values[q] = slots[q];
    std::vector<calc::RowFailure> failures;
    results.error = &out.error;
    results.failures = &failures;
    results.failure_limit = 1;
    calc::evaluate_rows(rows, results, 1);
    out.missing = 0;
    if (!failures.empty()) {
        set_message(out, failures.front().message.c_str());
    } else {
        out.missing = std::isnan(out.centile) ? 1 : 0;
    }
}

// Whether `n` values of `size` bytes from `a` and from `b` share a byte (null shares none).
bool overlap(const void* a, const void* b, std::size_t n, std::size_t size_a, std::size_t size_b) noexcept {
    if (!a || !b || n == 0) return false;
    const auto x = reinterpret_cast<std::uintptr_t>(a);
    const auto y = reinterpret_cast<std::uintptr_t>(b);
    // Compared with what the address space leaves, so no product or sum can wrap.
    const auto end_of = [n](std::uintptr_t p, std::size_t size) {
        const std::uintptr_t room = UINTPTR_MAX - p;
        return n > room / size ? UINTPTR_MAX : p + n * size;
    };
    return x < end_of(y, size_b) && y < end_of(x, size_a);
}

// Whether an output column shares memory with an input column or another output column: the
// engine would read what it has already written.
bool columns_overlap(std::size_t n, const pelmora_columns& in, const pelmora_outputs& out) noexcept {
    const std::pair<const void*, std::size_t> inputs[] = {
        {in.base, sizeof(int)},  {in.bwt, sizeof(double)}, {in.gest, sizeof(double)}, {in.wt, sizeof(double)},
        {in.ht, sizeof(double)}, {in.sex, sizeof(double)}, {in.eth, sizeof(double)},  {in.par, sizeof(double)}};
    const std::pair<const void*, std::size_t> outputs[] = {{out.centile, sizeof(double)},
                                                           {out.z, sizeof(double)},
                                                           {out.optimal_weight, sizeof(double)},
                                                           {out.error, sizeof(int)},
                                                           {out.size_class, sizeof(signed char)}};
    for (std::size_t o = 0; o < std::size(outputs); ++o) {
        for (const auto& i : inputs) {
            if (overlap(outputs[o].first, i.first, n, outputs[o].second, i.second)) return true;
        }
        for (std::size_t p = o + 1; p < std::size(outputs); ++p) {
            if (overlap(outputs[o].first, outputs[p].first, n, outputs[o].second, outputs[p].second)) return true;
        }
    }
    return false;
}

// The mother and baby of a row: everything but its birth weight and gestation.
// The base codes of a batch as the engine takes them: a column with a value outside 0..3 failing
// its row, or the one base of every row.
struct BaseCodes {
    std::vector<std::uint8_t> column;
    std::uint8_t one = 0;
};

// The engine's rows over the caller's columns (bwt given apart: the inverse reads none). Throws
// std::bad_alloc.
calc::Rows rows_of(std::size_t n, const pelmora_columns& in, const double* bwt, BaseCodes& bases) {
    calc::Column<std::uint8_t> base_column{&bases.one, 0};
    if (in.base) {
        bases.column.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            bases.column[i] = known_base(in.base[i]) ? static_cast<std::uint8_t>(in.base[i]) : std::uint8_t{255};
        }
        base_column = {bases.column.data(), 1};
    } else {
        bases.one = static_cast<std::uint8_t>(in.one_base);
    }
    return calc::Rows{.count = n,
                      .base = base_column,
                      .bwt = {bwt, 1},
                      .gest = {in.gest, 1},
                      .wt = {in.wt, 1},
                      .ht = {in.ht, 1},
                      .sex = {in.sex, 1},
                      .eth = {in.eth, 1},
                      .par = {in.par, 1}};
}

calc::Mother mother_of(int base, const pelmora_inputs& in) noexcept {
    return {
        .base = static_cast<calc::Base>(base), .wt = in.wt, .ht = in.ht, .sex = in.sex, .eth = in.eth, .par = in.par};
}

}  // namespace

extern "C" {

int pelmora_version(void) { return PELMORA_VERSION_NUMBER; }

const char* pelmora_version_string(void) { return PELMORA_VERSION_STRING; }

int pelmora_evaluate(int base, const pelmora_inputs* caller_in, pelmora_evaluation* caller_out) {
    pelmora_evaluation out{};
    if (!read_caller(caller_out, out)) return PELMORA_INVALID_ARGUMENT;  // nowhere to say more
    const std::size_t out_size = out.size;
    out = {};
    const double nan = std::nan("");
    for (double* v : {&out.centile, &out.z, &out.optimal_weight, &out.weight, &out.weight_term, &out.height_term,
                      &out.sex_term, &out.ethnic_term, &out.parity_term, &out.term_weight, &out.weeks, &out.proportion,
                      &out.spread, &out.ht_after}) {
        *v = nan;
    }
    pelmora_inputs in{};
    const bool have_in = read_caller(caller_in, in);
    if (!have_in || !known_base(base)) {
        out.error = PELMORA_INVALID_ARGUMENT;
        std::snprintf(out.message, sizeof out.message, "%s%s", pelmora::error_text(Error::invalid_argument),
                      have_in     ? " (base)"
                      : caller_in ? " (size)"
                                  : "");
    } else {
        try {
            evaluate_one(base, in, out);
        } catch (...) {  // std::bad_alloc: nothing else leaves the engine
            out.error = out_of_memory;
            set_message(out, pelmora_error_text(out_of_memory));
        }
    }
    write_caller(caller_out, out, out_size);
    return out.error;
}

int pelmora_evaluate_batch(size_t n, const pelmora_columns* caller_in, pelmora_outputs* caller_out, unsigned threads) {
    pelmora_columns in{};
    pelmora_outputs out{};
    if (!read_caller(caller_in, in) || !read_caller(caller_out, out)) return PELMORA_INVALID_ARGUMENT;
    if (n > 0 && !(in.bwt && in.gest && in.wt && in.ht && in.sex && in.eth && in.par)) {
        return PELMORA_INVALID_ARGUMENT;
    }
    if (out.size_class && !(out.sga_below <= out.lga_above)) return PELMORA_INVALID_ARGUMENT;  // NaN too
    if (!in.base && !known_base(in.one_base)) return PELMORA_INVALID_ARGUMENT;
    if (columns_overlap(n, in, out)) return PELMORA_INVALID_ARGUMENT;
    if (n == 0) return 0;

    BaseCodes bases;
    try {
        const calc::Rows rows = rows_of(n, in, in.bwt, bases);
        calc::Results results;
        results[calc::Quantity::centile] = out.centile;
        results[calc::Quantity::z] = out.z;
        results[calc::Quantity::optimal_weight] = out.optimal_weight;
        results.error = out.error;
        static_assert(sizeof(calc::SizeClass) == sizeof(signed char));
        results.size_class = reinterpret_cast<calc::SizeClass*>(out.size_class);
        results.thresholds = {out.sga_below, out.lga_above};
        calc::evaluate_rows(rows, results, threads);
        return 0;
    } catch (...) {  // std::bad_alloc, or std::system_error when no thread could be started
        return out_of_memory;
    }
}

pelmora_class pelmora_classify(double centile, double sga_below, double lga_above) {
    if (!(sga_below <= lga_above)) return PELMORA_CLASS_NONE;  // NaN too, as the batch refuses them
    return static_cast<pelmora_class>(calc::classify(centile, {sga_below, lga_above}));
}

const char* pelmora_error_text(int number) {
    const auto e = pelmora::error_numbered(number);
    return e ? pelmora::error_text(*e) : "";
}

const char* pelmora_base_name(int base) {
    if (!known_base(base)) return nullptr;
    return calc::base_name(static_cast<calc::Base>(base)).data();  // the names are literals
}

int pelmora_base_code(const char* name_or_tag) {
    if (!name_or_tag) return -1;
    const auto b = calc::base_from_text(name_or_tag);
    return b ? static_cast<int>(*b) : -1;
}

int pelmora_ethnic_code(int base, const char* text) {
    if (!text || !known_base(base)) return -1;
    for (const auto& g : calc::ethnic_groups(static_cast<calc::Base>(base))) {
        if (g.text == std::string_view(text)) return g.code;
    }
    return -1;
}

int pelmora_weight_at_centile(int base, const pelmora_inputs* caller_in, double centile, double* weight) {
    if (!weight) return PELMORA_INVALID_ARGUMENT;
    *weight = std::nan("");
    pelmora_inputs in{};
    if (!read_caller(caller_in, in) || !known_base(base)) return PELMORA_INVALID_ARGUMENT;
    try {
        *weight = calc::weight_at_centile(mother_of(base, in), in.gest, centile);
        return 0;
    } catch (const calc::Failure& f) {
        return f.number();
    } catch (...) {  // std::bad_alloc
        return out_of_memory;
    }
}

int pelmora_weight_at_centile_batch(size_t n, const pelmora_columns* caller_in, const double* centile, double* weight,
                                    int* error) {
    pelmora_columns in{};
    if (!read_caller(caller_in, in)) return PELMORA_INVALID_ARGUMENT;
    if (n == 0) return 0;
    if (!centile || !weight || !(in.gest && in.wt && in.ht && in.sex && in.eth && in.par)) {
        return PELMORA_INVALID_ARGUMENT;
    }
    if (!in.base && !known_base(in.one_base)) return PELMORA_INVALID_ARGUMENT;
    // The outputs must not share memory with the inputs or each other.
    const std::pair<const void*, std::size_t> inputs[] = {
        {in.base, sizeof(int)},   {in.gest, sizeof(double)}, {in.wt, sizeof(double)},  {in.ht, sizeof(double)},
        {in.sex, sizeof(double)}, {in.eth, sizeof(double)},  {in.par, sizeof(double)}, {centile, sizeof(double)}};
    for (const auto& i : inputs) {
        if (overlap(weight, i.first, n, sizeof(double), i.second) ||
            overlap(error, i.first, n, sizeof(int), i.second)) {
            return PELMORA_INVALID_ARGUMENT;
        }
    }
    if (overlap(weight, error, n, sizeof(double), sizeof(int))) return PELMORA_INVALID_ARGUMENT;
    try {
        BaseCodes bases;
        const calc::Rows rows = rows_of(n, in, in.gest, bases);  // bwt is not read
        calc::weights_at_centile(rows, {centile, 1}, weight, error);
        return 0;
    } catch (...) {  // std::bad_alloc
        return out_of_memory;
    }
}

int pelmora_curves(int base, const pelmora_inputs* caller_in, const double* centiles, size_t n_centiles, int first_day,
                   int last_day, double* weights, size_t capacity) {
    pelmora_inputs in{};
    if (!read_caller(caller_in, in) || !centiles || !weights || !known_base(base)) return PELMORA_INVALID_ARGUMENT;
    static_assert(PELMORA_CURVE_FIRST_DAY == 0 && PELMORA_CURVE_LAST_DAY == calc::max_gestation_days);
    const calc::DayRange days{first_day, last_day};
    const std::span<const double> wanted(centiles, n_centiles);
    try {
        calc::check_curve_request(wanted, days);
        if (capacity / days.count() < n_centiles) return PELMORA_INVALID_ARGUMENT;
        const calc::Curves c = calc::curves(mother_of(base, in), wanted, days);
        std::copy(c.weights.begin(), c.weights.end(), weights);
        return 0;
    } catch (const calc::Failure& f) {
        if (f.kind() != Error::invalid_argument) std::fill(weights, weights + n_centiles * days.count(), std::nan(""));
        return f.number();
    } catch (...) {  // std::bad_alloc
        return out_of_memory;
    }
}

}  // extern "C"
