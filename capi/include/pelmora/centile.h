/* pelmora/centile.h: customised birth-weight centiles from C (C99), one row or a batch of rows.
 *
 * The results are the calculators' own, bit for bit: those of the control's custcentukn,
 * custcentswe, custcentnz and custcentau called with the same numbers. Every input is a double,
 * the codes too (sex 1 = male, any other value female; eth numbered per base; par 0 to 3, any
 * other value taking the "4 or more" term; a code is compared by value, so 2.5 is no code). A NaN
 * input is a missing input, as text of length zero is for the control: the row gets no centile
 * (NaN) and no error. A failing row carries the automation runtime's error number (a
 * pelmora_error), whose text pelmora_error_text gives.
 *
 * Stable within a major version: functions are only ever added, enumerators keep their values,
 * and the structures only grow at their end. Every structure the caller passes starts with
 * `size`, which the caller sets to sizeof the structure as its header declares it (the
 * PELMORA_..._INIT initialisers do so): the library reads and writes only that many bytes, gives
 * members past them their documented defaults, and refuses a size below the structure's first
 * layout with PELMORA_INVALID_ARGUMENT (writing nothing). So a program built against an older
 * header keeps working with a newer library, and the reverse. */
#ifndef PELMORA_CENTILE_H
#define PELMORA_CENTILE_H

#include <stddef.h>

#include "pelmora/centile_version.h"

#if defined(_WIN32)
#if defined(PELMORA_CENTILE_BUILDING)
#define PELMORA_CENTILE_API __declspec(dllexport)
#else
#define PELMORA_CENTILE_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define PELMORA_CENTILE_API __attribute__((visibility("default")))
#else
#define PELMORA_CENTILE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** The reference populations. */
typedef enum pelmora_base {
    PELMORA_UNITED_KINGDOM = 0,
    PELMORA_SWEDEN = 1,
    PELMORA_NEW_ZEALAND = 2,
    PELMORA_AUSTRALIA = 3
} pelmora_base;

/** Birth-weight classes by centile. */
typedef enum pelmora_class {
    PELMORA_CLASS_NONE = 0, /**< no centile: a missing input or a failure */
    PELMORA_CLASS_SGA = 1,  /**< small for gestational age: centile below sga_below */
    PELMORA_CLASS_AGA = 2,  /**< appropriate for gestational age */
    PELMORA_CLASS_LGA = 3   /**< large for gestational age: centile above lga_above */
} pelmora_class;

/** The run-time error numbers, as the automation runtime numbers them; the values never change.
 *  The C interface itself returns 0, PELMORA_INVALID_ARGUMENT (unusable arguments: a null pointer,
 *  an unknown base, a structure's size below its first layout), PELMORA_OVERFLOW,
 *  PELMORA_DIVISION_BY_ZERO (a failing row) and PELMORA_OUT_OF_MEMORY; the others are the
 *  control's, named so that every number pelmora_error_text knows has a name. */
typedef enum pelmora_error {
    PELMORA_OK = 0,
    PELMORA_INVALID_ARGUMENT = 5, /**< "Invalid procedure call or argument" */
    PELMORA_OVERFLOW = 6,         /**< "Overflow": overflow, 0/0 or an invalid operation */
    PELMORA_OUT_OF_MEMORY = 7,
    PELMORA_DIVISION_BY_ZERO = 11, /**< a finite non-zero dividend over zero */
    PELMORA_TYPE_MISMATCH = 13,
    PELMORA_INTERNAL_ERROR = 51,
    PELMORA_OBJECT_NOT_SET = 91,
    PELMORA_INVALID_USE_OF_NULL = 94,
    PELMORA_INVALID_PROPERTY_VALUE = 380,
    PELMORA_AUTOMATION_ERROR = 440,
    PELMORA_CANNOT_ACTIVATE = 31027
} pelmora_error;

/** One row's seven inputs (see the top of this file for codes and missing inputs). */
typedef struct pelmora_inputs {
    size_t size; /**< sizeof(pelmora_inputs) */
    double bwt;  /**< birth weight, grams */
    double gest; /**< gestational age, days */
    double wt;   /**< mother's booking weight, kg */
    double ht;   /**< mother's height, cm */
    double sex;
    double eth;
    double par;
} pelmora_inputs;
/** A pelmora_inputs with its size set and every input 0: `pelmora_inputs in = PELMORA_INPUTS_INIT;`. */
#define PELMORA_INPUTS_INIT \
    { sizeof(pelmora_inputs), 0, 0, 0, 0, 0, 0, 0 }

/** One evaluation: the result and every intermediate value. Values a row does not reach (a
 *  missing input, a failure) are NaN. */
typedef struct pelmora_evaluation {
    size_t size;           /**< sizeof(pelmora_evaluation), set by the caller; kept by the library */
    double centile;        /**< in percent, neither rounded nor clamped */
    double z;              /**< (bwt - optimal weight) / spread */
    double optimal_weight; /**< grams */
    double weight;         /**< booking weight after the weight band */
    double weight_term;
    double height_term;
    double sex_term;
    double ethnic_term;
    double parity_term;
    double term_weight;
    double weeks;      /**< gestation in weeks, as the calculator stores it back into gest */
    double proportion; /**< gestation proportion */
    double spread;
    double ht_after;  /**< ht as the call leaves it: the centred height for Sweden */
    int missing;      /**< 1 when an input was missing */
    int error;        /**< 0, or the runtime error number */
    char message[96]; /**< "" or the failure, e.g. "Overflow (weight band)" */
} pelmora_evaluation;
/** A pelmora_evaluation with its size set, for the library to fill. */
#define PELMORA_EVALUATION_INIT                                                           \
    {                                                                                     \
        sizeof(pelmora_evaluation), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, { 0 } \
    }

/** Input columns of a batch, each of n values. base may be NULL: every row then takes
 *  `one_base`. */
typedef struct pelmora_columns {
    size_t size; /**< sizeof(pelmora_columns) */
    const int* base;
    int one_base;
    const double* bwt;
    const double* gest;
    const double* wt;
    const double* ht;
    const double* sex;
    const double* eth;
    const double* par;
} pelmora_columns;
/** No columns, the United Kingdom for every row. */
#define PELMORA_COLUMNS_INIT \
    { sizeof(pelmora_columns), NULL, PELMORA_UNITED_KINGDOM, NULL, NULL, NULL, NULL, NULL, NULL, NULL }

/** Output columns of a batch, each NULL (not wanted) or room for n values. */
typedef struct pelmora_outputs {
    size_t size; /**< sizeof(pelmora_outputs) */
    double* centile;
    double* z;
    double* optimal_weight;
    int* error;              /**< 0, or the row's runtime error number */
    signed char* size_class; /**< a pelmora_class, by the thresholds below */
    double sga_below;        /**< with size_class: centiles below this are SGA (usually PELMORA_SGA_BELOW) */
    double lga_above;        /**< with size_class: centiles above this are LGA (usually PELMORA_LGA_ABOVE) */
} pelmora_outputs;

/** The usual thresholds: the 10th and the 90th centile. */
#define PELMORA_SGA_BELOW 10.0
#define PELMORA_LGA_ABOVE 90.0

/** No outputs wanted yet, the usual thresholds. */
#define PELMORA_OUTPUTS_INIT \
    { sizeof(pelmora_outputs), NULL, NULL, NULL, NULL, NULL, PELMORA_SGA_BELOW, PELMORA_LGA_ABOVE }

/** The library's version as PELMORA_VERSION_NUMBER gives it (major * 10000 + minor * 100 + patch)
 *  and as text ("2.0.0"); a program may compare the major with PELMORA_VERSION_MAJOR. */
PELMORA_CENTILE_API int pelmora_version(void);
PELMORA_CENTILE_API const char* pelmora_version_string(void);

/** One row: fills *out and returns out->error (0 on success or a missing input). Returns
 *  PELMORA_INVALID_ARGUMENT for an unknown base, a null pointer or a size below the first layout
 *  (out is filled when it is given and its size is good). */
PELMORA_CENTILE_API int pelmora_evaluate(int base, const pelmora_inputs* in, pelmora_evaluation* out);

/** n rows over columns: per-row outputs and per-row error numbers; a failing row does not stop
 *  the batch. threads 0 uses every core (small batches stay on the calling thread). Returns 0,
 *  or PELMORA_INVALID_ARGUMENT (nothing computed) when in or out is NULL or of a size below the
 *  first layout, an input column is NULL while n > 0, an output column shares memory with an
 *  input column or another output column, or size_class is wanted with a NaN threshold or
 *  sga_below > lga_above; a row with an unknown base fails with PELMORA_INVALID_ARGUMENT.
 *  Returns PELMORA_OUT_OF_MEMORY when the threads could not be had. */
PELMORA_CENTILE_API int pelmora_evaluate_batch(size_t n, const pelmora_columns* in, pelmora_outputs* out,
                                               unsigned threads);

/** SGA below sga_below, LGA above lga_above, AGA otherwise; NONE for NaN, and NONE for every
 *  centile when the thresholds are unusable (a NaN threshold or sga_below > lga_above), as the
 *  batch refuses them. */
PELMORA_CENTILE_API pelmora_class pelmora_classify(double centile, double sga_below, double lga_above);

/** The runtime's text of an error number ("Overflow" for PELMORA_OVERFLOW), or "" for a number it lacks. The
 *  text is static. */
PELMORA_CENTILE_API const char* pelmora_error_text(int number);

/** The base's name ("United Kingdom", ...) or NULL; *_code functions return -1 when the text
 *  names nothing. Texts are exact (case-sensitive), as the control's lists show them. */
PELMORA_CENTILE_API const char* pelmora_base_name(int base);
PELMORA_CENTILE_API int pelmora_base_code(const char* name_or_tag);
/** The ethnic group code of `text` in the base's list, or -1. */
PELMORA_CENTILE_API int pelmora_ethnic_code(int base, const char* text);

/** The birth weight in grams whose centile is `centile` for in's gest, wt, ht, sex, eth and par
 *  (in->bwt is not read): fed back as bwt, the calculators give `centile` within 1e-9 centile
 *  points, and weights rise with the centile. A centile must lie strictly between 0 and 100.
 *  Returns 0 with *weight set (NaN when an input is missing), or an error number with *weight
 *  NaN: PELMORA_INVALID_ARGUMENT for a centile out of range or NaN, an unknown base or a null
 *  pointer; the calculators' error (6 Overflow, ...) where they would fail for these inputs. */
PELMORA_CENTILE_API int pelmora_weight_at_centile(int base, const pelmora_inputs* in, double centile, double* weight);

/** n rows: row i's inputs from the columns of `in` (in->bwt may be NULL and is not read), its
 *  centile centile[i] and its weight into weight[i]; error may be NULL or room for n error
 *  numbers (0 where none). A row with a centile out of range or an unknown base fails with
 *  PELMORA_INVALID_ARGUMENT; a failing row does not stop the batch. Returns 0, or
 *  PELMORA_INVALID_ARGUMENT (nothing computed) for a NULL pointer while n > 0, or 7 (Out of
 *  memory). */
PELMORA_CENTILE_API int pelmora_weight_at_centile_batch(size_t n, const pelmora_columns* in, const double* centile,
                                                        double* weight, int* error);

/** The earliest and latest days a curve may cover: 0 and 350 (50+0 weeks). */
#define PELMORA_CURVE_FIRST_DAY 0
#define PELMORA_CURVE_LAST_DAY 350

/** One pregnancy's centile curves, from day first_day to last_day of gestation (inclusive;
 *  the usual range is 168 to 294, 24+0 to 42+0 weeks), for in's wt, ht, sex, eth and par (bwt
 *  and gest are not read): weights[c * n_days + d], n_days = last_day - first_day + 1, is the
 *  weight at centiles[c] on day first_day + d, as pelmora_weight_at_centile gives it. `capacity`
 *  is how many doubles `weights` holds; it must be at least n_centiles * n_days. A missing
 *  input gives NaN weights and 0. Returns 0, PELMORA_INVALID_ARGUMENT (nothing written) for an
 *  unknown base, a null pointer, no centile, a centile out of range, a range that is inverted
 *  or outside PELMORA_CURVE_FIRST_DAY..PELMORA_CURVE_LAST_DAY, or too little room; or the
 *  calculators' error number (weights NaN) where they would fail for this mother. */
PELMORA_CENTILE_API int pelmora_curves(int base, const pelmora_inputs* in, const double* centiles, size_t n_centiles,
                                       int first_day, int last_day, double* weights, size_t capacity);

#ifdef __cplusplus
}
#endif

#endif /* PELMORA_CENTILE_H */
