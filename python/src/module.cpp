// pelmora._pelmora: the batch engine for numpy arrays. The Python package around it turns
// texts into codes and broadcasts; here every input is already an array of the broadcast shape
// (float64, the base uint8; a stride of 0 repeats one value), and the engine runs without the
// GIL.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "pelmora/calc/calculators.hpp"
#include "pelmora/calc/curves.hpp"
#include "pelmora/calc/engine.hpp"
#include "pelmora/chart/chart.hpp"
#include "pelmora/number_text.hpp"
#include "pelmora/errors.hpp"

namespace py = pybind11;
namespace calc = pelmora::calc;

namespace {

// One input: an array of the batch's shape and type, read through its strides (a broadcast
// input repeats its values with a stride of 0 and is never copied).
template <class T>
const T* input(const py::array& a, const std::vector<py::ssize_t>& shape, const char* name) {
    if (!py::isinstance<py::array_t<T>>(a) || a.ndim() != static_cast<py::ssize_t>(shape.size()) ||
        !std::equal(shape.begin(), shape.end(), a.shape())) {
        throw py::value_error(std::string(name) + ": expected an array of the batch's shape and type");
    }
    for (py::ssize_t d = 0; d < a.ndim(); ++d) {
        if (a.strides(d) % static_cast<py::ssize_t>(sizeof(T)) != 0)
            throw py::value_error(std::string(name) + ": odd stride");
    }
    return static_cast<const T*>(a.data());
}

template <class T>
calc::Column<T> line_of(const py::array& a, const std::vector<py::ssize_t>& index) {
    const char* p = static_cast<const char*>(a.data());
    for (std::size_t d = 0; d < index.size(); ++d) p += index[d] * a.strides(static_cast<py::ssize_t>(d));
    const py::ssize_t last = a.ndim() - 1;
    return {reinterpret_cast<const T*>(p), last < 0 ? 0 : a.strides(last) / static_cast<py::ssize_t>(sizeof(T))};
}

// Runs the engine over inputs of one shape (the broadcast shape), one line of the last axis at a
// time; returns (quantities as a dict of arrays of that shape, error numbers or None, classes or
// None, failures as a list of (flat row, number, message): the first `max_failures` of them).
py::tuple batch(const py::array& base, const py::array& bwt, const py::array& gest, const py::array& wt,
                const py::array& ht, const py::array& sex, const py::array& eth, const py::array& par,
                const std::vector<std::string>& wanted, bool with_error, bool with_class, double sga_below,
                double lga_above, unsigned threads, std::size_t max_failures) {
    const std::vector<py::ssize_t> shape(bwt.shape(), bwt.shape() + bwt.ndim());
    const std::array<const py::array*, 7> in{&bwt, &gest, &wt, &ht, &sex, &eth, &par};
    constexpr std::array<const char*, 7> names{"bwt", "gest", "wt", "ht", "sex", "eth", "par"};
    input<std::uint8_t>(base, shape, "base");
    for (std::size_t j = 0; j < in.size(); ++j) input<double>(*in[j], shape, names[j]);

    calc::Results results;
    py::dict values;
    for (const std::string& name : wanted) {
        std::size_t q = 0;
        while (q < calc::quantity_names.size() && name != calc::quantity_names[q]) ++q;
        if (q == calc::quantity_names.size()) throw py::value_error("no quantity named " + name);
        py::array_t<double> out(shape);
        results.values[q] = out.mutable_data();
        values[py::str(name)] = out;
    }
    py::object errors = py::none();
    static_assert(sizeof(int) == sizeof(std::int32_t));
    if (with_error) {
        py::array_t<std::int32_t> e(shape);
        results.error = reinterpret_cast<int*>(e.mutable_data());
        errors = e;
    }
    py::object classes = py::none();
    if (with_class) {
        py::array_t<std::int8_t> c(shape);
        results.size_class = reinterpret_cast<calc::SizeClass*>(c.mutable_data());
        results.thresholds = {sga_below, lga_above};
        classes = c;
    }
    std::vector<calc::RowFailure> failures;
    if (max_failures > 0) results.failures = &failures;

    // Lines of the last axis, each a batch of the engine; a 0-d batch is one line of one row.
    const std::size_t length = shape.empty() ? 1 : static_cast<std::size_t>(shape.back());
    std::size_t lines = 1;
    for (std::size_t d = 0; d + 1 < shape.size(); ++d) lines *= static_cast<std::size_t>(shape[d]);
    if (length == 0) lines = 0;
    {
        py::gil_scoped_release unlocked;
        std::vector<py::ssize_t> index(shape.empty() ? 0 : shape.size() - 1, 0);
        calc::Results line = results;
        std::vector<calc::RowFailure> found;
        for (std::size_t l = 0; l < lines; ++l) {
            const std::size_t first = l * length;
            for (std::size_t q = 0; q < calc::quantity_count; ++q) {
                if (results.values[q]) line.values[q] = results.values[q] + first;
            }
            if (results.error) line.error = results.error + first;
            if (results.size_class) line.size_class = results.size_class + first;
            line.failures = failures.size() < max_failures ? &found : nullptr;
            line.failure_limit = max_failures - failures.size();
            found.clear();
            const calc::Rows rows{.count = length,
                                  .base = line_of<std::uint8_t>(base, index),
                                  .bwt = line_of<double>(bwt, index),
                                  .gest = line_of<double>(gest, index),
                                  .wt = line_of<double>(wt, index),
                                  .ht = line_of<double>(ht, index),
                                  .sex = line_of<double>(sex, index),
                                  .eth = line_of<double>(eth, index),
                                  .par = line_of<double>(par, index)};
            calc::evaluate_rows(rows, line, threads);
            for (auto& f : found) {
                f.row += first;
                failures.push_back(std::move(f));
            }
            for (std::size_t d = index.size(); d-- > 0;) {  // the next line's index
                if (++index[d] < shape[d]) break;
                index[d] = 0;
            }
        }
    }
    py::list failed;
    for (const auto& f : failures) failed.append(py::make_tuple(f.row, f.number, f.message));
    return py::make_tuple(values, errors, classes, failed);
}

py::array_t<std::int8_t> classify(const py::array_t<double, py::array::c_style | py::array::forcecast>& centile,
                                  double sga_below, double lga_above) {
    py::array_t<std::int8_t> out(std::vector<py::ssize_t>(centile.shape(), centile.shape() + centile.ndim()));
    const double* src = centile.data();
    std::int8_t* dst = out.mutable_data();
    for (py::ssize_t i = 0; i < centile.size(); ++i) {
        dst[i] = static_cast<std::int8_t>(calc::classify(src[i], {sga_below, lga_above}));
    }
    return out;
}

// Weights at centiles per row; returns (weights, error numbers, failures as (row, number, message)).
py::tuple weights_at_centile(const py::array& base, const py::array& centile, const py::array& gest,
                             const py::array& wt, const py::array& ht, const py::array& sex, const py::array& eth,
                             const py::array& par) {
    const std::vector<py::ssize_t> shape{gest.ndim() == 1 ? gest.shape(0) : -1};
    const std::vector<py::ssize_t> at;  // the one line of 1-d arrays
    const std::array<std::pair<const py::array*, const char*>, 7> in{{{&centile, "centile"},
                                                                      {&gest, "gest"},
                                                                      {&wt, "wt"},
                                                                      {&ht, "ht"},
                                                                      {&sex, "sex"},
                                                                      {&eth, "eth"},
                                                                      {&par, "par"}}};
    input<std::uint8_t>(base, shape, "base");
    for (const auto& [a, name] : in) input<double>(*a, shape, name);
    const py::ssize_t n = shape[0];
    const calc::Column<double> g = line_of<double>(gest, at);
    const calc::Rows rows{.count = static_cast<std::size_t>(n),
                          .base = line_of<std::uint8_t>(base, at),
                          .bwt = g,  // not read
                          .gest = g,
                          .wt = line_of<double>(wt, at),
                          .ht = line_of<double>(ht, at),
                          .sex = line_of<double>(sex, at),
                          .eth = line_of<double>(eth, at),
                          .par = line_of<double>(par, at)};
    const calc::Column<double> p = line_of<double>(centile, at);
    py::array_t<double> weight(n);
    py::array_t<std::int32_t> error(n);
    std::vector<calc::RowFailure> failures;
    {
        py::gil_scoped_release unlocked;
        calc::weights_at_centile(rows, p, weight.mutable_data(), reinterpret_cast<int*>(error.mutable_data()),
                                 &failures);
    }
    py::list failed;
    for (const auto& f : failures) failed.append(py::make_tuple(f.row, f.number, f.message));
    return py::make_tuple(weight, error, failed);
}

// One mother's curves as an array of shape (centiles, days); returns (weights, error number,
// message), the number 0 when nothing failed.
py::tuple curves(int base, double wt, double ht, double sex, double eth, double par,
                 const std::vector<double>& centiles, int first, int last) {
    if (base < 0 || base > static_cast<int>(calc::Base::australia)) throw py::value_error("base: no such base");
    const calc::Mother mother{
        .base = static_cast<calc::Base>(base), .wt = wt, .ht = ht, .sex = sex, .eth = eth, .par = par};
    try {
        calc::Curves c = calc::curves(mother, centiles, {first, last});
        py::array_t<double> out({static_cast<py::ssize_t>(centiles.size()), static_cast<py::ssize_t>(c.days.count())});
        std::copy(c.weights.begin(), c.weights.end(), out.mutable_data());
        return py::make_tuple(out, 0, "");
    } catch (const calc::Failure& f) {
        return py::make_tuple(py::none(), f.number(), f.what());
    }
}

// The chart of one mother as SVG text; returns (svg, error number, message), svg None and the
// number non-zero when the request is bad or the calculation fails.
py::tuple chart_svg(int base, double wt, double ht, double sex, double eth, double par,
                    const std::vector<double>& centiles, int first, int last,
                    const std::vector<std::tuple<int, double, std::string>>& points, const std::string& edd) {
    if (base < 0 || base > static_cast<int>(calc::Base::australia)) throw py::value_error("base: no such base");
    pelmora::chart::Chart c;
    c.mother = {.base = static_cast<calc::Base>(base), .wt = wt, .ht = ht, .sex = sex, .eth = eth, .par = par};
    c.centiles = centiles;
    c.days = {first, last};
    for (const auto& [gest, weight, label] : points) c.points.push_back({gest, weight, label});
    if (!edd.empty()) {
        c.edd = pelmora::chart::parse_date(edd);
        if (!c.edd) throw py::value_error("edd: not a date YYYY-MM-DD: '" + edd + "'");
    }
    try {
        return py::make_tuple(pelmora::chart::svg(c), 0, "");
    } catch (const calc::Failure& f) {
        return py::make_tuple(py::none(), f.number(), f.what());
    }
}

}  // namespace

PYBIND11_MODULE(_pelmora, m) {
    m.doc() = "The Pelmora batch engine (use the pelmora package)";
    m.def("batch", &batch, py::arg("base"), py::arg("bwt"), py::arg("gest"), py::arg("wt"), py::arg("ht"),
          py::arg("sex"), py::arg("eth"), py::arg("par"), py::arg("wanted"), py::arg("with_error"),
          py::arg("with_class"), py::arg("sga_below"), py::arg("lga_above"), py::arg("threads"),
          py::arg("max_failures"));
    // The one reader of numbers in text, as the calculators read a text argument: the number
    // (infinity beyond the largest double), or None when the text is no number.
    m.def(
        "number_in_text",
        [](std::string_view text) -> py::object {
            const auto v = pelmora::number_in_text(text, pelmora::argument_syntax);
            if (!v) return py::none();
            return py::float_(*v);
        },
        py::arg("text"));
    m.attr("type_mismatch") = std::string(pelmora::error_text(pelmora::Error::type_mismatch));
    m.attr("overflow") = std::string(pelmora::error_text(pelmora::Error::overflow));
    m.def("classify", &classify, py::arg("centile"), py::arg("sga_below"), py::arg("lga_above"));
    m.def("weights_at_centile", &weights_at_centile, py::arg("base"), py::arg("centile"), py::arg("gest"),
          py::arg("wt"), py::arg("ht"), py::arg("sex"), py::arg("eth"), py::arg("par"));
    m.def("curves", &curves, py::arg("base"), py::arg("wt"), py::arg("ht"), py::arg("sex"), py::arg("eth"),
          py::arg("par"), py::arg("centiles"), py::arg("first"), py::arg("last"));
    m.def("chart_svg", &chart_svg, py::arg("base"), py::arg("wt"), py::arg("ht"), py::arg("sex"), py::arg("eth"),
          py::arg("par"), py::arg("centiles"), py::arg("first"), py::arg("last"), py::arg("points"), py::arg("edd"));
    m.attr("quantities") = py::cast(std::vector<std::string>(calc::quantity_names.begin(), calc::quantity_names.end()));
    m.attr("classes") = py::cast(std::vector<std::string>(calc::class_texts.begin(), calc::class_texts.end()));

    py::list bases;
    py::dict ethnic;
    for (const calc::BaseEntry& b : calc::base_table) {
        bases.append(py::make_tuple(std::string(b.name), std::string(b.tag)));
        py::dict groups;
        for (const auto& g : calc::ethnic_groups(b.base)) groups[py::str(std::string(g.text))] = g.code;
        ethnic[py::int_(static_cast<int>(b.base))] = groups;
    }
    m.attr("bases") = bases;    // index = code: (name, tag)
    m.attr("ethnic") = ethnic;  // code -> {list text: code}
    py::list parity;
    for (const auto t : calc::parity_texts()) parity.append(std::string(t));
    m.attr("parity") = parity;  // index = code
    py::dict sexes;
    for (const auto& s : calc::sex_texts) sexes[py::str(std::string(s.text))] = s.code;
    m.attr("sexes") = sexes;  // list text -> code
}
