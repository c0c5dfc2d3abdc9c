// The form's reading of the number a list's text begins with. Kept to the one call, so that it
// can follow the reading to wherever it lives.

#include "fuzz_support.hpp"
#include "pelmora/form/layout.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        (void)pelmora::form::leading_number(pelmora::fuzz::text_of(data, size));
    } catch (const pelmora::forms::RuntimeError&) {
        // Overflow: a run-time error the form reports
    }
    return 0;
}
