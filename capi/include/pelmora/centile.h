/* pelmora/centile.h: customised birth-weight centiles from C (C99), one row or a batch of rows.
 *
 * The results are the calculators' own, bit for bit: those of the control's custcentukn,
 * custcentswe, custcentnz and custcentau called with the same numbers. Every input is a double,
 * the codes too (sex 1 = male, any other value female; eth numbered per base; par 0 to 3, any
 * other value taking the "4 or more" term; a code is compared by value, so 2.5 is no code). A NaN
 * input is a missing input, as text of length zero is for the control: the row gets no centile
 * (NaN) and no error. A failing row carries the automation runtime's error number (6 Overflow,
 * 11 Division by zero, ...), whose text pelmora_error_text gives.
 *
 * Stable: functions are only ever added, and the structures only grow at their end. */
#ifndef PELMORA_CENTILE_H
#define PELMORA_CENTILE_H

#include <stddef.h>

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

/** The version of this interface; pelmora_api_version() returns the library's. */
#define PELMORA_CENTILE_API_VERSION 1

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

/** The error number of a call whose arguments are unusable (a null pointer, an unknown base). */
#define PELMORA_INVALID_ARGUMENT 5

/** One row's seven inputs (see the top of this file for codes and missing inputs). */
typedef struct pelmora_inputs {
    double bwt;  /**< birth weight, grams */
    double gest; /**< gestational age, days */
    double wt;   /**< mother's booking weight, kg */
    double ht;   /**< mother's height, cm */
    double sex;
    double eth;
    double par;
} pelmora_inputs;

/** One evaluation: the result and every intermediate value. Values a row does not reach (a
 *  missing input, a failure) are NaN. */
typedef struct pelmora_evaluation {
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

/** Input columns of a batch, each of n values. base may be NULL: every row then takes
 *  `one_base`. */
typedef struct pelmora_columns {
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

/** Output columns of a batch, each NULL (not wanted) or room for n values. */
typedef struct pelmora_outputs {
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

/** The library's interface version (PELMORA_CENTILE_API_VERSION of the library's build). */
PELMORA_CENTILE_API int pelmora_api_version(void);

/** One row: fills *out and returns out->error (0 on success or a missing input). Returns
 *  PELMORA_INVALID_ARGUMENT for an unknown base or a null pointer (out is filled when given). */
PELMORA_CENTILE_API int pelmora_evaluate(int base, const pelmora_inputs* in, pelmora_evaluation* out);

/** n rows over columns: per-row outputs and per-row error numbers; a failing row does not stop
 *  the batch. threads 0 uses every core (small batches stay on the calling thread). Returns 0,
 *  or PELMORA_INVALID_ARGUMENT (nothing computed) when in or out is NULL, an input column is
 *  NULL while n > 0, or size_class is wanted with a NaN threshold or sga_below > lga_above; a row with an unknown base fails with
 *  PELMORA_INVALID_ARGUMENT. Returns 7 (Out of memory) when the threads could not be had. */
PELMORA_CENTILE_API int pelmora_evaluate_batch(size_t n, const pelmora_columns* in, pelmora_outputs* out,
                                               unsigned threads);

/** SGA below sga_below, LGA above lga_above, AGA otherwise; NONE for NaN. */
PELMORA_CENTILE_API pelmora_class pelmora_classify(double centile, double sga_below, double lga_above);

/** The runtime's text of an error number ("Overflow" for 6), or "" for a number it lacks. The
 *  text is static. */
PELMORA_CENTILE_API const char* pelmora_error_text(int number);

/** The base's name ("United Kingdom", ...) or NULL; *_code functions return -1 when the text
 *  names nothing. Texts are exact (case-sensitive), as the control's lists show them. */
PELMORA_CENTILE_API const char* pelmora_base_name(int base);
PELMORA_CENTILE_API int pelmora_base_code(const char* name_or_tag);
/** The ethnic group code of `text` in the base's list, or -1. */
PELMORA_CENTILE_API int pelmora_ethnic_code(int base, const char* text);

#ifdef __cplusplus
}
#endif

#endif /* PELMORA_CENTILE_H */
