// The Australian base: its term-weight recipe, its spread coefficient and its ethnic groups.

#include "model.hpp"

namespace pelmora::calc {
namespace {

using detail::cubic_weight_term;
using detail::linear_height_term;
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
    ev.weight_term = cubic_weight_term(sub(weight, 64.0, "weight term"), 0.001, 0.15, 9.0);
    ev.height_term = linear_height_term(ht, 7.8, 163.0);
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
