// The United Kingdom base: its term-weight recipe, its spread coefficient and its ethnic groups.

#include "model.hpp"

namespace pelmora::calc {
namespace {

using detail::cubic_weight_term;
using detail::linear_height_term;
using detail::sub;

constexpr EthnicGroup groups[] = {
    {1, "European", 0.0},          {2, "Indian", -149.4},  {3, "Pakistani", -187.3},     {4, "Bangladeshi", -79.3},
    {5, "Afro-Caribbean", -129.9}, {6, "African", -218.5}, {7, "Middle Eastern", -89.9}, {8, "Far East Asian", -0.3},
    {9, "South East Asian", 56.4}, {10, "Other", 0.0},  // also the term of any code outside the table
};

// The weight and height terms: a cubic weight term about 64 kg and a linear height term about 163 cm.
void weight_and_height(Evaluation& ev, double weight, Arg& ht) {
    ev.weight_term = cubic_weight_term(sub(weight, 64.0, "weight term"), -0.001, 0.151, 9.1733);
    ev.height_term = linear_height_term(ht, 6.7, 163.0);
}

}  // namespace

const detail::BaseModel detail::united_kingdom{
    .base = Base::united_kingdom,
    .weight_and_height = weight_and_height,
    .sex_term = 48.9,
    .ethnic = {.rows = groups, .compared = 9},
    .parity = {0.0, 101.9, 133.7, 140.2, 162.7},
    .constant = 3455.6,
    .spread = 0.1093,
};

}  // namespace pelmora::calc
