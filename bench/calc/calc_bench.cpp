// Time per call of each calculator next to the bare 1001-slice loop and the one-call floor
// (1001 dependent additions), the exp alone per lane in each way this machine has, the batch
// engine's rows per second on arrays beside the bound the exp sets, and the CSV batch's
// throughput and peak memory at two input sizes.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include <vector>

#include "pelmora/calc/calculators.hpp"
#include "pelmora/calc/engine.hpp"
#include "reference_integral.hpp"
#include "slices.hpp"
#include "vector_exp.hpp"

#ifdef PELMORA_BENCH_BATCH
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using pelmora::calc::Arg;
using pelmora::calc::Base;
using Clock = std::chrono::steady_clock;

// The integral as the steps state it, with no guard at all: the yardstick for the guards' cost.
using pelmora::calc::test::reference_centile;

struct Case {
    double bwt, gest, wt, ht;
    std::int16_t sex, eth, par;
};

Case case_b(Base base) {
    switch (base) {
    case Base::sweden: return {3200, 273, 40, 170, 0, 7, 5};
    case Base::new_zealand: return {3000, 266, 60, 160, 2, 4, 1};
    default: return {3000, 266, 80, 150, 0, 2, 2};
    }
}

// Each pass times a block of calculator calls and then a block of bare loops on the same z, so
// both see the same machine load; the ratio is of the two totals. The time column is per
// block of 32 calls; calc_ns and bare_loop_ns are per call.
void BM_Calculator(benchmark::State& state, Base base) {
    const Case c = case_b(base);
    double bwt = c.bwt, gest = c.gest, wt = c.wt, ht = c.ht;
    std::int16_t sex = c.sex, eth = c.eth, par = c.par;
    std::array<Arg, 7> a{Arg::ref(&bwt), Arg::ref(&gest), Arg::ref(&wt), Arg::ref(&ht),
                         Arg::ref(&sex), Arg::ref(&eth),  Arg::ref(&par)};
    const double z = pelmora::calc::evaluate(base, a[0], a[1], a[2], a[3], a[4], a[5], a[6]).z;
    constexpr int block = 32;
    double guarded_ns = 0, bare_ns = 0;
    std::int64_t calls = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (int k = 0; k < block; ++k) {
            gest = c.gest;  // the calculators write back; start each call afresh
            ht = c.ht;
            benchmark::DoNotOptimize(pelmora::calc::evaluate(base, a[0], a[1], a[2], a[3], a[4], a[5], a[6]));
        }
        const auto t1 = Clock::now();
        for (int k = 0; k < block; ++k) {
            double zz = z;
            benchmark::DoNotOptimize(zz);
            benchmark::DoNotOptimize(reference_centile(zz));
        }
        const auto t2 = Clock::now();
        const double g = std::chrono::duration<double, std::nano>(t1 - t0).count();
        guarded_ns += g;
        bare_ns += std::chrono::duration<double, std::nano>(t2 - t1).count();
        calls += block;
        state.SetIterationTime(g * 1e-9);
    }
    state.counters["calc_ns"] = guarded_ns / static_cast<double>(calls);
    state.counters["bare_loop_ns"] = bare_ns / static_cast<double>(calls);
    state.counters["ratio"] = guarded_ns / bare_ns;
}
// The fastest of `rounds` runs of f, in nanoseconds: on a busy machine the fastest run is the
// one least disturbed.
template <class F>
double fastest_ns(F&& f, int rounds) {
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = Clock::now();
        f();
        const auto t1 = Clock::now();
        best = std::min(best, std::chrono::duration<double, std::nano>(t1 - t0).count());
    }
    return best;
}

namespace detail = pelmora::calc::detail;

// The arguments of one row's slices (z = 2), rounded up to whole vectors of eight.
std::array<double, detail::max_slices> slice_arguments() {
    std::array<double, detail::max_slices> x{};
    const double h = 0.002;
    for (std::size_t k = 0; k < x.size(); ++k) {
        const double m = static_cast<double>(k + 1) * h - h / 2.0;
        x[k] = -m * m / 2.0;
    }
    return x;
}

// The exp alone over the slices' arguments, in each width, results summed lane by lane.
double exps_one(const double* x, std::size_t n) {
    double s = 0;
    for (std::size_t k = 0; k < n; ++k) s += std::exp(x[k]);
    return s;
}
#ifdef PELMORA_VECTOR_EXP
PELMORA_TARGET_AVX2 double exps_four(const double* x, std::size_t n) {
    __m256d s = _mm256_setzero_pd();
    for (std::size_t k = 0; k < n; k += 4) s = _mm256_add_pd(detail::glibc_exp::exp4_any(_mm256_loadu_pd(x + k)), s);
    alignas(32) double lane[4];
    _mm256_store_pd(lane, s);
    return lane[0] + lane[1] + lane[2] + lane[3];
}
// Eight lanes without the test of each vector against the fast range, as the slices run it when
// all of a row's arguments lie in that range (these all do): the least the exp costs.
PELMORA_TARGET_AVX512 double exps_eight(const double* x, std::size_t n) {
    __m512d s = _mm512_setzero_pd();
    for (std::size_t k = 0; k < n; k += 8) s = _mm512_add_pd(detail::glibc_exp::exp8(_mm512_loadu_pd(x + k)), s);
    return _mm512_reduce_add_pd(s);
}
#endif

#ifdef PELMORA_VECTOR_EXP
// The slices' operations other than the exp, eight rows side by side as the engine sums them:
// m = i h - h / 2, m m halved through its exponent, the division by 2.506628, the product with h
// and the sum; the halved square stands where the exp would be.
PELMORA_TARGET_AVX512 double area_ops_eight(double step) {
    const __m512d h = _mm512_add_pd(_mm512_set1_pd(step), _mm512_set_pd(7e-6, 6e-6, 5e-6, 4e-6, 3e-6, 2e-6, 1e-6, 0));
    const __m512d half = _mm512_div_pd(h, _mm512_set1_pd(2.0));
    __m512d s = _mm512_setzero_pd();
    for (std::size_t k = 0; k < detail::slice_count; ++k) {
        const __m512d m = _mm512_sub_pd(_mm512_mul_pd(_mm512_set1_pd(static_cast<double>(k + 1)), h), half);
        const __m512i mm = _mm512_sub_epi64(_mm512_castpd_si512(_mm512_mul_pd(m, m)), _mm512_set1_epi64(1LL << 52));
        s = _mm512_add_pd(_mm512_mul_pd(_mm512_div_pd(_mm512_castsi512_pd(mm), _mm512_set1_pd(2.506628)), h), s);
    }
    return _mm512_reduce_add_pd(s);
}
#endif

// Nanoseconds per row of the slices' operations other than the exp, on the eight-lane way (0
// where the machine has none): the part of a row the exp bound leaves out, which the exp shares
// the vector units with.
double area_ops_ns_per_row() {
#ifdef PELMORA_VECTOR_EXP
    if (detail::lanes() == detail::Lanes::eight) {
        constexpr int rounds = 16;
        double step = 0.002;
        const double ns = fastest_ns(
            [&] {
                for (int r = 0; r < rounds; ++r) {
                    benchmark::DoNotOptimize(step);
                    benchmark::DoNotOptimize(area_ops_eight(step));
                }
            },
            400);
        return ns / (rounds * 8.0);
    }
#endif
    return 0;
}

// Nanoseconds per exp in one lane, the way `lanes` forms the slices: 1001 times this is the
// least time one row's slices can take on one core.
double exp_ns_per_lane(detail::Lanes lanes) {
    static const std::array<double, detail::max_slices> x = slice_arguments();
    constexpr int rows = 16;
    double (*exps)(const double*, std::size_t) = exps_one;
#ifdef PELMORA_VECTOR_EXP
    if (lanes == detail::Lanes::eight) exps = exps_eight;
    if (lanes == detail::Lanes::four) exps = exps_four;
#endif
    const double ns = fastest_ns(
        [&] {
            for (int r = 0; r < rows; ++r) {
                benchmark::DoNotOptimize(x.data());
                benchmark::DoNotOptimize(exps(x.data(), x.size()));
            }
        },
        400);
    return ns / (rows * static_cast<double>(x.size()));
}

// The exp alone, one lane's share, and the slices' areas, per 1001 slices, in each way this
// machine has (one_*: std::exp; four_*, eight_*: the vector copies). `lanes` is the way the
// calculators and the engine use here.
void BM_Slices(benchmark::State& state) {
    std::array<double, detail::max_slices> area{};
    double h = 0.002;  // z = 2
    const detail::Lanes chosen = detail::lanes();
    double chosen_ns = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(h);
        const double ns = fastest_ns([&] { detail::slice_areas(chosen, h, detail::slice_count, area.data()); }, 20);
        benchmark::DoNotOptimize(area.data());
        chosen_ns = std::min(chosen_ns == 0 ? ns : chosen_ns, ns);
        state.SetIterationTime(ns * 1e-9);
    }
    for (const auto& [lanes, name] : {std::pair{detail::Lanes::one, "one"}, std::pair{detail::Lanes::four, "four"},
                                      std::pair{detail::Lanes::eight, "eight"}}) {
        if (lanes > detail::widest_lanes()) continue;
        state.counters[std::string(name) + "_exp_ns"] = exp_ns_per_lane(lanes);
        state.counters[std::string(name) + "_slices_ns"] =
            fastest_ns([&] { detail::slice_areas(lanes, h, detail::slice_count, area.data()); }, 400);
    }
    state.counters["lanes"] = static_cast<double>(chosen);
}
BENCHMARK(BM_Slices)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(0.5);

// The floor of one call: its 1001 slices must be added one after the other, each addition
// waiting for the one before. Times are per 1001 additions.
void BM_OneCallFloor(benchmark::State& state) {
    std::array<double, detail::slice_count> area{};
    for (std::size_t k = 0; k < area.size(); ++k) area[k] = 1e-3 / static_cast<double>(k + 1);
    double total_ns = 0;
    std::int64_t rounds = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(area.data());
        const auto t0 = Clock::now();
        double s = 0;
        for (const double a : area) s = a + s;
        benchmark::DoNotOptimize(s);
        const auto t1 = Clock::now();
        const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count();
        total_ns += ns;
        ++rounds;
        state.SetIterationTime(ns * 1e-9);
    }
    state.counters["floor_ns"] = total_ns / static_cast<double>(rounds);
}
BENCHMARK(BM_OneCallFloor)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(0.5);

BENCHMARK_CAPTURE(BM_Calculator, uk, Base::united_kingdom)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(0.5);
BENCHMARK_CAPTURE(BM_Calculator, swe, Base::sweden)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK_CAPTURE(BM_Calculator, nz, Base::new_zealand)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK_CAPTURE(BM_Calculator, au, Base::australia)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(0.5);

// Plausible rows over all four bases: 33 to 42 weeks, birth weights spread around the typical
// weight for the week (|z| mostly below 3, as in real records), now and then a code outside a
// base's table. The same for the arrays and the CSV file.
struct GeneratedRow {
    int base;
    double bwt, gest, wt, ht;
    int sex, eth, par;
};

std::vector<GeneratedRow> generated_rows(long rows) {
    std::vector<GeneratedRow> out;
    out.reserve(static_cast<std::size_t>(rows));
    std::uint64_t x = 88172645463325252u;
    auto next = [&x](std::uint64_t n) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x % n;
    };
    for (long i = 0; i < rows; ++i) {
        const auto weeks = static_cast<double>(33 + next(10));
        const double typical = 3500 * (2.991 + weeks * (-0.3185 + weeks * (0.01094 + weeks * -0.0001055)));
        const double spread = (static_cast<double>(next(1000) + next(1000) + next(1000)) / 1500 - 1) * 0.3;
        GeneratedRow r{};
        r.base = static_cast<int>(i % 4);
        r.bwt = std::round(typical * (1 + spread));
        r.gest = weeks * 7 + static_cast<double>(next(7));
        r.wt = static_cast<double>(45 + next(65)) + static_cast<double>(next(10)) / 10;
        r.ht = static_cast<double>(150 + next(36));
        r.sex = static_cast<int>(next(2));
        r.eth = static_cast<int>(1 + next(11));
        r.par = static_cast<int>(next(6));
        out.push_back(r);
    }
    return out;
}

// The CPU time of the calling thread so far, in seconds.
double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The engine's least CPU time a row on one thread, once BM_Engine/1 has run (0 before): the part
// of pelmora-centile --csv's own CPU time that is not reading and writing CSV.
double engine_cpu_ns_per_row = 0;

// The batch engine on arrays of a million rows, on one thread and on two, a pass over a part of
// them at a time: the fastest pass, beside the bound the exp alone sets and the ratio of the two.
void BM_Engine(benchmark::State& state) {
    namespace calc = pelmora::calc;
    const auto threads = static_cast<unsigned>(state.range(0));
    const std::vector<GeneratedRow> generated = generated_rows(1'000'000);
    const std::size_t n = generated.size();
    std::vector<std::uint8_t> base(n);
    std::array<std::vector<double>, 7> in;
    for (auto& column : in) column.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const GeneratedRow& r = generated[i];
        base[i] = static_cast<std::uint8_t>(r.base);
        const double v[7] = {r.bwt, r.gest, r.wt, r.ht, double(r.sex), double(r.eth), double(r.par)};
        for (std::size_t k = 0; k < 7; ++k) in[k][i] = v[k];
    }
    const calc::Rows all = calc::contiguous_rows(base, in);
    std::vector<double> centile(n), z(n), optimal(n);
    std::vector<int> error(n);
    // Each pass takes the next `pass` rows of the million: many short passes, of which the
    // fastest is the one the machine's other work disturbed least.
    constexpr std::size_t pass = 65'536;
    std::size_t first = 0;
    double seconds = 1e300;      // the fastest pass
    double cpu_seconds = 1e300;  // the least CPU time of the calling thread in a pass
    for (auto _ : state) {
        if (first + pass > n) first = 0;
        calc::Rows rows = all;
        rows.count = pass;
        for (calc::Column<double>* column :
             {&rows.bwt, &rows.gest, &rows.wt, &rows.ht, &rows.sex, &rows.eth, &rows.par}) {
            column->data += first;
        }
        rows.base.data += first;
        calc::Results results;
        results[calc::Quantity::centile] = centile.data() + first;
        results[calc::Quantity::z] = z.data() + first;
        results[calc::Quantity::optimal_weight] = optimal.data() + first;
        results.error = error.data() + first;
        const double c0 = thread_cpu_seconds();
        const auto t0 = Clock::now();
        calc::evaluate_rows(rows, results, threads);
        const auto t1 = Clock::now();
        const double s = std::chrono::duration<double>(t1 - t0).count();
        seconds = std::min(seconds, s);
        cpu_seconds = std::min(cpu_seconds, thread_cpu_seconds() - c0);
        state.SetIterationTime(s);
        first += pass;
    }
    const double ns_per_row = seconds * 1e9 / static_cast<double>(pass);
    // The bound: 1001 exps a row, each at the exp's own rate per lane, on each thread.
    const double bound_ns =
        static_cast<double>(calc::detail::slice_count) * exp_ns_per_lane(calc::detail::lanes()) / threads;
    state.counters["rows_per_s"] = static_cast<double>(pass) / seconds;
    state.counters["ns_per_row"] = ns_per_row;
    state.counters["exp_bound_ns"] = bound_ns;
    state.counters["over_bound"] = ns_per_row / bound_ns;
    if (threads == 1) {
        // The same on the CPU time of the one thread, which a loaded machine's waits leave out.
        const double cpu_ns_per_row = cpu_seconds * 1e9 / static_cast<double>(pass);
        engine_cpu_ns_per_row = cpu_ns_per_row;
        state.counters["cpu_ns_per_row"] = cpu_ns_per_row;
        state.counters["cpu_over_bound"] = cpu_ns_per_row / bound_ns;
        // What the slices need beyond the exp, which the exact order of a slice's operations
        // fixes, and the ratio it alone sets.
        if (const double area_ops_ns = area_ops_ns_per_row(); area_ops_ns > 0) {
            state.counters["area_ops_ns"] = area_ops_ns;
            state.counters["exp_and_area_ops_over_bound"] = (bound_ns + area_ops_ns) / bound_ns;
        }
    }
}
BENCHMARK(BM_Engine)->Arg(1)->Arg(2)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);

#ifdef PELMORA_BENCH_BATCH

// A CSV file of `rows` generated rows, written once into a temporary file.
std::string generated_csv(long rows) {
    char path[] = "/tmp/pelmora-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) std::abort();
    std::FILE* f = fdopen(fd, "w");
    std::fputs("id,base,bwt,gest,wt,ht,sex,eth,par\n", f);
    static const char* const bases[] = {"United Kingdom", "swe", "nz", "Australia"};
    long i = 0;
    for (const GeneratedRow& r : generated_rows(rows)) {
        std::fprintf(f, "%ld,%s,%.0f,%.0f,%.1f,%.0f,%d,%d,%d\n", i++, bases[r.base], r.bwt, r.gest, r.wt, r.ht, r.sex,
                     r.eth, r.par);
    }
    std::fclose(f);
    return path;
}

// What one run of pelmora-centile --csv reports: its exit status, its peak resident memory, its
// CPU time, and the peak of the process that started it (the least the run can show).
struct BatchRun {
    int status = -1;
    long maxrss_kb = 0;
    double cpu_seconds = 0;
    long launcher_rss_kb = 0;
};

// A small process, forked at the start before the benchmarks allocate anything, that starts each
// pelmora-centile run and waits for it. A child forked from the benchmark itself would show
// the benchmark's memory as its own: a fork maps the parent's resident pages into the child,
// and the peak that wait4 reports keeps what the child had before its exec.
class Launcher {
public:
    void start() {
        int request[2];
        int reply[2];
        if (pipe(request) != 0 || pipe(reply) != 0) std::abort();
        pid_ = fork();
        if (pid_ < 0) std::abort();
        if (pid_ == 0) {
            close(request[1]);
            close(reply[0]);
            serve(request[0], reply[1]);
            _exit(0);
        }
        close(request[0]);
        close(reply[1]);
        to_ = request[1];
        from_ = reply[0];
    }

    void stop() {
        if (pid_ <= 0) return;
        close(to_);  // the launcher reads the end of its requests and leaves
        close(from_);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

    // Runs pelmora-centile --csv on the file at `path`, its output thrown away.
    BatchRun run(const std::string& path) {
        BatchRun r;
        const std::size_t length = path.size();
        if (!put(to_, &length, sizeof length) || !put(to_, path.data(), length) || !get(from_, &r, sizeof r)) {
            r.status = -1;
        }
        return r;
    }

private:
    static bool put(int fd, const void* data, std::size_t size) {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = write(fd, p, size);
            if (n <= 0) return false;
            p += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    static bool get(int fd, void* data, std::size_t size) {
        char* p = static_cast<char*>(data);
        while (size > 0) {
            const ssize_t n = read(fd, p, size);
            if (n <= 0) return false;
            p += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    static void serve(int requests, int replies) {
        for (;;) {
            std::size_t length = 0;
            if (!get(requests, &length, sizeof length)) return;
            std::string path(length, '\0');
            if (!get(requests, path.data(), length)) return;
            BatchRun r;
            rusage self{};
            getrusage(RUSAGE_SELF, &self);
            r.launcher_rss_kb = self.ru_maxrss;
            const pid_t pid = fork();
            if (pid == 0) {
                const int in = open(path.c_str(), O_RDONLY);
                const int out = open("/dev/null", O_WRONLY);
                if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(3);
                execl(PELMORA_CENTILE_CLI, PELMORA_CENTILE_CLI, "--csv", static_cast<char*>(nullptr));
                _exit(3);
            }
            rusage usage{};
            if (pid > 0 && wait4(pid, &r.status, 0, &usage) == pid) {
                r.maxrss_kb = usage.ru_maxrss;
                r.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
            }
            if (!put(replies, &r, sizeof r)) return;
        }
    }

    pid_t pid_ = 0;
    int to_ = -1;
    int from_ = -1;
};

Launcher launcher;

// pelmora-centile --csv itself, started by the launcher, so that its peak resident memory is
// its own; the fastest of the runs.
void BM_Batch(benchmark::State& state) {
    const long rows = state.range(0);
    const std::string path = generated_csv(rows);
    double seconds = 1e300;
    double least_cpu_seconds = 1e300;
    BatchRun fastest;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const BatchRun r = launcher.run(path);
        const auto t1 = Clock::now();
        least_cpu_seconds = std::min(least_cpu_seconds, r.cpu_seconds);
        if (!WIFEXITED(r.status) || WEXITSTATUS(r.status) > 1) state.SkipWithError("batch failed");
        const double s = std::chrono::duration<double>(t1 - t0).count();
        if (s < seconds) {
            seconds = s;
            fastest = r;
        }
        state.SetIterationTime(s);
    }
    std::remove(path.c_str());
    state.counters["rows_per_s"] = static_cast<double>(rows) / seconds;
    // Rows per second of CPU time, all threads together (the least of the runs): what each free
    // core adds, whatever else the machine is running. Then the CPU time a row, and of it what
    // the CSV path adds to the engine's own: reading and splitting records, reading numbers,
    // writing results, handing chunks on.
    state.counters["rows_per_cpu_s"] = static_cast<double>(rows) / least_cpu_seconds;
    const double cpu_ns_per_row = least_cpu_seconds * 1e9 / static_cast<double>(rows);
    state.counters["cpu_ns_per_row"] = cpu_ns_per_row;
    if (engine_cpu_ns_per_row > 0) state.counters["outside_engine_cpu_ns"] = cpu_ns_per_row - engine_cpu_ns_per_row;
    state.counters["peak_rss_MiB"] = static_cast<double>(fastest.maxrss_kb) / 1024;
    state.counters["launcher_MiB"] = static_cast<double>(fastest.launcher_rss_kb) / 1024;
}
BENCHMARK(BM_Batch)->Arg(100'000)->Arg(1'000'000)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef PELMORA_BENCH_BATCH
    launcher.start();
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
#ifdef PELMORA_BENCH_BATCH
    launcher.stop();
#endif
    return 0;
}
