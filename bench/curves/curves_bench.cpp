// Centile curves for a cohort (10 000 mothers x 3 centiles x 127 days, on one and two threads),
// one pregnancy's chart as SVG text in this process, and the time the command-line tool takes to
// write it (process start and file included).

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "pelmora/calc/curves.hpp"
#include "pelmora/chart/chart.hpp"

namespace {

namespace calc = pelmora::calc;
using Clock = std::chrono::steady_clock;

// Plausible mothers, all four bases, deterministic.
std::vector<calc::Mother> cohort(std::size_t n) {
    std::uint64_t s = 0x9E3779B97F4A7C15u;
    auto unit = [&s] {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<double>(s >> 11) * 0x1p-53;
    };
    std::vector<calc::Mother> m(n);
    for (std::size_t i = 0; i < n; ++i) {
        m[i] = {.base = static_cast<calc::Base>(i % 4),
                .wt = 45 + unit() * 60,
                .ht = 150 + unit() * 35,
                .sex = double(i % 2),
                .eth = 1 + double(i % 4),
                .par = double(i % 5)};
    }
    return m;
}

// Weights per second over the cohort; state.range(0) threads, each taking a share of the mothers.
void BM_Curves(benchmark::State& state) {
    const std::vector<calc::Mother> mothers = cohort(10'000);
    std::vector<std::uint8_t> base(mothers.size());
    std::array<std::vector<double>, 7> in;
    for (auto& column : in) column.resize(mothers.size());
    for (std::size_t i = 0; i < mothers.size(); ++i) {
        base[i] = static_cast<std::uint8_t>(mothers[i].base);
        in[2][i] = mothers[i].wt;
        in[3][i] = mothers[i].ht;
        in[4][i] = mothers[i].sex;
        in[5][i] = mothers[i].eth;
        in[6][i] = mothers[i].par;
    }
    const calc::Rows rows = calc::contiguous_rows(base, in);
    const calc::DayRange days{};
    const std::size_t per_mother = calc::usual_centiles.size() * days.count();
    std::vector<double> weights(rows.count * per_mother);
    const auto threads = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        const auto start = Clock::now();
        std::vector<std::thread> pool;
        for (std::size_t t = 0; t < threads; ++t) {
            pool.emplace_back([&, t] {
                calc::Rows part = rows;
                const std::size_t begin = rows.count * t / threads, end = rows.count * (t + 1) / threads;
                part.count = end - begin;
                part.base.data += begin;
                for (auto* c : {&part.wt, &part.ht, &part.sex, &part.eth, &part.par}) c->data += begin;
                calc::curves_rows(part, calc::usual_centiles, days, weights.data() + begin * per_mother);
            });
        }
        for (auto& th : pool) th.join();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
    state.counters["weights/s"] = benchmark::Counter(
        static_cast<double>(weights.size()) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Curves)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The chart the command-line benchmark writes (three ultrasound estimates, a birth weight, a row
// of dates), as SVG text: the curves, the points' centiles and the writing, without the process.
void BM_ChartSvg(benchmark::State& state) {
    namespace chart = pelmora::chart;
    chart::Chart c;
    c.mother = {.base = calc::Base::united_kingdom, .wt = 64, .ht = 163, .sex = 2, .eth = 1, .par = 0};
    for (const char* p : {"28+0:1150:EFW", "32+0:1650:EFW", "36+0:2350:EFW", "39+3:2900:birth"}) {
        c.points.push_back(chart::parse_point(p));
    }
    c.edd = chart::parse_date("2027-03-14");
    for (auto _ : state) benchmark::DoNotOptimize(chart::svg(c));
}
BENCHMARK(BM_ChartSvg)->Unit(benchmark::kMillisecond);

#ifdef PELMORA_CENTILE_CLI
// The command-line tool writing one pregnancy's chart (three ultrasound estimates and a birth
// weight) as SVG, the whole process from start to exit.
void BM_ChartCli(benchmark::State& state) {
    const std::string out = "/tmp/pelmora-bench-chart-" + std::to_string(::getpid()) + ".svg";
    const std::string command = std::string("'") + PELMORA_CENTILE_CLI +
                                "' chart --base uk --wt 64 --ht 163 --sex Female --eth European --par 0"
                                " --point 28+0:1150:EFW --point 32+0:1650:EFW --point 36+0:2350:EFW"
                                " --point 39+3:2900:birth --edd 2027-03-14 -o " +
                                out;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("pelmora-centile chart failed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::remove(out.c_str());
}
BENCHMARK(BM_ChartCli)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);
#endif

}  // namespace

BENCHMARK_MAIN();
