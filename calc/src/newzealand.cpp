// The New Zealand base: its term-weight recipe, its spread coefficient and its ethnic groups.

#include "model.hpp"

namespace pelmora::calc {
namespace {

using detail::cubic_weight_term;
using detail::linear_height_term;
using detail::sub;

constexpr EthnicGroup groups[] = {
    {1, "European", 0.0}, {2, "Indian", -149.5}, {3, "Maori", -66.8}, {4, "Chinese", 100.9},
    {5, "Samoan", 84.2},  {6, "Tongan", 124.1},  {7, "Other", 13.3},  // never compared: any code outside 1..6 takes this term
};

// The weight and height terms: a cubic weight term about 70 kg and a linear height term about 165 cm.
void weight_and_height(Evaluation& ev, double weight, Arg& ht) {
    ev.weight_term = cubic_weight_term(sub(weight, 70.0, "weight term"), 0.000653, 0.1028, 7.134);
    ev.height_term = linear_height_term(ht, 9.553, 165.0);
}

}  // namespace

const detail::BaseModel detail::new_zealand{
    .base = Base::new_zealand,
    .weight_and_height = weight_and_height,
    .sex_term = 57.7,
    .ethnic = {.rows = groups, .compared = 6},
    .parity = {0.0, 101.6, 101.8, 123.3, 174.5},
    .constant = 3530.1,
    .spread = 0.119,
};

}  // namespace pelmora::calc
