#include "pelmora/calc/engine.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string_view>
#include <thread>

#include "model.hpp"
#include "slices.hpp"

namespace pelmora::calc {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t max_lanes = static_cast<std::size_t>(detail::Lanes::eight);
// Rows a thread takes from the batch at a time, and the fewest rows worth a second thread.
constexpr std::size_t block_rows = 2048;
constexpr std::size_t rows_per_thread = 8192;

// A row whose integral waits to be summed beside others.
struct WaitingRow {
    double step;
    std::size_t row;
    bool mirrored;
};

// Computes a range of rows on one thread. Rows whose integral has all its slices wait until the
// range is done, are put in order of step and summed side by side in groups as wide as the vector exp
// (four or eight): rows of nearly the same step have nearly the same arguments at each slice, so
// the exp's lanes share one table lookup. Every other row is finished at once, alone.
class RowRunner {
public:
    // `waiting` has room for twice the rows of a range that wait (every row, at most block_rows)
    // when `lanes` is wider than one: the rows, and the room their ordering by step passes through.
    RowRunner(const Rows& rows, Results& results, std::vector<RowFailure>& failures, detail::Lanes lanes,
              std::span<WaitingRow> waiting)
        : rows_(rows),
          out_(results),
          failures_(failures),
          lanes_(lanes),
          waiting_(waiting),
          room_(waiting.size() / 2) {}

    void run(std::size_t begin, std::size_t end) {
        for (std::size_t row = begin; row < end; ++row) start(row);
        flush();
    }

private:
    void put(Quantity q, std::size_t row, double v) const noexcept {
        if (double* column = out_.values[static_cast<std::size_t>(q)]) column[row] = v;
    }

    void clear(std::size_t row) const noexcept {
        for (double* column : out_.values) {
            if (column) column[row] = nan;
        }
        if (out_.error) out_.error[row] = 0;
        if (out_.size_class) out_.size_class[row] = SizeClass::none;
    }

    void fail(std::size_t row, int number, std::string_view message, std::string_view detail = {}) {
        clear(row);
        if (out_.error) out_.error[row] = number;
        // A thread's rows come in order, so its first failures are the lowest rows it has.
        if (out_.failures && failures_.size() < out_.failure_limit) {
            failures_.push_back({row, number, std::string(message)});
            failures_.back().message.append(detail);
        }
    }

    void start(std::size_t row) {
        clear(row);
        const std::uint8_t base = rows_.base[row];
        if (!is_base_code(base)) {
            fail(row, error_number(Error::invalid_argument), error_text(Error::invalid_argument), " (base)");
            return;
        }
        const double in[7] = {rows_.bwt[row], rows_.gest[row], rows_.wt[row], rows_.ht[row],
                              rows_.sex[row], rows_.eth[row],  rows_.par[row]};
        for (const double v : in) {
            if (std::isnan(v)) return;  // a missing input: nothing is computed
        }
        std::array<Arg, 7> a{Arg::r8(in[0]), Arg::r8(in[1]), Arg::r8(in[2]), Arg::r8(in[3]),
                             Arg::r8(in[4]), Arg::r8(in[5]), Arg::r8(in[6])};
        Evaluation ev;
        detail::Integral integral{};
        try {
            detail::run_to_z(detail::model_of(static_cast<Base>(base)), ev, a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
            integral = detail::plan_integral(ev.z);
        } catch (const Failure& f) {
            fail(row, f.number(), f.what());
            return;
        }
        put(Quantity::z, row, ev.z);
        put(Quantity::optimal_weight, row, ev.optimal_weight);
        put(Quantity::weight, row, ev.weight);
        put(Quantity::weight_term, row, ev.weight_term);
        put(Quantity::height_term, row, ev.height_term);
        put(Quantity::sex_term, row, ev.sex_term);
        put(Quantity::ethnic_term, row, ev.ethnic_term);
        put(Quantity::parity_term, row, ev.parity_term);
        put(Quantity::term_weight, row, ev.term_weight);
        put(Quantity::weeks, row, ev.weeks);
        put(Quantity::proportion, row, ev.proportion);
        put(Quantity::spread, row, ev.spread);
        put(Quantity::ht_after, row, a[3].as_r8());

        if (width() > 1 && integral.slices == detail::slice_count) {
            waiting_[waiting_count_++] = {integral.step, row, integral.mirrored};
            if (waiting_count_ == room_) flush();
            return;
        }
        finish(row, integral, detail::slice_sum(lanes_, integral.step, integral.slices));
    }

    std::size_t width() const noexcept { return static_cast<std::size_t>(lanes_); }

    // The rows finish in order of step, not of row: none of them can fail (a sum of slice_count
    // slices is finite), so the failure list keeps its order.
    void flush() {
        order_by_step();
        for (std::size_t first = 0; first < waiting_count_; first += width()) {
            const std::size_t count = std::min(width(), waiting_count_ - first);
            double h[max_lanes];
            double sum[max_lanes];
            // Lanes without a row of their own repeat the group's last step; their sums are unused.
            for (std::size_t j = 0; j < width(); ++j) h[j] = waiting_[first + std::min(j, count - 1)].step;
            detail::slice_sums(lanes_, h, detail::slice_count, sum);
            for (std::size_t j = 0; j < count; ++j) {
                const WaitingRow& w = waiting_[first + j];
                finish(w.row, {.step = w.step, .slices = detail::slice_count, .mirrored = w.mirrored}, sum[j]);
            }
        }
        waiting_count_ = 0;
    }

    // Puts the waiting rows in order of step, closely enough for the rows side by side to share
    // the exp's table entries (which is all the order is for: each lane's sum is its own row's):
    // by the 16 leading bits of each step's distance from the least, in two passes of 8 bits
    // through the second half of the room. Positive doubles order as their bits do.
    void order_by_step() {
        const std::size_t n = waiting_count_;
        if (n < 2) return;
        const auto bits = [](const WaitingRow& w) {
            std::uint64_t b = 0;
            std::memcpy(&b, &w.step, sizeof b);
            return b;
        };
        std::uint64_t least = bits(waiting_[0]), most = least;
        for (std::size_t i = 1; i < n; ++i) {
            least = std::min(least, bits(waiting_[i]));
            most = std::max(most, bits(waiting_[i]));
        }
        const int shift = std::max(0, static_cast<int>(std::bit_width(most - least)) - 16);
        const auto key = [&](const WaitingRow& w) { return static_cast<std::size_t>((bits(w) - least) >> shift); };
        WaitingRow* const rows = waiting_.data();
        WaitingRow* const spare = rows + room_;
        const auto pass = [n, &key](const WaitingRow* from, WaitingRow* to, int at) {
            std::array<std::size_t, 257> start{};
            for (std::size_t i = 0; i < n; ++i) ++start[((key(from[i]) >> at) & 0xff) + 1];
            for (std::size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
            for (std::size_t i = 0; i < n; ++i) to[start[(key(from[i]) >> at) & 0xff]++] = from[i];
        };
        pass(rows, spare, 0);
        pass(spare, rows, 8);
    }

    void finish(std::size_t row, const detail::Integral& integral, double sum) {
        double centile = 0;
        try {
            centile = detail::finish_integral(integral, sum);
        } catch (const Failure& f) {
            fail(row, f.number(), f.what());
            return;
        }
        put(Quantity::centile, row, centile);
        if (out_.size_class) out_.size_class[row] = classify(centile, out_.thresholds);
    }

    const Rows& rows_;
    Results& out_;
    std::vector<RowFailure>& failures_;
    const detail::Lanes lanes_;
    const std::span<WaitingRow> waiting_;  // the first waiting_count_ are set
    const std::size_t room_;               // rows that wait at most; as many again to order them
    std::size_t waiting_count_ = 0;
};

}  // namespace

const char* quantity_name(Quantity q) noexcept {
    const auto i = static_cast<std::size_t>(q);
    return i < quantity_names.size() ? quantity_names[i] : "";
}

SizeClass classify(double centile, const Thresholds& t) noexcept {
    if (std::isnan(centile)) return SizeClass::none;
    if (centile < t.sga_below) return SizeClass::sga;
    if (centile > t.lga_above) return SizeClass::lga;
    return SizeClass::aga;
}

const char* class_text(SizeClass c) noexcept {
    const auto i = static_cast<std::size_t>(c);
    return i < class_texts.size() ? class_texts[i] : "";
}

void evaluate_rows(const Rows& rows, Results& results, unsigned threads) {
    const std::size_t n = rows.count;
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t useful = std::max<std::size_t>(1, n / rows_per_thread);
    const auto count = static_cast<unsigned>(std::min<std::size_t>(threads, useful));

    std::vector<std::vector<RowFailure>> failures(count);
    // Each thread's waiting rows, on the heap rather than the stack, which a caller's thread may
    // keep small.
    const detail::Lanes lanes = detail::lanes();
    // (left unset: a row is written there before it is read)
    const std::size_t room = lanes > detail::Lanes::one ? 2 * std::min(block_rows, n) : 0;
    std::vector<std::unique_ptr<WaitingRow[]>> waiting(count);
    for (auto& list : waiting) list.reset(new WaitingRow[room]);
    std::atomic<std::size_t> next{0};
    auto work = [&](unsigned t) {
        RowRunner runner(rows, results, failures[t], lanes, std::span<WaitingRow>(waiting[t].get(), room));
        for (;;) {
            const std::size_t begin = next.fetch_add(block_rows);
            if (begin >= n) return;
            runner.run(begin, std::min(n, begin + block_rows));
        }
    };
    if (count == 1) {
        work(0);
    } else {
        std::vector<std::thread> pool;
        pool.reserve(count - 1);
        try {
            for (unsigned t = 1; t < count; ++t) pool.emplace_back(work, t);
        } catch (...) {
            next = n;  // the threads already started find nothing left
            for (auto& th : pool) th.join();
            throw;
        }
        work(0);
        for (auto& th : pool) th.join();
    }

    if (results.failures) {
        for (auto& list : failures) {
            results.failures->insert(results.failures->end(), std::make_move_iterator(list.begin()),
                                     std::make_move_iterator(list.end()));
        }
        std::sort(results.failures->begin(), results.failures->end(),
                  [](const RowFailure& a, const RowFailure& b) { return a.row < b.row; });
        if (results.failures->size() > results.failure_limit) results.failures->resize(results.failure_limit);
    }
}

}  // namespace pelmora::calc
