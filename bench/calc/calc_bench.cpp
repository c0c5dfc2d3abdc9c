// Time per call of each calculator next to the bare 1001-slice loop, and the CSV batch's
// throughput and peak memory at two input sizes.

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pelmora/calc/calculators.hpp"
#include "slices.hpp"
#include "vector_exp.hpp"

#ifdef PELMORA_BENCH_BATCH
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "batch.hpp"
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

BENCHMARK_CAPTURE(BM_Calculator, uk, Base::united_kingdom)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(0.5);
BENCHMARK_CAPTURE(BM_Calculator, swe, Base::sweden)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK_CAPTURE(BM_Calculator, nz, Base::new_zealand)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK_CAPTURE(BM_Calculator, au, Base::australia)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(0.5);

#ifdef PELMORA_BENCH_BATCH

// A CSV file of `rows` plausible rows over all four bases, written once into a temporary file:
// 33 to 42 weeks, birth weights spread around the typical weight for the week (|z| mostly
// below 3, as in real records), now and then a code outside a base's table.
std::string generated_csv(long rows) {
    char path[] = "/tmp/pelmora-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) std::abort();
    std::FILE* f = fdopen(fd, "w");
    std::fputs("id,base,bwt,gest,wt,ht,sex,eth,par\n", f);
    static const char* const bases[] = {"United Kingdom", "swe", "nz", "Australia"};
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
        std::fprintf(f, "%ld,%s,%.0f,%.0f,%llu.%llu,%llu,%llu,%llu,%llu\n", i, bases[i % 4], typical * (1 + spread),
                     weeks * 7 + static_cast<double>(next(7)), static_cast<unsigned long long>(45 + next(65)),
                     static_cast<unsigned long long>(next(10)), static_cast<unsigned long long>(150 + next(36)),
                     static_cast<unsigned long long>(next(2)), static_cast<unsigned long long>(1 + next(11)),
                     static_cast<unsigned long long>(next(6)));
    }
    std::fclose(f);
    return path;
}

// Runs the batch in a child process so that its peak resident memory is its own.
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
            std::FILE* in = std::fopen(path.c_str(), "r");
            std::FILE* out = std::fopen("/dev/null", "w");
            const int status = pelmora::centile::run_batch(in, out, stderr);
            std::fclose(out);
            _exit(status);
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
