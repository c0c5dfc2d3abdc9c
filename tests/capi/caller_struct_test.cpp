// A structure of the caller's size: one that grew at its end since the caller was built (or that
// the caller has and the library does not yet) is read and written only as far as the caller's
// size, and a size below the first layout is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "caller_struct.hpp"

namespace {

using pelmora::capi::read_caller;
using pelmora::capi::write_caller;

// A structure first published without `added`, which a later version appended.
struct Grown {
    std::size_t size;
    double first;
    double added;
};
constexpr std::size_t first_layout = offsetof(Grown, added);
constexpr unsigned char guard = 0xA5;

TEST(CallerStruct, ReadsAndWritesOnlyTheCallersSize) {
    struct Case {
        std::size_t size;
        bool taken;
        double added_read;  // what the library sees of `added`: the caller's, or the default
    };
    const Case cases[] = {
        {first_layout - 1, false, 0},
        {first_layout, true, -1},  // a program built before `added`: the default stays
        {sizeof(Grown), true, 2},
        {sizeof(Grown) + 24, true, 2},  // a newer program's, larger than this library knows
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        alignas(Grown) std::array<unsigned char, sizeof(Grown) + 32> room;
        room.fill(guard);
        const Grown caller{c.size, 1, 2};
        std::memcpy(room.data(), &caller, std::min(c.size, sizeof caller));

        Grown seen{0, 0, -1};
        ASSERT_EQ(read_caller(reinterpret_cast<const Grown*>(room.data()), seen, first_layout), c.taken);
        if (!c.taken) continue;
        EXPECT_EQ(seen.first, 1);
        EXPECT_EQ(seen.added, c.added_read);

        Grown result{0, 10, 20};
        write_caller(reinterpret_cast<Grown*>(room.data()), result, c.size);
        Grown back{};
        std::memcpy(&back, room.data(), sizeof back);
        EXPECT_EQ(back.size, c.size);
        EXPECT_EQ(back.first, 10);
        const std::size_t written = std::min(c.size, sizeof(Grown));
        if (written == sizeof(Grown)) {
            EXPECT_EQ(back.added, 20);
        }
        for (std::size_t k = written; k < room.size(); ++k) {
            ASSERT_EQ(room[k], guard) << "byte " << k << " written";  // past the size, or a newer member
        }
    }
    Grown none{};
    EXPECT_FALSE(read_caller<Grown>(nullptr, none, first_layout));
}

}  // namespace
