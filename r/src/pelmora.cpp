// The R package's native routines: the batch engine over R's vectors. The R functions around
// them turn texts and factors into codes and check lengths; here every input is a vector of
// length 1 (repeated for every row) or of the batch's length (doubles, or for the batch also
// integers or logicals), and the base an integer vector of codes with NA for a missing base.
//
// No R function that can raise an R error (and so jump over C++ destructors) is called while a
// C++ object with a destructor is alive: R's vectors are made first, the engine runs in a scope
// of its own, and what it reports is copied into plain buffers before R sees it.

#define R_NO_REMAP
#include <R.h>
#include <Rinternals.h>
#include <R_ext/Rdynload.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <span>
#include <vector>

#include "pelmora/calc/calculators.hpp"
#include "pelmora/calc/curves.hpp"
#include "pelmora/calc/engine.hpp"
#include "pelmora/number_text.hpp"

#if defined(__FAST_MATH__)
#error "the calculators must not be compiled with fast-math"
#endif

namespace calc = pelmora::calc;

namespace {

// How many failed rows a batch reports by row, number and message (the count is always whole).
constexpr int reported_failures = 5;
constexpr std::size_t message_room = 160;

struct Report {
    R_xlen_t failed = 0;
    double rows[reported_failures] = {};
    int numbers[reported_failures] = {};
    char messages[reported_failures][message_room] = {};
    char trouble[message_room] = {};  // the engine's own trouble (no memory, no thread)
};

calc::Column<double> column(SEXP v, R_xlen_t n) { return {REAL(v), XLENGTH(v) == 1 && n != 1 ? 0 : 1}; }

bool missing_row(const calc::Rows& rows, const int* base, std::ptrdiff_t base_stride, std::size_t i) {
    if (base[static_cast<std::ptrdiff_t>(i) * base_stride] == NA_INTEGER) return true;
    const double in[7] = {rows.bwt[i], rows.gest[i], rows.wt[i], rows.ht[i], rows.sex[i], rows.eth[i], rows.par[i]};
    for (const double v : in) {
        if (std::isnan(v)) return true;
    }
    return false;
}

// The first failed rows of `failures` and the count of rows whose error is set, leaving out
// (and clearing the error of) the rows `missing` says are missing rather than failed.
template <typename Missing>
void report_failures(const std::vector<calc::RowFailure>& failures, int* error, std::size_t count, Missing missing,
                     Report& report) {
    for (const auto& f : failures) {
        if (missing(f.row)) continue;
        if (report.failed >= reported_failures) break;
        const auto k = static_cast<int>(report.failed);
        report.rows[k] = static_cast<double>(f.row) + 1;
        report.numbers[k] = f.number;
        std::snprintf(report.messages[k], message_room, "%s", f.message.c_str());
        ++report.failed;
    }
    R_xlen_t failed = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (error[i] == 0) continue;
        if (missing(i)) {
            error[i] = 0;
        } else {
            ++failed;
        }
    }
    report.failed = failed;
}

// list(values, error, failed, rows, numbers, messages): what pelmora_batch and the routines like
// it return.
SEXP failure_list(SEXP values, SEXP errors, const Report& report) {
    const int shown = report.failed < reported_failures ? static_cast<int>(report.failed) : reported_failures;
    SEXP rows_out = PROTECT(Rf_allocVector(REALSXP, shown));
    SEXP numbers = PROTECT(Rf_allocVector(INTSXP, shown));
    SEXP messages = PROTECT(Rf_allocVector(STRSXP, shown));
    for (int k = 0; k < shown; ++k) {
        REAL(rows_out)[k] = report.rows[k];
        INTEGER(numbers)[k] = report.numbers[k];
        SET_STRING_ELT(messages, k, Rf_mkCharCE(report.messages[k], CE_UTF8));
    }
    const char* names[] = {"values", "error", "failed", "rows", "numbers", "messages", ""};
    SEXP out = PROTECT(Rf_mkNamed(VECSXP, names));
    SET_VECTOR_ELT(out, 0, values);
    SET_VECTOR_ELT(out, 1, errors);
    SET_VECTOR_ELT(out, 2, Rf_ScalarReal(static_cast<double>(report.failed)));
    SET_VECTOR_ELT(out, 3, rows_out);
    SET_VECTOR_ELT(out, 4, numbers);
    SET_VECTOR_ELT(out, 5, messages);
    UNPROTECT(4);
    return out;
}

// R's own NA (not a NaN) where a weight is missing or failed.
void na_for_nan(SEXP values) {
    double* v = REAL(values);
    for (R_xlen_t i = 0; i < XLENGTH(values); ++i) {
        if (std::isnan(v[i])) v[i] = NA_REAL;
    }
}

// Integer and logical columns are read in place, a chunk of rows at a time converted into a
// buffer of doubles (R's NA becoming NaN), so no column is copied whole; with double columns only,
// the whole batch is one chunk.
constexpr std::size_t chunk_rows = std::size_t{1} << 16;

// One number input as R holds it: doubles, or ints (integer or logical), of length 1 or n.
struct Input {
    const double* real = nullptr;
    const int* whole = nullptr;
    bool one = false;  // one value for every row
};

// Taken before the engine runs: INTEGER() and REAL() may allocate (an ALTREP vector) and so fail.
Input input_of(SEXP v, R_xlen_t n) {
    const bool one = XLENGTH(v) == 1 && n != 1;
    if (TYPEOF(v) == REALSXP) return {REAL(v), nullptr, one};
    return {nullptr, INTEGER(v), one};  // a logical vector is stored as int
}

calc::Column<double> chunk_column(const Input& v, std::size_t start, std::size_t count, double* buffer) {
    if (v.real != nullptr) return {v.real + (v.one ? 0 : start), v.one ? 0 : 1};
    const int* x = v.whole + (v.one ? 0 : start);
    const std::size_t m = v.one ? 1 : count;
    for (std::size_t i = 0; i < m; ++i) buffer[i] = x[i] == NA_INTEGER ? NAN : static_cast<double>(x[i]);
    return {buffer, v.one ? 0 : 1};
}

// Runs the engine over `inputs` (bwt, gest, wt, ht, sex, eth, par) chunk by chunk and fills
// `report`; no R call that can fail inside. Missing and failed rows get R's NA in every
// quantity. The engine keeps the messages of the first failed rows only: as many as are
// reported, plus the rows of a missing base (which fail in the engine, as a code that names no
// base, and are missing here, not failed).
void run(const Input (&inputs)[7], R_xlen_t n, const Rbyte* codes, const int* base, std::ptrdiff_t base_stride,
         const calc::Results& results, unsigned threads, std::size_t missing_bases, Report& report) noexcept {
    try {
        bool converted = false;
        for (const Input& v : inputs) converted = converted || v.real == nullptr;
        const auto total = static_cast<std::size_t>(n);
        const std::size_t chunk = converted ? chunk_rows : std::max<std::size_t>(total, 1);
        std::vector<double> buffers(converted ? 7 * chunk : 0);
        const std::size_t limit = reported_failures + missing_bases;
        std::vector<calc::RowFailure> failures;
        std::vector<calc::RowFailure> found;
        for (std::size_t start = 0; start < total; start += chunk) {
            const std::size_t count = std::min(chunk, total - start);
            calc::Column<double> in[7];
            for (std::size_t k = 0; k < 7; ++k) {
                in[k] = chunk_column(inputs[k], start, count, converted ? buffers.data() + k * chunk : nullptr);
            }
            const calc::Rows rows{.count = count,
                                  .base = {codes + (base_stride == 0 ? 0 : start), base_stride},
                                  .bwt = in[0],
                                  .gest = in[1],
                                  .wt = in[2],
                                  .ht = in[3],
                                  .sex = in[4],
                                  .eth = in[5],
                                  .par = in[6]};
            calc::Results part = results;
            for (double*& v : part.values) {
                if (v != nullptr) v += start;
            }
            part.error = results.error + start;
            found.clear();
            part.failures = &found;
            part.failure_limit = limit - std::min(limit, failures.size());
            calc::evaluate_rows(rows, part, threads);
            for (auto& f : found) {
                f.row += start;
                failures.push_back(std::move(f));
            }
            // R's own NA (not a NaN) in the rows that are missing or failed, for every quantity.
            const int* chunk_base = base + (base_stride == 0 ? 0 : start);
            for (std::size_t i = 0; i < count; ++i) {
                if (part.error[i] == 0 && !missing_row(rows, chunk_base, base_stride, i)) continue;
                for (double* v : part.values) {
                    if (v != nullptr) v[i] = NA_REAL;
                }
            }
        }
        // A missing base's row is no failure.
        const auto missing = [&](std::size_t i) {
            return base[static_cast<std::ptrdiff_t>(i) * base_stride] == NA_INTEGER;
        };
        report_failures(failures, results.error, total, missing, report);
    } catch (const std::exception& e) {
        std::snprintf(report.trouble, message_room, "%s", e.what());
    } catch (...) {
        std::snprintf(report.trouble, message_room, "unknown failure");
    }
}

}  // namespace

extern "C" {

// .Call("pelmora_batch", base, bwt, gest, wt, ht, sex, eth, par, n, wanted, threads):
// list(values = list of double vectors by `wanted` (0-based quantity numbers), error = runtime
// error number per row (0 where none), failed = count of failed rows, rows, numbers, messages =
// the first failed rows (1-based), their runtime error numbers and messages).
SEXP pelmora_batch(SEXP base, SEXP bwt, SEXP gest, SEXP wt, SEXP ht, SEXP sex, SEXP eth, SEXP par, SEXP n_, SEXP wanted,
                   SEXP threads_) {
    const R_xlen_t n = static_cast<R_xlen_t>(Rf_asReal(n_));
    const SEXP inputs[7] = {bwt, gest, wt, ht, sex, eth, par};
    if (TYPEOF(base) != INTSXP || (XLENGTH(base) != 1 && XLENGTH(base) != n)) Rf_error("base: bad column");
    for (const SEXP v : inputs) {
        const bool number = TYPEOF(v) == REALSXP || TYPEOF(v) == INTSXP || TYPEOF(v) == LGLSXP;
        if (!number || (XLENGTH(v) != 1 && XLENGTH(v) != n)) Rf_error("inputs: bad column");
    }
    if (TYPEOF(wanted) != INTSXP) Rf_error("wanted: bad quantities");
    const int threads = Rf_asInteger(threads_);
    if (threads == NA_INTEGER || threads < 0) Rf_error("threads: expected a count >= 0");

    // The base as the engine reads it: a byte per row, 255 (no base) where R's is NA or out of range.
    const std::ptrdiff_t base_stride = XLENGTH(base) == 1 && n != 1 ? 0 : 1;
    SEXP codes = PROTECT(Rf_allocVector(RAWSXP, XLENGTH(base)));
    const int* b = INTEGER(base);
    std::size_t missing_bases = 0;
    for (R_xlen_t i = 0; i < XLENGTH(base); ++i) {
        const bool named = b[i] >= 0 && b[i] <= 3;
        RAW(codes)[i] = static_cast<Rbyte>(named ? b[i] : 255);
        if (!named) ++missing_bases;
    }
    if (base_stride == 0 && missing_bases != 0) missing_bases = static_cast<std::size_t>(n);

    const R_xlen_t nwanted = XLENGTH(wanted);
    SEXP values = PROTECT(Rf_allocVector(VECSXP, nwanted));
    calc::Results results;
    for (R_xlen_t k = 0; k < nwanted; ++k) {
        const int q = INTEGER(wanted)[k];
        if (q < 0 || q >= static_cast<int>(calc::quantity_count)) Rf_error("wanted: no such quantity");
        SET_VECTOR_ELT(values, k, Rf_allocVector(REALSXP, n));
        results.values[static_cast<std::size_t>(q)] = REAL(VECTOR_ELT(values, k));
    }
    SEXP errors = PROTECT(Rf_allocVector(INTSXP, n));
    results.error = INTEGER(errors);

    const Input in[7] = {input_of(bwt, n), input_of(gest, n), input_of(wt, n), input_of(ht, n),
                         input_of(sex, n), input_of(eth, n),  input_of(par, n)};
    Report report;
    run(in, n, RAW(codes), b, base_stride, results, static_cast<unsigned>(threads), missing_bases, report);
    if (report.trouble[0] != '\0') Rf_error("the batch could not run: %s", report.trouble);

    SEXP out = failure_list(values, errors, report);
    UNPROTECT(3);
    return out;
}

}  // extern "C"

namespace {

// The engine's base column from R's integer codes: 255 (no base) where R's is NA.
SEXP base_bytes(SEXP base) {
    SEXP codes = PROTECT(Rf_allocVector(RAWSXP, XLENGTH(base)));
    const int* b = INTEGER(base);
    for (R_xlen_t i = 0; i < XLENGTH(base); ++i) {
        RAW(codes)[i] = static_cast<Rbyte>(b[i] >= 0 && b[i] <= 3 ? b[i] : 255);
    }
    UNPROTECT(1);
    return codes;
}

void check_columns(SEXP base, const SEXP* inputs, std::size_t count, R_xlen_t n) {
    if (TYPEOF(base) != INTSXP || (XLENGTH(base) != 1 && XLENGTH(base) != n)) Rf_error("base: bad column");
    for (std::size_t k = 0; k < count; ++k) {
        if (TYPEOF(inputs[k]) != REALSXP || (XLENGTH(inputs[k]) != 1 && XLENGTH(inputs[k]) != n)) {
            Rf_error("inputs: bad column");
        }
    }
}

}  // namespace

extern "C" {

// .Call("pelmora_weight_at_centile", base, centile, gest, wt, ht, sex, eth, par, n): the birth
// weight at each row's centile, as pelmora_batch's list (values = the weights). A missing input
// (a centile among them) gives NA and no failure.
SEXP pelmora_weight_at_centile(SEXP base, SEXP centile, SEXP gest, SEXP wt, SEXP ht, SEXP sex, SEXP eth, SEXP par,
                               SEXP n_) {
    const R_xlen_t n = static_cast<R_xlen_t>(Rf_asReal(n_));
    const SEXP inputs[7] = {centile, gest, wt, ht, sex, eth, par};
    check_columns(base, inputs, 7, n);
    SEXP codes = PROTECT(base_bytes(base));
    SEXP weights = PROTECT(Rf_allocVector(REALSXP, n));
    SEXP errors = PROTECT(Rf_allocVector(INTSXP, n));
    const int* b = INTEGER(base);
    const std::ptrdiff_t base_stride = XLENGTH(base) == 1 && n != 1 ? 0 : 1;
    const calc::Rows rows{.count = static_cast<std::size_t>(n),
                          .base = {RAW(codes), base_stride},
                          .bwt = column(gest, n),  // not read
                          .gest = column(gest, n),
                          .wt = column(wt, n),
                          .ht = column(ht, n),
                          .sex = column(sex, n),
                          .eth = column(eth, n),
                          .par = column(par, n)};
    const calc::Column<double> wanted = column(centile, n);
    Report report;
    try {
        std::vector<calc::RowFailure> failures;
        calc::weights_at_centile(rows, wanted, REAL(weights), INTEGER(errors), &failures);
        const auto missing = [&](std::size_t i) {
            return b[static_cast<std::ptrdiff_t>(i) * base_stride] == NA_INTEGER || std::isnan(wanted[i]) ||
                   missing_row(rows, b, base_stride, i);
        };
        report_failures(failures, INTEGER(errors), rows.count, missing, report);
    } catch (const std::exception& e) {
        std::snprintf(report.trouble, message_room, "%s", e.what());
    }
    if (report.trouble[0] != '\0') Rf_error("the weights could not be computed: %s", report.trouble);
    na_for_nan(weights);
    SEXP out = failure_list(weights, errors, report);
    UNPROTECT(3);
    return out;
}

// .Call("pelmora_curves", base, wt, ht, sex, eth, par, n, centiles, first, last): the curves of
// n mothers, as pelmora_batch's list with values[(m * centiles + c) * days + d] the weight of
// mother m at centiles[c] on day first + d, and error, rows, ... by mother. A bad request (a
// centile out of range, days outside 0 to 350 or inverted) is an R error.
SEXP pelmora_curves(SEXP base, SEXP wt, SEXP ht, SEXP sex, SEXP eth, SEXP par, SEXP n_, SEXP centiles, SEXP first_,
                    SEXP last_) {
    const R_xlen_t n = static_cast<R_xlen_t>(Rf_asReal(n_));
    const SEXP inputs[5] = {wt, ht, sex, eth, par};
    check_columns(base, inputs, 5, n);
    if (TYPEOF(centiles) != REALSXP) Rf_error("centiles: expected a double vector");
    const calc::DayRange days{Rf_asInteger(first_), Rf_asInteger(last_)};
    const std::span<const double> wanted{REAL(centiles), static_cast<std::size_t>(XLENGTH(centiles))};
    char trouble[message_room] = {};
    try {
        calc::check_curve_request(wanted, days);
    } catch (const std::exception& e) {
        std::snprintf(trouble, message_room, "%s", e.what());
    }
    if (trouble[0] != '\0') Rf_error("%s", trouble);
    const double cells =
        static_cast<double>(n) * static_cast<double>(wanted.size()) * static_cast<double>(days.count());
    if (cells > static_cast<double>(R_XLEN_T_MAX)) Rf_error("curves: too many weights for one vector");
    SEXP codes = PROTECT(base_bytes(base));
    SEXP weights = PROTECT(Rf_allocVector(REALSXP, static_cast<R_xlen_t>(cells)));
    SEXP errors = PROTECT(Rf_allocVector(INTSXP, n));
    const int* b = INTEGER(base);
    const std::ptrdiff_t base_stride = XLENGTH(base) == 1 && n != 1 ? 0 : 1;
    static const double unread = 0;  // no NaN, so no mother is missing by it
    const calc::Column<double> none{&unread, 0};
    const calc::Rows mothers{.count = static_cast<std::size_t>(n),
                             .base = {RAW(codes), base_stride},
                             .bwt = none,   // not read
                             .gest = none,  // not read
                             .wt = column(wt, n),
                             .ht = column(ht, n),
                             .sex = column(sex, n),
                             .eth = column(eth, n),
                             .par = column(par, n)};
    Report report;
    try {
        std::vector<calc::RowFailure> failures;
        calc::curves_rows(mothers, wanted, days, REAL(weights), INTEGER(errors), &failures);
        const auto missing = [&](std::size_t i) {
            return b[static_cast<std::ptrdiff_t>(i) * base_stride] == NA_INTEGER ||
                   missing_row(mothers, b, base_stride, i);
        };
        report_failures(failures, INTEGER(errors), mothers.count, missing, report);
    } catch (const std::exception& e) {
        std::snprintf(report.trouble, message_room, "%s", e.what());
    }
    if (report.trouble[0] != '\0') Rf_error("the curves could not be computed: %s", report.trouble);
    na_for_nan(weights);
    SEXP out = failure_list(weights, errors, report);
    UNPROTECT(3);
    return out;
}

// .Call("pelmora_classify", centile, sga_below, lga_above): the class per centile as a factor's
// codes (1 SGA, 2 AGA, 3 LGA, NA for no centile).
SEXP pelmora_classify(SEXP centile, SEXP sga_below, SEXP lga_above) {
    if (TYPEOF(centile) != REALSXP) Rf_error("centile: expected a double vector");
    const calc::Thresholds t{Rf_asReal(sga_below), Rf_asReal(lga_above)};
    const R_xlen_t n = XLENGTH(centile);
    SEXP out = PROTECT(Rf_allocVector(INTSXP, n));
    const double* c = REAL(centile);
    int* o = INTEGER(out);
    for (R_xlen_t i = 0; i < n; ++i) {
        const calc::SizeClass k = calc::classify(c[i], t);
        o[i] = k == calc::SizeClass::none ? NA_INTEGER : static_cast<int>(k);
    }
    UNPROTECT(1);
    return out;
}

// .Call("pelmora_tables"): the calculators' tables the R functions read texts by: base names and
// tags by code, each base's ethnic-group texts and codes, the parity texts by code, the
// quantities' names in the engine's order, the class texts by class code and the sex list's texts
// with their codes.
SEXP pelmora_tables(void) {
    constexpr int nbases = static_cast<int>(calc::Base::australia) + 1;
    SEXP names = PROTECT(Rf_allocVector(STRSXP, nbases));
    SEXP tags = PROTECT(Rf_allocVector(STRSXP, nbases));
    SEXP ethnic = PROTECT(Rf_allocVector(VECSXP, nbases));
    for (int b = 0; b < nbases; ++b) {
        const auto base = static_cast<calc::Base>(b);
        const auto name = calc::base_name(base);
        const auto tag = calc::base_tag(base);
        SET_STRING_ELT(names, b, Rf_mkCharLenCE(name.data(), static_cast<int>(name.size()), CE_UTF8));
        SET_STRING_ELT(tags, b, Rf_mkCharLenCE(tag.data(), static_cast<int>(tag.size()), CE_UTF8));
        const auto groups = calc::ethnic_groups(base);
        SEXP texts = PROTECT(Rf_allocVector(STRSXP, static_cast<R_xlen_t>(groups.size())));
        SEXP codes = PROTECT(Rf_allocVector(REALSXP, static_cast<R_xlen_t>(groups.size())));
        for (std::size_t g = 0; g < groups.size(); ++g) {
            SET_STRING_ELT(texts, static_cast<R_xlen_t>(g),
                           Rf_mkCharLenCE(groups[g].text.data(), static_cast<int>(groups[g].text.size()), CE_UTF8));
            REAL(codes)[g] = groups[g].code;
        }
        const char* group_names[] = {"text", "code", ""};
        SEXP table = PROTECT(Rf_mkNamed(VECSXP, group_names));
        SET_VECTOR_ELT(table, 0, texts);
        SET_VECTOR_ELT(table, 1, codes);
        SET_VECTOR_ELT(ethnic, b, table);
        UNPROTECT(3);
    }
    const auto parity_texts = calc::parity_texts();
    SEXP parity = PROTECT(Rf_allocVector(STRSXP, static_cast<R_xlen_t>(parity_texts.size())));
    for (std::size_t p = 0; p < parity_texts.size(); ++p) {
        SET_STRING_ELT(parity, static_cast<R_xlen_t>(p),
                       Rf_mkCharLenCE(parity_texts[p].data(), static_cast<int>(parity_texts[p].size()), CE_UTF8));
    }
    SEXP quantities = PROTECT(Rf_allocVector(STRSXP, calc::quantity_count));
    for (std::size_t q = 0; q < calc::quantity_count; ++q) {
        SET_STRING_ELT(quantities, static_cast<R_xlen_t>(q),
                       Rf_mkChar(calc::quantity_name(static_cast<calc::Quantity>(q))));
    }
    SEXP classes = PROTECT(Rf_allocVector(STRSXP, 3));
    for (int c = 1; c <= 3; ++c) {
        SET_STRING_ELT(classes, c - 1, Rf_mkChar(calc::class_text(static_cast<calc::SizeClass>(c))));
    }
    SEXP sex = PROTECT(Rf_allocVector(INTSXP, static_cast<R_xlen_t>(calc::sex_texts.size())));
    SEXP sex_names = PROTECT(Rf_allocVector(STRSXP, static_cast<R_xlen_t>(calc::sex_texts.size())));
    for (std::size_t s = 0; s < calc::sex_texts.size(); ++s) {
        const std::string_view text = calc::sex_texts[s].text;
        SET_STRING_ELT(sex_names, static_cast<R_xlen_t>(s),
                       Rf_mkCharLenCE(text.data(), static_cast<int>(text.size()), CE_UTF8));
        INTEGER(sex)[s] = calc::sex_texts[s].code;
    }
    Rf_setAttrib(sex, R_NamesSymbol, sex_names);
    const char* table_names[] = {"bases", "tags", "ethnic", "parity", "quantities", "classes", "sex", ""};
    SEXP out = PROTECT(Rf_mkNamed(VECSXP, table_names));
    SET_VECTOR_ELT(out, 0, names);
    SET_VECTOR_ELT(out, 1, tags);
    SET_VECTOR_ELT(out, 2, ethnic);
    SET_VECTOR_ELT(out, 3, parity);
    SET_VECTOR_ELT(out, 4, quantities);
    SET_VECTOR_ELT(out, 5, classes);
    SET_VECTOR_ELT(out, 6, sex);
    UNPROTECT(9);
    return out;
}

// .Call("pelmora_read_numbers", texts): each text read as the calculators read an argument's
// text (the correctly rounded nearest double; R's own reader may miss it by an ulp in the 16th
// and 17th digits); NA for NA and for a text that is no number.
SEXP pelmora_read_numbers(SEXP texts) {
    if (TYPEOF(texts) != STRSXP) Rf_error("texts: expected a character vector");
    const R_xlen_t n = XLENGTH(texts);
    SEXP out = PROTECT(Rf_allocVector(REALSXP, n));
    for (R_xlen_t i = 0; i < n; ++i) {
        const SEXP t = STRING_ELT(texts, i);
        const auto v = t == NA_STRING ? std::nullopt : pelmora::number_in_text(CHAR(t));
        REAL(out)[i] = v ? *v : NA_REAL;
    }
    UNPROTECT(1);
    return out;
}

static const R_CallMethodDef call_methods[] = {
    {"pelmora_batch", reinterpret_cast<DL_FUNC>(&pelmora_batch), 11},
    {"pelmora_classify", reinterpret_cast<DL_FUNC>(&pelmora_classify), 3},
    {"pelmora_tables", reinterpret_cast<DL_FUNC>(&pelmora_tables), 0},
    {"pelmora_read_numbers", reinterpret_cast<DL_FUNC>(&pelmora_read_numbers), 1},
    {"pelmora_weight_at_centile", reinterpret_cast<DL_FUNC>(&pelmora_weight_at_centile), 9},
    {"pelmora_curves", reinterpret_cast<DL_FUNC>(&pelmora_curves), 10},
    {nullptr, nullptr, 0}};

void R_init_pelmora(DllInfo* dll) {
    R_registerRoutines(dll, nullptr, call_methods, nullptr, nullptr);
    R_useDynamicSymbols(dll, FALSE);
    R_forceSymbols(dll, TRUE);
}

}  // extern "C"
