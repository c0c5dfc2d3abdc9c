// The Swedish base: its term-weight recipe, its spread coefficient and its ethnic groups.
// Unlike the other bases, its height term is a cubic about 167 cm, and it leaves the centred
// height in the caller's ht.

#include "model.hpp"

namespace pelmora::calc {
namespace {

using detail::add;
using detail::cubic_weight_term;
using detail::mul;
using detail::sub;

constexpr EthnicGroup groups[] = {
    {1, "Scandinavian", 0.0},     {2, "Abyssinian", -129.37},
    {3, "Algerian", -44.17},      {4, "Bangladeshi", -218.54},
    {5, "Chilean", 39.34},        {6, "Finnish", 23.77},
    {7, "Phillipino", 149.59},    {8, "Gambian", -200.39},
    {9, "Greek", -70.78},         {10, "Indian", -150.53},
    {11, "Iraqi", -109.59},       {12, "Iranian", -43.55},
    {13, "Yugoslavian", -38.24},  {14, "S Korean", 90.51},
    {15, "Lebanese", -140.51},    {16, "Moroccon", -44.71},
    {17, "Peruvian", 131.4},      {18, "Pakistani", -212.39},
    {19, "Somali", -240.91},      {20, "Syrian", -103.71},
    {21, "Thai", 100.71},         {22, "Czechoslovakian", -110.73},
    {23, "Turkish", -93.19},      {24, "Hungarian", -112.22},
    {25, "S Vietnamese", -38.43}, {26, "N Vietnamese", -38.43},
    {27, "Other", 0.0},  // also the term of any code outside the table
};

// The weight and height terms: a cubic weight term about 63 kg and a cubic height term about 167 cm.
void weight_and_height(Evaluation& ev, double weight, Arg& ht) {
    constexpr const char* wt = "weight term";
    const double x = sub(weight, 63.0, wt);

    // The centred height goes into the caller's ht as soon as x is formed; from here on the
    // height is read back from the argument as stored.
    ht.store(sub(ht.read_number("ht"), 167.0, "ht"), "ht");

    ev.weight_term = cubic_weight_term(x, 0.000059, 0.0548, 8.872);

    constexpr const char* hgt = "height term";
    const double h1 = ht.read_number("ht");
    const double h2 = ht.read_number("ht");
    const double h3 = ht.read_number("ht");
    ev.height_term = mul(add(8.316, mul(-0.0004, mul(h1, h2, hgt), hgt), hgt), h3, hgt);
}

}  // namespace

const detail::BaseModel detail::sweden{
    .base = Base::sweden,
    .weight_and_height = weight_and_height,
    .sex_term = 64.435,
    .ethnic = {.rows = groups, .compared = 26},
    .parity = {0.0, 147.072, 197.347, 215.883, 232.594},
    .constant = 3544.534,
    .spread = 0.1157,
};

}  // namespace pelmora::calc
