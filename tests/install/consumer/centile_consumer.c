/* A C program of someone else's on the installed C interface: one centile, one small batch. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <pelmora/centile.h>

int main(void) {
    const pelmora_inputs a = {sizeof a, 3500, 280, 64, 163, 1, 1, 0};
    const double bwt[2] = {3500, 2000}, gest[2] = {280, 280}, wt[2] = {64, 64}, ht[2] = {163, 163};
    const double sex[2] = {1, 1}, eth[2] = {1, 1}, par[2] = {0, 0};
    pelmora_columns in = PELMORA_COLUMNS_INIT;
    double centile[2];
    signed char size_class[2];
    pelmora_outputs out = PELMORA_OUTPUTS_INIT;
    pelmora_evaluation ev = PELMORA_EVALUATION_INIT;
    in.bwt = bwt;
    in.gest = gest;
    in.wt = wt;
    in.ht = ht;
    in.sex = sex;
    in.eth = eth;
    in.par = par;
    out.centile = centile;
    out.size_class = size_class;
    if (pelmora_version() / 10000 != PELMORA_VERSION_MAJOR || strcmp(pelmora_version_string(), PELMORA_VERSION_STRING))
        return 1;
    if (pelmora_evaluate(PELMORA_UNITED_KINGDOM, &a, &ev) != PELMORA_OK || fabs(ev.centile - 48.4398) > 5e-5) return 1;
    if (pelmora_evaluate_batch(2, &in, &out, 0) != PELMORA_OK || centile[0] != ev.centile) return 1;
    if (size_class[0] != PELMORA_CLASS_AGA || size_class[1] != PELMORA_CLASS_SGA) return 1;
    printf("centile %.4f\n", ev.centile);
    return 0;
}
