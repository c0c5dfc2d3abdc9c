// The shortest text of a double against std::to_chars: each eight bytes of the input are a
// double's bits, and the two texts must be the same characters, in room enough and too little.

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "pelmora/number_text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (std::size_t at = 0; at + 8 <= size; at += 8) {
        double v;
        std::memcpy(&v, data + at, sizeof v);
        for (const std::ptrdiff_t room : {std::ptrdiff_t{64}, static_cast<std::ptrdiff_t>(data[at] % 26)}) {
            char ours[64], theirs[64];
            const auto a = pelmora::shortest_text(ours, ours + room, v);
            const auto b = std::to_chars(theirs, theirs + room, v);
            if (a.ec != b.ec || (a.ec == std::errc{} && std::string_view(ours, a.ptr) != std::string_view(theirs, b.ptr))) {
                std::abort();
            }
        }
    }
    return 0;
}
