// UTF-8 <-> UTF-16: round trips, and every kind of malformed input turning into U+FFFD.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "pelmora/text/utf.hpp"

namespace {

using pelmora::text::from_utf8;
using pelmora::text::to_utf8;

TEST(Utf, RoundTripsEveryEncodingLength) {
    const std::u16string samples[] = {
        u"", u"Pakistani", u"\u00e9\u00df", u"\u20ac 3500", u"\U0001F476 born", std::u16string(u"a\0b", 3)};
    for (const auto& s : samples) {
        const std::string u8 = to_utf8(std::u16string_view(s));
        EXPECT_EQ(from_utf8<char16_t>(u8), s);
    }
    EXPECT_EQ(to_utf8(std::u16string_view(u"\u20ac")), "\xE2\x82\xAC");
    EXPECT_EQ(to_utf8(std::u16string_view(u"\U0001F476")), "\xF0\x9F\x91\xB6");
}

TEST(Utf, UnpairedSurrogatesBecomeReplacementCharacters) {
    const struct {
        std::u16string in;
        std::string out;
    } cases[] = {
        {std::u16string(1, char16_t{0xD800}), "\xEF\xBF\xBD"},
        {std::u16string(1, char16_t{0xDC00}), "\xEF\xBF\xBD"},
        {std::u16string{char16_t{0xDC00}, char16_t{0xD800}}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {std::u16string{char16_t{0xD800}, u'x'}, "\xEF\xBF\xBDx"},
    };
    for (const auto& c : cases) EXPECT_EQ(to_utf8(std::u16string_view(c.in)), c.out);
}

TEST(Utf, MalformedUtf8BecomesReplacementCharacters) {
    const struct {
        std::string_view in;
        std::u16string out;
    } cases[] = {
        {"\x80", u"\uFFFD"},                // lone continuation byte
        {"\xC3", u"\uFFFD"},                // truncated at the end
        {"\xC3x", u"\uFFFDx"},              // continuation missing
        {"\xC0\xAF", u"\uFFFD"},            // overlong '/'
        {"\xE0\x80\xAF", u"\uFFFD"},        // overlong, three bytes
        {"\xED\xA0\x80", u"\uFFFD"},        // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD"},    // above U+10FFFF
        {"\xFF", u"\uFFFD"},                // never a lead byte
        {"ok\xE2\x82", u"ok\uFFFD\uFFFD"},  // cut off at the end: each byte on its own
    };
    for (const auto& c : cases) EXPECT_EQ(from_utf8<char16_t>(c.in), c.out) << testing::PrintToString(c.in);
}

}  // namespace
