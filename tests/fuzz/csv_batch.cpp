// The CSV batch of pelmora-centile on any input: it must end with one of its exit statuses.

#include <cstdio>
#include <cstdlib>

#include "batch.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const pelmora::fuzz::MemoryFile input;
    input.write(pelmora::fuzz::text_of(data, size));
    std::FILE* in = std::fopen(input.path().c_str(), "rb");
    std::FILE* out = std::fopen("/dev/null", "wb");
    if (!in || !out) std::abort();
    pelmora::centile::BatchOptions options;
    options.workers = 2;
    options.chunk_rows = 3;    // several chunks even for small inputs,
    options.chunk_bytes = 64;  // and chunks cut by their bytes
    const int status = pelmora::centile::run_batch(in, out, out, options);
    std::fclose(in);
    std::fclose(out);
    if (status < 0 || status > 2) std::abort();
    return 0;
}
