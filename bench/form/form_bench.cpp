// The face's costs on the headless toolkit: creating the control until it shows its first result,
// and one recalculation through the control's own dual interface.

#include <benchmark/benchmark.h>

#include "control.hpp"
#include "pelmora/form/form.hpp"

namespace {

using pelmora::test::Control;

// Class factory, form with its 21 controls, the nine lists filled, the first result shown.
void BM_CreateControlUntilFirstResult(benchmark::State& state) {
    { Control warm; }  // registration and library load happen once per process
    for (auto _ : state) {
        Control control;
        std::string shown = control.surface()->find_label("output_label")->caption();
        benchmark::DoNotOptimize(shown);
    }
}
BENCHMARK(BM_CreateControlUntilFirstResult)->Unit(benchmark::kMicrosecond);

// Recalculate alone: nine list texts read, seven fields filled, the calculator called by vtable.
void BM_Recalculate(benchmark::State& state) {
    Control control;
    pelmora::form::Form form(pelmora::forms::headless_toolkit(), control.pelmora());
    form.UserControl_Initialize();
    for (auto _ : state) {
        form.Recalculate();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Recalculate)->Unit(benchmark::kMicrosecond);

// A person's pick: the click delivered through the toolkit, holding the control, recalculating.
void BM_PickRecalculates(benchmark::State& state) {
    Control control;
    pelmora::forms::DropDownList* weeks = control.surface()->find_list("Combogw");
    const char* texts[] = {"38", "40"};
    std::size_t i = 0;
    for (auto _ : state) weeks->pick(texts[i++ & 1U]);
}
BENCHMARK(BM_PickRecalculates)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
