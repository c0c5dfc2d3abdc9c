// short_decimal against number_in_text, bit for bit: every text of up to four characters from an
// alphabet of digits, full stops and characters around them, and random longer ones. Whatever
// follows the text in its eight bytes must not matter, and every text of digits with at most one
// full stop between them, up to eight characters, must be taken.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "pelmora/number_text.hpp"

namespace {

TEST(ShortDecimal, ReadsWhatNumberInTextReads) {
    static const std::string alphabet = std::string("0123456789.-+e /:\x80") + '\0';
    std::mt19937_64 random(20261208);
    long differ = 0;
    const auto check = [&](const std::string& text) {
        char bytes[16];
        for (char& c : bytes) c = static_cast<char>(random());  // what follows the text
        std::memcpy(bytes, text.data(), text.size());
        double fast = 0;
        const bool taken = pelmora::short_decimal(std::string_view(bytes, text.size()), fast);
        std::size_t stops = 0;
        bool plain = !text.empty() && text.size() <= 8 && text.front() != '.' && text.back() != '.';
        for (const char c : text) {
            stops += c == '.' ? 1 : 0;
            plain = plain && ((c >= '0' && c <= '9') || c == '.');
        }
        plain = plain && stops <= 1;
        const auto slow = pelmora::number_in_text(text);
        const bool same = taken ? slow && std::memcmp(&fast, &*slow, sizeof fast) == 0 : !plain;
        if (!same && ++differ <= 10) ADD_FAILURE() << '"' << text << "\": taken " << taken << ", " << fast;
    };
    std::string text;
    for (std::size_t length = 0; length <= 4; ++length) {
        std::size_t count = 1;
        for (std::size_t i = 0; i < length; ++i) count *= alphabet.size();
        for (std::size_t k = 0; k < count; ++k) {
            text.clear();
            for (std::size_t i = 0, x = k; i < length; ++i, x /= alphabet.size()) text += alphabet[x % alphabet.size()];
            check(text);
        }
    }
    for (int k = 0; k < 2'000'000; ++k) {
        text.assign(1 + static_cast<std::size_t>(random() % 10), '0');
        for (char& c : text) {
            const auto r = random() % 100;
            c = r < 85   ? static_cast<char>('0' + random() % 10)
                : r < 95 ? '.'
                         : alphabet[static_cast<std::size_t>(random() % alphabet.size())];
        }
        check(text);
    }
    EXPECT_EQ(differ, 0);
}

}  // namespace
