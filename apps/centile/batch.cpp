#include "batch.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "csv.hpp"
#include "pelmora/calc/calculators.hpp"

namespace pelmora::centile {
namespace {

using calc::Arg;

constexpr std::array<std::string_view, 8> required{"base", "bwt", "gest", "wt", "ht", "sex", "eth", "par"};
constexpr std::string_view result_columns = "centile,gest_out,ht_out,z,optimal_weight,error";
constexpr std::size_t read_block = 1 << 20;
constexpr std::size_t longest_record = 64u << 20;  // a longer record means the input is not CSV rows

struct Columns {
    std::size_t count = 0;               // fields in the header
    std::array<std::size_t, 8> index{};  // base, bwt, gest, wt, ht, sex, eth, par
};

void append_number(std::string& out, double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

// The value a by-reference argument holds after the call, as CSV text.
void append_arg(std::string& out, const Arg& a) {
    switch (a.kind()) {
    case calc::Kind::r8: append_number(out, a.as_r8()); break;
    case calc::Kind::text: append_field(out, a.as_text()); break;
    default: break;  // Empty (and Null, which CSV cannot carry) is an empty field
    }
}

/// Reads whole records from a stream, a block at a time.
class Reader {
public:
    explicit Reader(std::FILE* f) : file_(f) {}

    /// Moves up to `max_rows` records into `chunk`, noting where each ends (one past its line
    /// feed, or the end of input). False when nothing is left or a record is too long.
    bool next_chunk(std::string& chunk, std::vector<std::size_t>& ends, std::size_t max_rows) {
        chunk.clear();
        ends.clear();
        while (ends.size() < max_rows) {
            const std::string_view data(buf_.data() + pos_, buf_.size() - pos_);
            const std::size_t e = find_record_end(data);
            if (e == std::string_view::npos) {
                if (data.size() > longest_record) {
                    too_long_ = true;
                    break;
                }
                if (eof_) {
                    if (!data.empty()) {
                        chunk.append(data);
                        ends.push_back(chunk.size());
                        pos_ = buf_.size();
                    }
                    break;
                }
                refill();
                continue;
            }
            chunk.append(data.substr(0, e + 1));
            ends.push_back(chunk.size());
            pos_ += e + 1;
        }
        return !ends.empty();
    }

    [[nodiscard]] bool too_long() const noexcept { return too_long_; }
    [[nodiscard]] bool read_error() const noexcept { return std::ferror(file_) != 0; }

private:
    void refill() {
        buf_.erase(0, pos_);
        pos_ = 0;
        const std::size_t old = buf_.size();
        buf_.resize(old + read_block);
        const std::size_t got = std::fread(buf_.data() + old, 1, read_block, file_);
        buf_.resize(old + got);
        if (got == 0) eof_ = true;
    }

    std::FILE* file_;
    std::string buf_;
    std::size_t pos_ = 0;
    bool eof_ = false;
    bool too_long_ = false;
};

/// Computes rows; one per worker, reusing its buffers.
class RowProcessor {
public:
    explicit RowProcessor(const Columns& columns) : columns_(columns) {}

    /// Appends the output row for one input record; returns false when the row failed.
    bool process(std::string_view record, std::string& out) {
        record = without_cr(record);
        if (record.empty()) return true;  // a blank line is no row
        const bool closed = split_record(record, fields_);
        std::string error;
        if (!closed) {
            error = "unterminated quoted field";
        } else if (fields_.size() != columns_.count) {
            error = "expected " + std::to_string(columns_.count) + " fields, found " + std::to_string(fields_.size());
        }
        fields_.resize(columns_.count);
        for (const std::string& f : fields_) {
            append_field(out, f);
            out.push_back(',');
        }

        std::optional<calc::Evaluation> ev;
        std::array<Arg, 7> args;
        const std::string& base_text = fields_[columns_.index[0]];
        for (std::size_t k = 0; k < 7; ++k) {
            const std::string& f = fields_[columns_.index[k + 1]];
            args[k] = f.empty() ? Arg() : Arg::text(f);
        }
        if (error.empty()) {
            const auto base = calc::base_from_text(base_text);
            if (!base) {
                error = base_text.empty() ? "missing base" : "unknown base: " + base_text;
            } else {
                try {
                    ev = calc::evaluate(*base, args[0], args[1], args[2], args[3], args[4], args[5], args[6]);
                } catch (const calc::Failure& f) {
                    error = f.what();
                }
            }
        }
        const bool computed = ev && !ev->missing;
        if (computed) append_number(out, ev->centile);
        out.push_back(',');
        append_arg(out, args[1]);
        out.push_back(',');
        append_arg(out, args[3]);
        out.push_back(',');
        if (computed) append_number(out, ev->z);
        out.push_back(',');
        if (computed) append_number(out, ev->optimal_weight);
        out.push_back(',');
        append_field(out, error);
        out.append("\r\n");
        return error.empty();
    }

private:
    const Columns& columns_;
    std::vector<std::string> fields_;
};

struct Job {
    std::string in;
    std::vector<std::size_t> ends;
    std::string out;
    bool failed = false;
    bool done = false;
};

}  // namespace

std::string format_number(double v) {
    std::string s;
    append_number(s, v);
    return s;
}

int run_batch(std::FILE* in, std::FILE* out, std::FILE* err, const BatchOptions& options) {
    Reader reader(in);
    std::string header;
    std::vector<std::size_t> ends;
    if (!reader.next_chunk(header, ends, 1)) {
        std::fprintf(err, reader.read_error() ? "pelmora-centile: reading the CSV input failed\n"
                                              : "pelmora-centile: no header line in the CSV input\n");
        return batch_unusable;
    }
    std::string_view header_record = std::string_view(header).substr(0, ends[0]);
    if (!header_record.empty() && header_record.back() == '\n') header_record.remove_suffix(1);
    header_record = without_cr(header_record);
    if (header_record.substr(0, 3) == "\xEF\xBB\xBF") header_record.remove_prefix(3);  // UTF-8 mark
    std::vector<std::string> names;
    if (!split_record(header_record, names)) {
        std::fprintf(err, "pelmora-centile: unterminated quoted field in the CSV header\n");
        return batch_unusable;
    }
    Columns columns;
    columns.count = names.size();
    std::string missing;
    for (std::size_t k = 0; k < required.size(); ++k) {
        const auto n = static_cast<std::size_t>(std::count(names.begin(), names.end(), required[k]));
        if (n == 0) {
            missing += missing.empty() ? "" : ", ";
            missing += required[k];
        } else if (n > 1) {
            std::fprintf(err, "pelmora-centile: the CSV header names the column %.*s more than once\n",
                         static_cast<int>(required[k].size()), required[k].data());
            return batch_unusable;
        }
        columns.index[k] = static_cast<std::size_t>(std::find(names.begin(), names.end(), required[k]) - names.begin());
    }
    if (!missing.empty()) {
        std::fprintf(err, "pelmora-centile: the CSV header lacks the column(s) %s (it needs %s)\n", missing.c_str(),
                     "base,bwt,gest,wt,ht,sex,eth,par");
        return batch_unusable;
    }
    {
        std::string line;
        for (const std::string& n : names) {
            append_field(line, n);
            line.push_back(',');
        }
        line.append(result_columns);
        line.append("\r\n");
        std::fwrite(line.data(), 1, line.size(), out);
    }

    const unsigned workers = options.workers ? options.workers : std::max(1u, std::thread::hardware_concurrency());
    const std::size_t slots = 4 * static_cast<std::size_t>(workers);  // bounds the memory in use
    std::vector<Job> ring(slots);
    std::mutex mutex;
    std::condition_variable work_ready;
    std::condition_variable job_done;
    std::deque<std::size_t> queue;
    bool closing = false;

    std::vector<std::thread> pool;
    pool.reserve(workers);
    for (unsigned w = 0; w < workers; ++w) {
        pool.emplace_back([&] {
            RowProcessor rows(columns);
            for (;;) {
                std::size_t seq = 0;
                {
                    std::unique_lock lock(mutex);
                    work_ready.wait(lock, [&] { return !queue.empty() || closing; });
                    if (queue.empty()) return;
                    seq = queue.front();
                    queue.pop_front();
                }
                Job& job = ring[seq % slots];
                job.out.clear();
                bool failed = false;
                std::size_t begin = 0;
                for (const std::size_t end : job.ends) {
                    std::string_view record(job.in.data() + begin, end - begin);
                    if (!record.empty() && record.back() == '\n') record.remove_suffix(1);
                    failed = !rows.process(record, job.out) || failed;
                    begin = end;
                }
                {
                    std::lock_guard lock(mutex);
                    job.failed = failed;
                    job.done = true;
                }
                job_done.notify_one();
            }
        });
    }

    bool any_failed = false;
    std::size_t next_seq = 0;
    std::size_t next_write = 0;
    // Writes the oldest job once it is done; waits for it when `wait` is set.
    auto write_oldest = [&](bool wait) {
        Job& job = ring[next_write % slots];
        {
            std::unique_lock lock(mutex);
            if (wait) {
                job_done.wait(lock, [&] { return job.done; });
            } else if (!job.done) {
                return false;
            }
        }
        std::fwrite(job.out.data(), 1, job.out.size(), out);
        any_failed = any_failed || job.failed;
        ++next_write;
        return true;
    };

    for (;;) {
        while (next_seq - next_write >= slots) write_oldest(true);
        Job& job = ring[next_seq % slots];
        if (!reader.next_chunk(job.in, job.ends, options.chunk_rows)) break;
        {
            std::lock_guard lock(mutex);
            job.done = false;
            queue.push_back(next_seq++);
        }
        work_ready.notify_one();
        while (next_write < next_seq && write_oldest(false)) {
        }
    }
    while (next_write < next_seq) write_oldest(true);
    {
        std::lock_guard lock(mutex);
        closing = true;
    }
    work_ready.notify_all();
    for (auto& t : pool) t.join();
    std::fflush(out);

    // A batch whose input or output broke off must not look complete.
    if (reader.read_error()) {
        std::fprintf(err, "pelmora-centile: reading the CSV input failed\n");
        return batch_unusable;
    }
    if (std::ferror(out)) {
        std::fprintf(err, "pelmora-centile: writing the CSV output failed\n");
        return batch_unusable;
    }
    if (reader.too_long()) {
        std::fprintf(err, "pelmora-centile: a CSV record is longer than %zu MiB; the input is not usable\n",
                     longest_record >> 20);
        return batch_unusable;
    }
    return any_failed ? batch_row_failed : batch_ok;
}

}  // namespace pelmora::centile
