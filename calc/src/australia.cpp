// The Australian base: its term-weight recipe, its spread coefficient and its ethnic groups.

#include "model.hpp"

namespace pelmora::calc {
namespace {

using detail::add;
using detail::mul;
using detail::sub;

// No "Other" row: any code outside 1..4 takes the term 0.
constexpr EthnicGroup groups[] = {
    {1, "European", 0.0},
    {2, "Indian/Pakistani", -162.0},
    {3, "Middle Eastern", -110.0},
    {4, "African", -297.4},
};

// The weight and height terms: a cubic weight term about 64 kg and a linear height term about 163 cm.
void weight_and_height(Evaluation& ev, double weight, Arg& ht) {
    constexpr const char* wt = "weight term";
    const double x = sub(weight, 64.0, wt);
    ev.weight_term = mul(add(mul(sub(mul(0.001, x, wt), 0.15, wt), x, wt), 9.0, wt), x, wt);
    constexpr const char* hgt = "height term";
    ev.height_term = mul(7.8, sub(ht.read_number("ht"), 163.0, hgt), hgt);
}

}  // namespace

const detail::BaseModel detail::australia{
    .base = Base::australia,
    .weight_and_height = weight_and_height,
    .sex_term = 66.9,
    .ethnic = {.rows = groups, .compared = 4},
    .parity = {0.0, 94.8, 115.2, 116.0, 99.2},
    .constant = 3463.6,
    .spread = 0.1396,
};

}  // namespace pelmora::calc
