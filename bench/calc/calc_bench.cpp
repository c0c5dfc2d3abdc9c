// Time per call of each calculator next to the bare 1001-slice loop and the one-call floor
// (1001 dependent additions), the batch engine's rows per second on arrays, and the CSV
// batch's throughput and peak memory at two input sizes.

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <vector>

#include "pelmora/calc/calculators.hpp"
#include "pelmora/calc/engine.hpp"
#include "slices.hpp"
#include "vector_exp.hpp"

#ifdef PELMORA_BENCH_BATCH
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#endif

namespace {

using pelmora::calc::Arg;
using pelmora::calc::Base;
using Clock = std::chrono::steady_clock;

// The integral as the steps state it, with no guard at all: the yardstick for the guards' cost.
double unguarded_centile(double z) {
    bool mirrored = false;
    if (z < 0) {
        mirrored = true;
        z = -z;
    }
    const double h = z / 1000;
    double i = 0, s = 0;
    while (i < 1001) {
        i = i + 1;
        const double m = i * h - h / 2;
        s = (std::exp(-m * m / 2) / 2.506628) * h + s;
    }
    double p = s + 0.5;
    if (mirrored) p = 1 - p;
    return p * 100;
}

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
            benchmark::DoNotOptimize(unguarded_centile(zz));
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
// The slices alone: the areas of 1001 slices one at a time through std::exp, and the way the
// calculators form them (four at a time where the vector exp runs; vector_exp says whether it
// does here). Times are per 1001 slices.
void BM_Slices(benchmark::State& state) {
    namespace detail = pelmora::calc::detail;
    std::array<double, detail::max_slices> area{};
    double h = 0.002;  // z = 2
    double scalar_ns = 0, chosen_ns = 0;
    std::int64_t rounds = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(h);
        const auto t0 = Clock::now();
        detail::slice_areas_scalar(h, 1001, area.data());
        benchmark::DoNotOptimize(area.data());
        const auto t1 = Clock::now();
        detail::slice_areas(h, 1001, area.data());
        benchmark::DoNotOptimize(area.data());
        const auto t2 = Clock::now();
        const double c = std::chrono::duration<double, std::nano>(t2 - t1).count();
        scalar_ns += std::chrono::duration<double, std::nano>(t1 - t0).count();
        chosen_ns += c;
        ++rounds;
        state.SetIterationTime(c * 1e-9);
    }
    state.counters["scalar_ns"] = scalar_ns / static_cast<double>(rounds);
    state.counters["chosen_ns"] = chosen_ns / static_cast<double>(rounds);
    state.counters["speedup"] = scalar_ns / chosen_ns;
    state.counters["vector_exp"] = detail::vector_exp_available() ? 1 : 0;
}
BENCHMARK(BM_Slices)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(0.5);

// The floor of one call: its 1001 slices must be added one after the other, each addition
// waiting for the one before. Times are per 1001 additions.
void BM_OneCallFloor(benchmark::State& state) {
    std::array<double, 1001> area{};
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

// The batch engine on arrays of a million rows, on one thread and on two.
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
    const calc::Rows rows = calc::contiguous_rows(base, in);
    std::vector<double> centile(n), z(n), optimal(n);
    std::vector<int> error(n);
    calc::Results results;
    results[calc::Quantity::centile] = centile.data();
    results[calc::Quantity::z] = z.data();
    results[calc::Quantity::optimal_weight] = optimal.data();
    results.error = error.data();
    double seconds = 0;
    std::int64_t passes = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        calc::evaluate_rows(rows, results, threads);
        const auto t1 = Clock::now();
        const double s = std::chrono::duration<double>(t1 - t0).count();
        seconds += s;
        ++passes;
        state.SetIterationTime(s);
    }
    state.counters["rows_per_s"] = static_cast<double>(n) * static_cast<double>(passes) / seconds;
    state.counters["ns_per_row"] = seconds * 1e9 / (static_cast<double>(n) * static_cast<double>(passes));
}
BENCHMARK(BM_Engine)->Arg(1)->Arg(2)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

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

// Runs pelmora-centile --csv in a child process so that its peak resident memory is its own.
void BM_Batch(benchmark::State& state) {
    const long rows = state.range(0);
    const std::string path = generated_csv(rows);
    double seconds = 0;
    double cpu_seconds = 0;
    long maxrss_kb = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            // pelmora-centile itself, so that its memory is its own and not this process's.
            if (!std::freopen(path.c_str(), "r", stdin) || !std::freopen("/dev/null", "w", stdout)) _exit(3);
            execl(PELMORA_CENTILE_CLI, PELMORA_CENTILE_CLI, "--csv", static_cast<char*>(nullptr));
            _exit(3);
        }
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        const auto t1 = Clock::now();
        if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) state.SkipWithError("batch failed");
        seconds = std::chrono::duration<double>(t1 - t0).count();
        maxrss_kb = usage.ru_maxrss;
        cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
        state.SetIterationTime(seconds);
    }
    std::remove(path.c_str());
    state.counters["rows_per_s"] = static_cast<double>(rows) / seconds;
    // Rows per second of CPU time, all threads together: what each free core adds, whatever
    // else the machine is running.
    state.counters["rows_per_cpu_s"] = static_cast<double>(rows) / cpu_seconds;
    state.counters["peak_rss_MiB"] = static_cast<double>(maxrss_kb) / 1024;
}
BENCHMARK(BM_Batch)->Arg(100'000)->Arg(1'000'000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

#endif

}  // namespace

BENCHMARK_MAIN();
