#pragma once
// The CSV batch of pelmora-centile: rows in, centiles out, streamed in constant memory.

#include <cstddef>
#include <cstdio>
#include <string>

#include "pelmora/calc/engine.hpp"

namespace pelmora::centile {

struct BatchOptions {
    unsigned workers = 0;                              ///< worker threads; 0 = one per core
    std::size_t chunk_rows = 1024;                     ///< rows handed to a worker at a time
    std::size_t chunk_bytes = std::size_t{256} << 10;  ///< and no more of their text (unless one row is longer)
    bool classify = false;                             ///< add the class column
    calc::Thresholds thresholds;                       ///< the classes' centiles
};

/// Exit statuses: every row computed (0), some row failed (1), the input is unusable or the
/// output could not be written (2).
enum BatchStatus : int { batch_ok = 0, batch_row_failed = 1, batch_unusable = 2 };

/// Reads CSV (RFC 4180) from `in` and writes it to `out` with the result columns added, rows
/// in input order; explains unusable input and failed output on `err`. Returns the exit status.
int run_batch(std::FILE* in, std::FILE* out, std::FILE* err, const BatchOptions& options = {});

/// Shortest text that reads back as the same double.
std::string format_number(double v);

}  // namespace pelmora::centile
