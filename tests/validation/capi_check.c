/* The C interface on the validation table: every row through pelmora_evaluate and all rows through
 * pelmora_evaluate_batch (on one thread and on every core) give the table's centile, z, optimal
 * weight and error, bit for bit. C99 and nothing but the public header. */
#include <math.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pelmora/centile.h"

#define MAX_ROWS 10000

typedef struct {
    int base;
    pelmora_inputs in;
    double centile, z, optimal_weight;
    int error;
    char message[96];
} row;

static row rows[MAX_ROWS];

/* A field of the table as a number: empty is NaN. */
static double number(const char* field) { return *field ? strtod(field, NULL) : NAN; }

static int same(double a, double b) { return (isnan(a) && isnan(b)) || memcmp(&a, &b, sizeof a) == 0; }

static size_t read_table(const char* path) {
    FILE* f = fopen(path, "r");
    char line[512];
    size_t n = 0;
    if (!f) {
        fprintf(stderr, "cannot open %s\n", path);
        exit(1);
    }
    if (!fgets(line, sizeof line, f)) exit(1); /* the header */
    while (n < MAX_ROWS && fgets(line, sizeof line, f)) {
        char* fields[15];
        char* p = line;
        int k;
        line[strcspn(line, "\r\n")] = 0;
        for (k = 0; k < 15; ++k) {
            fields[k] = p;
            p += strcspn(p, ",");
            if (*p) *p++ = 0;
        }
        rows[n].base = pelmora_base_code(fields[2]);
        rows[n].in.size = sizeof rows[n].in;
        rows[n].in.bwt = number(fields[3]);
        rows[n].in.gest = number(fields[4]);
        rows[n].in.wt = number(fields[5]);
        rows[n].in.ht = number(fields[6]);
        rows[n].in.sex = number(fields[7]);
        rows[n].in.eth = number(fields[8]);
        rows[n].in.par = number(fields[9]);
        rows[n].centile = number(fields[10]);
        rows[n].z = number(fields[11]);
        rows[n].optimal_weight = number(fields[12]);
        rows[n].error = *fields[13] ? atoi(fields[13]) : 0;
        snprintf(rows[n].message, sizeof rows[n].message, "%s", fields[14]);
        ++n;
    }
    fclose(f);
    return n;
}

/* A pelmora_evaluation of the caller's size at the start of a room of guard bytes: the library
 * writes none past that size, and writes nothing at all when it refuses the size. The inputs lie in
 * a block of exactly their size, so that the sanitizer build catches a read past their end. */
static int check_sizes(const pelmora_inputs* first, int base, double centile) {
    enum { guard = 0xA5 };
    static const struct {
        size_t size;
        int status;
    } cases[] = {
        {sizeof(pelmora_evaluation) - 1, PELMORA_INVALID_ARGUMENT}, /* below the layout: refused */
        {offsetof(pelmora_evaluation, centile), PELMORA_INVALID_ARGUMENT},
        {sizeof(pelmora_evaluation), PELMORA_OK},
        {sizeof(pelmora_evaluation) + 40, PELMORA_OK}, /* a newer program's, grown at its end */
    };
    union {
        pelmora_evaluation ev;
        unsigned char bytes[sizeof(pelmora_evaluation) + 64];
    } room;
    pelmora_inputs* in = malloc(sizeof *in);
    size_t c, k;
    int bad = 0;
    if (!in) return 1;
    memcpy(in, first, sizeof *in);
    for (c = 0; c < sizeof cases / sizeof cases[0]; ++c) {
        const size_t size = cases[c].size;
        const size_t written = cases[c].status == PELMORA_OK ? size : sizeof size;
        int status;
        memset(room.bytes, guard, sizeof room.bytes);
        memcpy(room.bytes, &size, sizeof size);
        status = pelmora_evaluate(base, in, &room.ev);
        for (k = written; k < sizeof room.bytes; ++k) {
            if (room.bytes[k] != guard) break;
        }
        if (status != cases[c].status || k != sizeof room.bytes || room.ev.size != size ||
            (status == PELMORA_OK && room.ev.centile != centile)) {
            fprintf(stderr, "FAIL: an evaluation of size %u: status %d, byte %u written\n", (unsigned)size, status,
                    (unsigned)k);
            ++bad;
        }
    }
    in->size = sizeof *in - 1;
    {
        pelmora_evaluation ev = PELMORA_EVALUATION_INIT;
        if (pelmora_evaluate(base, in, &ev) != PELMORA_INVALID_ARGUMENT || ev.error != PELMORA_INVALID_ARGUMENT) {
            fprintf(stderr, "FAIL: inputs of a size below their layout were taken\n");
            ++bad;
        }
    }
    free(in);
    return bad;
}

int main(int argc, char** argv) {
    static int bases[MAX_ROWS];
    static double in[7][MAX_ROWS], centile[MAX_ROWS], z[MAX_ROWS], optimal[MAX_ROWS];
    static int error[MAX_ROWS];
    static signed char size_class[MAX_ROWS];
    const unsigned threads[] = {1, 0};
    size_t n, i, t;
    int bad = 0;
    if (argc != 2) return 2;
    n = read_table(argv[1]);
    if (n < 4000 || pelmora_version() != PELMORA_VERSION_NUMBER) {
        fprintf(stderr, "FAIL: %u rows, library version %d\n", (unsigned)n, pelmora_version());
        return 1;
    }

    for (i = 0; i < n; ++i) {
        pelmora_evaluation ev = PELMORA_EVALUATION_INIT;
        const int status = pelmora_evaluate(rows[i].base, &rows[i].in, &ev);
        if (status != rows[i].error || ev.error != rows[i].error || strcmp(ev.message, rows[i].message) != 0 ||
            !same(ev.centile, rows[i].centile) || !same(ev.z, rows[i].z) ||
            !same(ev.optimal_weight, rows[i].optimal_weight) || ev.missing != (isnan(ev.centile) && !ev.error)) {
            fprintf(stderr, "FAIL: pelmora_evaluate, row %u: %d \"%s\" %.17g\n", (unsigned)i + 1, status, ev.message,
                    ev.centile);
            ++bad;
        }
        if (rows[i].error && strncmp(rows[i].message, pelmora_error_text(rows[i].error),
                                     strlen(pelmora_error_text(rows[i].error))) != 0) {
            fprintf(stderr, "FAIL: row %u: the text of error %d\n", (unsigned)i + 1, rows[i].error);
            ++bad;
        }
        bases[i] = rows[i].base;
        in[0][i] = rows[i].in.bwt;
        in[1][i] = rows[i].in.gest;
        in[2][i] = rows[i].in.wt;
        in[3][i] = rows[i].in.ht;
        in[4][i] = rows[i].in.sex;
        in[5][i] = rows[i].in.eth;
        in[6][i] = rows[i].in.par;
    }

    for (t = 0; t < sizeof threads / sizeof threads[0]; ++t) {
        const pelmora_columns columns = {sizeof columns, bases, 0, in[0], in[1], in[2], in[3], in[4], in[5], in[6]};
        pelmora_outputs out = {sizeof out,        centile,          z, optimal, error, size_class,
                               PELMORA_SGA_BELOW, PELMORA_LGA_ABOVE};
        if (pelmora_evaluate_batch(n, &columns, &out, threads[t]) != 0) {
            fprintf(stderr, "FAIL: pelmora_evaluate_batch refused the table\n");
            return 1;
        }
        for (i = 0; i < n; ++i) {
            if (error[i] != rows[i].error || !same(centile[i], rows[i].centile) || !same(z[i], rows[i].z) ||
                !same(optimal[i], rows[i].optimal_weight) ||
                size_class[i] != (signed char)pelmora_classify(rows[i].centile, 10, 90)) {
                fprintf(stderr, "FAIL: pelmora_evaluate_batch (threads %u), row %u\n", threads[t], (unsigned)i + 1);
                ++bad;
            }
        }
    }
    /* Calls the interface refuses, and the tables behind the texts. */
    {
        pelmora_evaluation ev = PELMORA_EVALUATION_INIT;
        const size_t cs = sizeof(pelmora_columns), os = sizeof(pelmora_outputs);
        const pelmora_columns no_bwt = {cs, NULL, PELMORA_SWEDEN, NULL, in[1], in[2], in[3], in[4], in[5], in[6]};
        const pelmora_columns bad_base = {cs, NULL, 7, in[0], in[1], in[2], in[3], in[4], in[5], in[6]};
        const pelmora_columns good = {cs, bases, 0, in[0], in[1], in[2], in[3], in[4], in[5], in[6]};
        const pelmora_columns short_columns = {cs - 1, bases, 0, in[0], in[1], in[2], in[3], in[4], in[5], in[6]};
        pelmora_outputs out = {os, centile, NULL, NULL, error, size_class, 10, 90};
        pelmora_outputs crossed = {os, centile, NULL, NULL, error, size_class, 90, 10};
        pelmora_outputs short_outputs = {os - 1, centile, NULL, NULL, error, size_class, 10, 90};
        /* Output columns over an input column, whole or in part, or over each other. */
        pelmora_outputs onto_bwt = {os, in[0], NULL, NULL, NULL, NULL, 10, 90};
        pelmora_outputs onto_par = {os, centile, NULL, NULL, NULL, NULL, 10, 90};
        pelmora_outputs onto_bases = {os, NULL, NULL, NULL, bases + 1, NULL, 10, 90};
        pelmora_outputs onto_centile = {os, centile, NULL, NULL, NULL, (signed char*)(centile + n - 1), 10, 90};
        const pelmora_columns par_in_centile = {cs, bases, 0, in[0], in[1], in[2], in[3], in[4], in[5], centile + 2};
        const int checks[] = {
            pelmora_evaluate(4, &rows[0].in, &ev) == PELMORA_INVALID_ARGUMENT && ev.error == PELMORA_INVALID_ARGUMENT &&
                isnan(ev.centile),
            pelmora_evaluate(0, NULL, &ev) == PELMORA_INVALID_ARGUMENT,
            pelmora_evaluate(0, &rows[0].in, NULL) == PELMORA_INVALID_ARGUMENT,
            pelmora_evaluate_batch(n, &no_bwt, &out, 0) == PELMORA_INVALID_ARGUMENT,
            pelmora_evaluate_batch(n, &bad_base, &out, 0) == PELMORA_INVALID_ARGUMENT,
            pelmora_evaluate_batch(1, NULL, &out, 0) == PELMORA_INVALID_ARGUMENT,
            pelmora_evaluate_batch(0, &no_bwt, &out, 0) == 0,                          /* nothing to read */
            pelmora_evaluate_batch(n, &good, &crossed, 0) == PELMORA_INVALID_ARGUMENT, /* sga_below > lga_above */
            pelmora_evaluate_batch(n, &short_columns, &out, 0) == PELMORA_INVALID_ARGUMENT,
            pelmora_evaluate_batch(n, &good, &short_outputs, 0) == PELMORA_INVALID_ARGUMENT,
            pelmora_evaluate_batch(n, &good, &onto_bwt, 0) == PELMORA_INVALID_ARGUMENT,
            pelmora_evaluate_batch(3, &par_in_centile, &onto_par, 0) == PELMORA_INVALID_ARGUMENT,
            pelmora_evaluate_batch(n, &good, &onto_bases, 0) == PELMORA_INVALID_ARGUMENT,
            pelmora_evaluate_batch(n, &good, &onto_centile, 0) == PELMORA_INVALID_ARGUMENT,
            pelmora_evaluate_batch(2, &par_in_centile, &onto_par, 0) == 0, /* side by side, not over */
            strcmp(pelmora_error_text(PELMORA_OVERFLOW), "Overflow") == 0 &&
                strcmp(pelmora_error_text(PELMORA_DIVISION_BY_ZERO), "Division by zero") == 0 &&
                strcmp(pelmora_error_text(12345), "") == 0,
            pelmora_base_code("New Zealand") == PELMORA_NEW_ZEALAND && pelmora_base_code("nz") == 2 &&
                pelmora_base_code("Mars") == -1 && strcmp(pelmora_base_name(PELMORA_SWEDEN), "Sweden") == 0 &&
                pelmora_base_name(4) == NULL,
            pelmora_ethnic_code(PELMORA_SWEDEN, "Phillipino") == 7 &&
                pelmora_ethnic_code(PELMORA_UNITED_KINGDOM, "Maori") == -1,
            pelmora_classify(9.99, 10, 90) == PELMORA_CLASS_SGA && pelmora_classify(90, 10, 90) == PELMORA_CLASS_AGA &&
                pelmora_classify(NAN, 10, 90) == PELMORA_CLASS_NONE,
            /* Thresholds the batch refuses class nothing. */
            pelmora_classify(50, 90, 10) == PELMORA_CLASS_NONE && pelmora_classify(50, NAN, 90) == PELMORA_CLASS_NONE &&
                pelmora_classify(5, 10, NAN) == PELMORA_CLASS_NONE,
        };
        for (i = 0; i < sizeof checks / sizeof checks[0]; ++i) {
            if (!checks[i]) {
                fprintf(stderr, "FAIL: interface check %u\n", (unsigned)i + 1);
                ++bad;
            }
        }
    }
    bad += check_sizes(&rows[0].in, rows[0].base, rows[0].centile);
    /* The weight at each row's own centile gives that centile back within 1e-9, the batch gives
     * the same weights, and a curve is those weights day by day. */
    {
        static double p[MAX_ROWS], w[MAX_ROWS];
        const pelmora_columns columns = {sizeof columns, bases, 0, NULL, in[1], in[2], in[3], in[4], in[5], in[6]};
        const double usual[3] = {10, 50, 90};
        double curve[3 * 127];
        for (i = 0; i < n; ++i) p[i] = rows[i].centile > 0 && rows[i].centile < 100 ? rows[i].centile : 50;
        if (pelmora_weight_at_centile_batch(n, &columns, p, w, error) != 0) {
            fprintf(stderr, "FAIL: pelmora_weight_at_centile_batch refused the table\n");
            return 1;
        }
        for (i = 0; i < n; ++i) {
            pelmora_inputs at = rows[i].in;
            pelmora_evaluation ev = PELMORA_EVALUATION_INIT;
            double one = 0;
            const int status = pelmora_weight_at_centile(rows[i].base, &rows[i].in, p[i], &one);
            at.bwt = one;
            pelmora_evaluate(rows[i].base, &at, &ev);
            if (status != error[i] || !same(one, w[i]) ||
                (status == 0 && !isnan(one) && !(fabs(ev.centile - p[i]) <= 1e-9))) {
                fprintf(stderr, "FAIL: weight at centile, row %u: %d %.17g gives %.17g\n", (unsigned)i + 1, status, one,
                        ev.centile);
                ++bad;
            }
        }
        for (i = 0; i < n; i += 97) {
            const int status = pelmora_curves(rows[i].base, &rows[i].in, usual, 3, 168, 294, curve, 3 * 127);
            size_t c, d;
            for (c = 0; c < 3; ++c) {
                for (d = 0; d < 127; ++d) {
                    pelmora_inputs at = rows[i].in;
                    double one = 0;
                    at.gest = 168.0 + (double)d;
                    if (pelmora_weight_at_centile(rows[i].base, &at, usual[c], &one) != status ||
                        !same(one, curve[c * 127 + d])) {
                        fprintf(stderr, "FAIL: pelmora_curves, row %u\n", (unsigned)i + 1);
                        ++bad;
                        c = 3;
                        break;
                    }
                }
            }
        }
        {
            const int checks[] = {
                pelmora_weight_at_centile(0, &rows[0].in, 100, w) == PELMORA_INVALID_ARGUMENT && isnan(w[0]),
                pelmora_weight_at_centile(0, &rows[0].in, NAN, w) == PELMORA_INVALID_ARGUMENT,
                pelmora_curves(0, &rows[0].in, usual, 3, 294, 168, curve, 3 * 127) == PELMORA_INVALID_ARGUMENT,
                pelmora_curves(0, &rows[0].in, usual, 3, 168, 294, curve, 3 * 127 - 1) == PELMORA_INVALID_ARGUMENT,
                pelmora_curves(0, &rows[0].in, usual, 0, 168, 294, curve, 3 * 127) == PELMORA_INVALID_ARGUMENT,
                pelmora_curves(0, &rows[0].in, usual, 3, 0, PELMORA_CURVE_LAST_DAY + 1, curve, 3 * 127) ==
                    PELMORA_INVALID_ARGUMENT,
            };
            for (i = 0; i < sizeof checks / sizeof checks[0]; ++i) {
                if (!checks[i]) {
                    fprintf(stderr, "FAIL: weight/curve check %u\n", (unsigned)i + 1);
                    ++bad;
                }
            }
        }
    }
    if (bad) {
        fprintf(stderr, "%d check(s) failed\n", bad);
        return 1;
    }
    printf("%u rows of the validation table: the C interface agrees\n", (unsigned)n);
    return 0;
}
