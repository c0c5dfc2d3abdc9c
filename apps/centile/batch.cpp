#include "batch.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "header.hpp"
#include "pipeline.hpp"
#include "reader.hpp"
#include "rows.hpp"

namespace pelmora::centile {
namespace {

int unusable(std::FILE* err, const std::string& why) {
    std::fprintf(err, "pelmora-centile: %s\n", why.c_str());
    return batch_unusable;
}

// Writes all of `text`; on failure keeps the reason for the message.
bool write_all(std::FILE* out, const std::string& text, int& write_errno) {
    if (text.empty()) return true;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), out) == text.size()) return true;
    write_errno = errno;
    return false;
}

std::string write_failure(int write_errno) {
    std::string why = "writing the CSV output failed";
    if (write_errno != 0) why += std::string(": ") + std::strerror(write_errno);
    return why;
}

std::string too_long() {
    return "a CSV record is longer than " + std::to_string(longest_record >> 20) + " MiB; the input is not usable";
}

}  // namespace

int run_batch(std::FILE* in, std::FILE* out, std::FILE* err, const BatchOptions& options) {
    Reader reader(in);
    std::string first;
    std::vector<std::size_t> ends;
    if (!reader.next_chunk(first, ends, 1)) {
        if (reader.too_long()) return unusable(err, too_long());
        return unusable(err, reader.read_error() ? "reading the CSV input failed" : "no header line in the CSV input");
    }
    Header header;
    std::string_view record = first;
    if (!record.empty() && record.back() == '\n') record.remove_suffix(1);
    if (const std::string why = read_header(record, header, options.classify); !why.empty()) {
        return unusable(err, why);
    }

    int write_errno = 0;
    if (!write_all(out, output_header(header, options.classify), write_errno)) {
        return unusable(err, write_failure(write_errno));
    }

    const unsigned workers = options.workers ? options.workers : std::max(1u, std::thread::hardware_concurrency());
    const RowOptions row_options{.classify = options.classify, .thresholds = options.thresholds};
    std::vector<std::unique_ptr<RowComputer>> computers;
    for (unsigned w = 0; w < workers; ++w) computers.push_back(std::make_unique<RowComputer>(header, row_options));

    bool any_failed = false;
    const bool written = run_ordered(
        workers,
        {.fill = [&](Job& job) { return reader.next_chunk(job.in, job.ends, options.chunk_rows, options.chunk_bytes); },
         .compute =
             [&](Job& job, unsigned w) {
                 job.out.clear();
                 job.failed = !computers[w]->compute(job.in, job.ends, job.out);
             },
         .drain =
             [&](Job& job) {
                 any_failed = any_failed || job.failed;
                 return write_all(out, job.out, write_errno);
             }});
    if (written && std::fflush(out) != 0) write_errno = errno;

    // A batch whose input or output broke off must not look complete.
    if (!written || std::ferror(out)) return unusable(err, write_failure(write_errno));
    if (reader.read_error()) return unusable(err, "reading the CSV input failed");
    if (reader.too_long()) return unusable(err, too_long());
    return any_failed ? batch_row_failed : batch_ok;
}

}  // namespace pelmora::centile
