// The CSV batch of pelmora-centile on any input: it must end with one of its exit statuses. And
// each line that the word-at-a-time splitter takes must have the fields the general one finds.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "batch.hpp"
#include "csv.hpp"
#include "fuzz_support.hpp"

namespace {

void check_plain_fields(std::string_view text) {
    constexpr std::size_t most = 16;
    std::uint32_t at[most + 8];
    std::string scratch;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        const std::size_t commas = pelmora::centile::plain_commas(line, text.data() + text.size(), at, most);
        if (commas != std::string_view::npos) {
            std::vector<std::string_view> fields;
            const std::size_t count = pelmora::centile::each_field(
                line, scratch, [&](std::size_t, std::string_view f, std::size_t) { fields.push_back(f); });
            if (count != commas + 1) std::abort();
            std::size_t start = 0;
            for (std::size_t i = 0; i <= commas; ++i) {
                const std::size_t end = i < commas ? at[i] : line.size();
                if (line.substr(start, end - start) != fields[i]) std::abort();
                start = end + 1;
            }
        }
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const pelmora::fuzz::MemoryFile input;
    const std::string_view text = pelmora::fuzz::text_of(data, size);
    check_plain_fields(text);
    input.write(text);
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
