// pelmora._pelmora: the batch engine for numpy arrays. The Python package around it turns
// texts into codes and broadcasts; here every input is already a 1-d float64 array of one
// length (a stride of 0 repeats one value), and the engine runs without the GIL.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "pelmora/calc/calculators.hpp"
#include "pelmora/calc/engine.hpp"

namespace py = pybind11;
namespace calc = pelmora::calc;

namespace {

// Quantity names, in the order of calc::Quantity.
constexpr std::array<const char*, calc::quantity_count> quantity_names{
    "centile",     "z",           "optimal_weight", "weight", "weight_term", "height_term", "sex_term",
    "ethnic_term", "parity_term", "term_weight",    "weeks",  "proportion",  "spread",      "ht_after"};

template <class T>
calc::Column<T> column(const py::array& a, py::ssize_t n, const char* name) {
    if (a.ndim() != 1 || a.shape(0) != n || !py::isinstance<py::array_t<T>>(a)) {
        throw py::value_error(std::string(name) + ": expected a 1-d array of the batch's length and type");
    }
    const py::ssize_t stride = a.strides(0);
    if (stride % static_cast<py::ssize_t>(sizeof(T)) != 0) throw py::value_error(std::string(name) + ": odd stride");
    return {static_cast<const T*>(a.data()), stride / static_cast<py::ssize_t>(sizeof(T))};
}

// Runs the engine; returns (quantities as a dict of arrays, error numbers, classes or None,
// failures as a list of (row, number, message)).
py::tuple batch(const py::array& base, const py::array& bwt, const py::array& gest, const py::array& wt,
                const py::array& ht, const py::array& sex, const py::array& eth, const py::array& par,
                const std::vector<std::string>& wanted, bool with_class, double sga_below, double lga_above,
                unsigned threads) {
    const py::ssize_t n = bwt.ndim() == 1 ? bwt.shape(0) : -1;
    calc::Rows rows{.count = static_cast<std::size_t>(n < 0 ? 0 : n),
                    .base = column<std::uint8_t>(base, n, "base"),
                    .bwt = column<double>(bwt, n, "bwt"),
                    .gest = column<double>(gest, n, "gest"),
                    .wt = column<double>(wt, n, "wt"),
                    .ht = column<double>(ht, n, "ht"),
                    .sex = column<double>(sex, n, "sex"),
                    .eth = column<double>(eth, n, "eth"),
                    .par = column<double>(par, n, "par")};
    calc::Results results;
    py::dict values;
    for (const std::string& name : wanted) {
        std::size_t q = 0;
        while (q < quantity_names.size() && name != quantity_names[q]) ++q;
        if (q == quantity_names.size()) throw py::value_error("no quantity named " + name);
        py::array_t<double> out(n);
        results.values[q] = out.mutable_data();
        values[py::str(name)] = out;
    }
    py::array_t<std::int32_t> error(n);
    static_assert(sizeof(int) == sizeof(std::int32_t));
    results.error = reinterpret_cast<int*>(error.mutable_data());
    py::object classes = py::none();
    if (with_class) {
        py::array_t<std::int8_t> c(n);
        results.size_class = reinterpret_cast<calc::SizeClass*>(c.mutable_data());
        results.thresholds = {sga_below, lga_above};
        classes = c;
    }
    std::vector<calc::RowFailure> failures;
    results.failures = &failures;
    {
        py::gil_scoped_release unlocked;
        calc::evaluate_rows(rows, results, threads);
    }
    py::list failed;
    for (const auto& f : failures) failed.append(py::make_tuple(f.row, f.number, f.message));
    return py::make_tuple(values, error, classes, failed);
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

}  // namespace

PYBIND11_MODULE(_pelmora, m) {
    m.doc() = "The Pelmora batch engine (use the pelmora package)";
    m.def("batch", &batch, py::arg("base"), py::arg("bwt"), py::arg("gest"), py::arg("wt"), py::arg("ht"),
          py::arg("sex"), py::arg("eth"), py::arg("par"), py::arg("wanted"), py::arg("with_class"),
          py::arg("sga_below"), py::arg("lga_above"), py::arg("threads"));
    m.def("classify", &classify, py::arg("centile"), py::arg("sga_below"), py::arg("lga_above"));
    m.attr("quantities") = py::cast(std::vector<std::string>(quantity_names.begin(), quantity_names.end()));

    py::list bases;
    py::dict ethnic;
    for (int b = 0; b <= static_cast<int>(calc::Base::australia); ++b) {
        const auto base = static_cast<calc::Base>(b);
        bases.append(py::make_tuple(std::string(calc::base_name(base)), std::string(calc::base_tag(base))));
        py::dict groups;
        for (const auto& g : calc::ethnic_groups(base)) groups[py::str(std::string(g.text))] = g.code;
        ethnic[py::int_(b)] = groups;
    }
    m.attr("bases") = bases;    // index = code: (name, tag)
    m.attr("ethnic") = ethnic;  // code -> {list text: code}
    py::list parity;
    for (const auto t : calc::parity_texts()) parity.append(std::string(t));
    m.attr("parity") = parity;  // index = code
}
