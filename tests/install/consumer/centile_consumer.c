/* A C program of someone else's on the installed C interface: one centile, one small batch. */
#include <math.h>
#include <stdio.h>

#include <pelmora/centile.h>

int main(void) {
    const pelmora_inputs a = {3500, 280, 64, 163, 1, 1, 0};
    const double bwt[2] = {3500, 2000}, gest[2] = {280, 280}, wt[2] = {64, 64}, ht[2] = {163, 163};
    const double sex[2] = {1, 1}, eth[2] = {1, 1}, par[2] = {0, 0};
    const pelmora_columns in = {NULL, PELMORA_UNITED_KINGDOM, bwt, gest, wt, ht, sex, eth, par};
    double centile[2];
    signed char size_class[2];
    pelmora_outputs out = {centile, NULL, NULL, NULL, size_class, PELMORA_SGA_BELOW, PELMORA_LGA_ABOVE};
    pelmora_evaluation ev;
    if (pelmora_evaluate(PELMORA_UNITED_KINGDOM, &a, &ev) != 0 || fabs(ev.centile - 48.4398) > 5e-5) return 1;
    if (pelmora_evaluate_batch(2, &in, &out, 0) != 0 || centile[0] != ev.centile) return 1;
    if (size_class[0] != PELMORA_CLASS_AGA || size_class[1] != PELMORA_CLASS_SGA) return 1;
    printf("centile %.4f\n", ev.centile);
    return 0;
}
