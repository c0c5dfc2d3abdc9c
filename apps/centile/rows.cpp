#include "rows.hpp"

#include <array>
#include <cmath>
#include <functional>
#include <optional>

#include "csv.hpp"
#include "pelmora/calc/calculators.hpp"
#include "pelmora/number_text.hpp"

namespace pelmora::centile {
namespace {

using calc::Arg;
constexpr std::size_t none = static_cast<std::size_t>(-1);
enum Result : std::size_t { centile, z, optimal_weight, weeks, ht_after };

// The value a by-reference argument holds after the call, as CSV text.
void append_arg(std::string& out, const Arg& a) {
    switch (a.kind()) {
    case calc::Kind::r8: append_number(out, a.as_r8()); break;
    case calc::Kind::text: append_field(out, a.as_text()); break;
    default: break;  // Empty (and Null, which CSV cannot carry) is an empty field
    }
}

}  // namespace

void RowComputer::read(std::string_view text, Record& r, std::size_t k) {
    r.error.clear();
    r.plain = false;
    r.aligned = false;
    engine_row_[k] = none;
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    text = without_cr(text);
    r.text = text;
    r.blank = text.empty();  // a blank line is no row
    if (r.blank) return;
    constexpr std::size_t roomy = std::size_t{1} << 16;
    for (std::string& f : r.copies) {
        if (f.capacity() > roomy) std::string().swap(f);  // room from a very long field goes back
    }
    r.unquoted = read_plain(text, r);  // which sets every input, each being a column of the header
    if (!r.unquoted) r.inputs = {};
    const std::size_t count = header_.names.size();
    std::size_t extra = none;  // where the fields past the header's columns start
    const std::size_t found =
        r.unquoted ? count : each_field(text, scratch_, [&](std::size_t i, std::string_view f, std::size_t start) {
            if (i < count) {
                if (const std::uint8_t in = header_.input_of[i]; in != Header::passthrough) {
                    // The text is the record's own unless it was put together in the scratch space.
                    if (std::less_equal<>()(text.data(), f.data()) &&
                        std::less_equal<>()(f.data(), text.data() + text.size())) {
                        r.inputs[in] = f;
                    } else {
                        r.inputs[in] = r.copies[in].assign(f);
                    }
                }
            } else if (i == count) {
                extra = start;
            }
        });
    if (found == none) {
        r.error = "unterminated quoted field";
    } else if (found != count) {
        r.error = "expected " + std::to_string(count) + " fields, found " + std::to_string(found);
        if (extra != none) {
            // The fields the output has no column for are named in the message rather than lost.
            constexpr std::size_t shown = 256;
            r.error += "; past the last column: ";
            r.error.append(text.substr(extra, shown));
            if (text.size() - extra > shown) r.error += "...";
        }
    }
    if (!r.error.empty()) return;
    r.aligned = true;
    const std::string_view base_text = r.inputs[0];
    const auto base = calc::base_from_text(base_text);
    if (!base) {
        r.error = base_text.empty() ? "missing base" : "unknown base: " + std::string(base_text);
        return;
    }
    // A field the calculator would read as a number is read here once; anything else (text
    // that is no number, a number beyond the doubles) takes the calculator's own road.
    std::array<double, 7> v{};
    for (std::size_t j = 0; j < 7; ++j) {
        const std::string_view f = r.inputs[j + 1];
        if (f.empty()) {
            v[j] = std::nan("");
        } else if (r.unquoted && readable_ - f.data() >= 8 && short_decimal(f, v[j])) {
            // the commonest fields: digits and a full stop, in the chunk with eight bytes to read
        } else if (!Arg::parse_number(f, v[j]) || std::isinf(v[j])) {
            return;
        }
    }
    r.plain = true;
    engine_row_[k] = base_.size();
    base_.push_back(static_cast<std::uint8_t>(*base));
    for (std::size_t j = 0; j < 7; ++j) inputs_[j].push_back(v[j]);
}

bool RowComputer::read_plain(std::string_view text, Record& r) {
    const std::size_t count = header_.names.size();
    if (commas_.size() < count + 8) commas_.resize(count + 8);
    if (plain_commas(text, readable_, commas_.data(), count - 1) != count - 1) return false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t end = i + 1 < count ? commas_[i] : text.size();
        if (const std::uint8_t in = header_.input_of[i]; in != Header::passthrough) {
            r.inputs[in] = text.substr(start, end - start);
        }
        start = end + 1;
    }
    return true;
}

void RowComputer::echo(const Record& r, std::string& out) const {
    if (r.aligned && (r.unquoted || !holds_any(r.text, "\"\r\n"))) {
        out.append(r.text);  // no field is or needs quoting: the text is the fields as written
        out.push_back(',');
        return;
    }
    const std::size_t count = header_.names.size();
    std::size_t written = 0;
    each_field(r.text, scratch_, [&](std::size_t i, std::string_view f, std::size_t) {
        if (i >= count) return;
        append_field(out, f);
        out.push_back(',');
        ++written;
    });
    for (; written < count; ++written) out.push_back(',');
}

bool RowComputer::compute(std::string_view chunk, const std::vector<std::size_t>& ends, std::string& out) {
    if (records_.size() < ends.size()) records_.resize(ends.size());
    engine_row_.resize(ends.size());
    base_.clear();
    for (auto& column : inputs_) column.clear();
    readable_ = chunk.data() + chunk.size();
    std::size_t begin = 0;
    for (std::size_t k = 0; k < ends.size(); ++k) {
        read(chunk.substr(begin, ends[k] - begin), records_[k], k);
        begin = ends[k];
    }

    const std::size_t n = base_.size();
    const calc::Rows rows = calc::contiguous_rows(base_, inputs_);
    for (auto& r : results_) r.resize(n);
    errors_.resize(n);
    calc::Results results;
    results[calc::Quantity::centile] = results_[centile].data();
    results[calc::Quantity::z] = results_[z].data();
    results[calc::Quantity::optimal_weight] = results_[optimal_weight].data();
    results[calc::Quantity::weeks] = results_[weeks].data();
    results[calc::Quantity::ht_after] = results_[ht_after].data();
    results.error = errors_.data();
    calc::evaluate_rows(rows, results, 1);

    bool ok = true;
    for (std::size_t k = 0; k < ends.size(); ++k) {
        const Record& r = records_[k];
        if (r.blank) continue;
        const std::size_t e = engine_row_[k];
        if (e == none || errors_[e] != 0) {
            // Failures and fields that are not plain numbers: the calculator itself, on the
            // fields as text, gives the message and what it left in gest and ht.
            ok = write_by_calculator(r, out) && ok;
        } else {
            write(r, k, out);
        }
    }
    return ok;
}

void RowComputer::write(const Record& r, std::size_t k, std::string& out) const {
    const std::size_t e = engine_row_[k];
    echo(r, out);
    const double c = results_[centile][e];
    const bool computed = !std::isnan(c);  // else an input was missing, and nothing was written
    const bool sweden = base_[e] == static_cast<std::uint8_t>(calc::Base::sweden);
    // The result columns are put together here and appended at once; a field echoed from the
    // record, of any length, goes to `out` on its own.
    char line[(result_columns.size() + 1) * (number_room + 1)];
    char* p = line;
    auto echo_field = [&](std::string_view f) {
        out.append(line, p);
        p = line;
        append_field(out, f);
    };
    for (std::size_t col = 0; col < result_columns.size(); ++col) {
        switch (static_cast<ResultColumn>(col)) {
        case ResultColumn::centile:
            if (computed) p = put_number(p, c);
            break;
        case ResultColumn::gest_out:
            if (computed) {
                p = weeks_text_.put(p, results_[weeks][e]);
            } else {
                echo_field(r.inputs[2]);
            }
            break;
        case ResultColumn::ht_out:
            if (computed && sweden) {
                p = ht_text_.put(p, results_[ht_after][e]);
            } else {
                echo_field(r.inputs[4]);
            }
            break;
        case ResultColumn::z:
            if (computed) p = put_number(p, results_[z][e]);
            break;
        case ResultColumn::optimal_weight:
            if (computed) p = put_number(p, results_[optimal_weight][e]);
            break;
        case ResultColumn::size_class:
            if (!options_.classify) continue;
            for (const char* t = calc::class_text(calc::classify(c, options_.thresholds)); *t != 0; ++t) *p++ = *t;
            break;
        case ResultColumn::error: break;  // the row did not fail
        }
        *p++ = ',';
    }
    p[-1] = '\r';  // the last column's comma; the error column always writes one
    *p++ = '\n';
    out.append(line, p);
}

bool RowComputer::write_by_calculator(const Record& r, std::string& out) const {
    echo(r, out);
    std::string error = r.error;
    std::optional<calc::Evaluation> ev;
    std::array<Arg, 7> args;
    for (std::size_t j = 0; j < 7; ++j) {
        const std::string_view f = r.inputs[j + 1];
        args[j] = f.empty() ? Arg() : Arg::text(std::string(f));
    }
    if (error.empty()) {
        const auto base = calc::base_from_text(r.inputs[0]);
        try {
            ev = calc::evaluate(*base, args[0], args[1], args[2], args[3], args[4], args[5], args[6]);
        } catch (const calc::Failure& f) {
            error = f.what();
        }
    }
    const bool computed = ev && !ev->missing;
    for (std::size_t col = 0; col < result_columns.size(); ++col) {
        switch (static_cast<ResultColumn>(col)) {
        case ResultColumn::centile:
            if (computed) append_number(out, ev->centile);
            break;
        case ResultColumn::gest_out:  // fields that are not the header's columns are not echoed
            if (r.aligned) append_arg(out, args[1]);
            break;
        case ResultColumn::ht_out:
            if (r.aligned) append_arg(out, args[3]);
            break;
        case ResultColumn::z:
            if (computed) append_number(out, ev->z);
            break;
        case ResultColumn::optimal_weight:
            if (computed) append_number(out, ev->optimal_weight);
            break;
        case ResultColumn::size_class:
            if (!options_.classify) continue;
            if (computed) out.append(calc::class_text(calc::classify(ev->centile, options_.thresholds)));
            break;
        case ResultColumn::error: append_field(out, error); break;
        }
        out.push_back(',');
    }
    out.back() = '\r';
    out.push_back('\n');
    return error.empty();
}

}  // namespace pelmora::centile
