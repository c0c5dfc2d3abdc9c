// tlb-typeflags: sets type flags on one type of an MSFT type library (the .tlb widl writes), for
// the attributes widl refuses, such as nonextensible on a dispinterface.
//
//   tlb-typeflags FILE.tlb TYPENAME FLAGS
//
// The type is found by its name in the library's name table, never by a fixed offset; FLAGS (a
// number, 0x80 for TYPEFLAG_FNONEXTENSIBLE) is or-ed into the type's flags and the file rewritten.
// Exit status 0 when the flags are set, 1 when the file is no MSFT library, the name is not the
// name of exactly one type, or the file cannot be read or written. Built and run on the build
// machine, whatever the target.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

class Image {
public:
    explicit Image(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}

    // A little-endian 32-bit field, or nothing when it lies outside the file.
    [[nodiscard]] std::optional<std::int32_t> i32(std::int64_t at) const {
        if (at < 0 || at + 4 > static_cast<std::int64_t>(bytes_.size())) return std::nullopt;
        const auto* p = &bytes_[static_cast<std::size_t>(at)];
        return static_cast<std::int32_t>(std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
                                         std::uint32_t{p[3]} << 24);
    }
    bool set_i32(std::int64_t at, std::int32_t value) {
        if (at < 0 || at + 4 > static_cast<std::int64_t>(bytes_.size())) return false;
        const auto v = static_cast<std::uint32_t>(value);
        for (int k = 0; k < 4; ++k)
            bytes_[static_cast<std::size_t>(at) + static_cast<std::size_t>(k)] =
                static_cast<unsigned char>(v >> (8 * k));
        return true;
    }
    [[nodiscard]] std::optional<std::string> text(std::int64_t at, std::int64_t length) const {
        if (at < 0 || length < 0 || at + length > static_cast<std::int64_t>(bytes_.size())) return std::nullopt;
        return std::string(bytes_.begin() + at, bytes_.begin() + at + length);
    }
    [[nodiscard]] const std::vector<unsigned char>& bytes() const { return bytes_; }

private:
    std::vector<unsigned char> bytes_;
};

int fail(const std::string& why) {
    std::fprintf(stderr, "tlb-typeflags: %s\n", why.c_str());
    return 1;
}

// MSFT layout: a 0x54-byte header (4 more with a help string DLL), one offset per type info, then
// the directory of 15 segments (offset, length, two reserved words each). Segment 0 holds the type
// infos, 0x64 bytes each, whose flags are at 0x30 and name offset at 0x34; names are in segment 7,
// each a 12-byte head (its length in the low byte of the third word) and the name's bytes.
constexpr std::int32_t msft_magic = 0x5446534D;
constexpr std::int64_t header_size = 0x54;
constexpr std::int32_t help_dll_flag = 0x100;
constexpr std::int64_t type_info_size = 0x64;
constexpr std::int64_t flags_at = 0x30;
constexpr std::int64_t name_at = 0x34;
constexpr int type_info_segment = 0;
constexpr int name_segment = 7;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return fail("usage: tlb-typeflags FILE.tlb TYPENAME FLAGS");
    const std::string path = argv[1];
    const std::string wanted = argv[2];
    char* end = nullptr;
    const unsigned long set = std::strtoul(argv[3], &end, 0);
    if (end == argv[3] || *end != '\0' || set == 0 || set > 0xFFFF) return fail("FLAGS must be a number 1..0xFFFF");

    std::ifstream in(path, std::ios::binary);
    if (!in) return fail("cannot read " + path);
    Image im{std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {})};
    in.close();

    if (im.i32(0) != msft_magic) return fail(path + " is no MSFT type library");
    const auto varflags = im.i32(0x14);
    const auto types = im.i32(0x20);
    if (!varflags || !types || *types < 0 || *types > 0x10000) return fail(path + ": damaged header");
    const std::int64_t directory = header_size + ((*varflags & help_dll_flag) != 0 ? 4 : 0) + 4 * std::int64_t{*types};
    const auto segment = [&](int n) { return im.i32(directory + 16 * n); };
    const auto infos = segment(type_info_segment);
    const auto names = segment(name_segment);
    if (!infos || !names || *infos < 0 || *names < 0) return fail(path + ": damaged segment directory");

    std::optional<std::int64_t> found;
    for (std::int32_t i = 0; i < *types; ++i) {
        const std::int64_t base = *infos + type_info_size * i;
        const auto name_offset = im.i32(base + name_at);
        if (!name_offset) return fail(path + ": type info " + std::to_string(i) + " lies outside the file");
        if (*name_offset < 0) continue;
        const std::int64_t entry = std::int64_t{*names} + *name_offset;
        const auto length = im.i32(entry + 8);
        if (!length) return fail(path + ": name of type info " + std::to_string(i) + " lies outside the file");
        const auto name = im.text(entry + 12, *length & 0xFF);
        if (!name) return fail(path + ": name of type info " + std::to_string(i) + " lies outside the file");
        if (*name != wanted) continue;
        if (found) return fail(path + ": more than one type is named " + wanted);
        found = base + flags_at;
    }
    if (!found) return fail(path + ": no type is named " + wanted);

    const std::int32_t before = *im.i32(*found);
    const std::int32_t after = before | static_cast<std::int32_t>(set);
    if (!im.set_i32(*found, after)) return fail(path + ": cannot set the flags");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(im.bytes().data()), static_cast<std::streamsize>(im.bytes().size()));
    out.close();
    if (!out) return fail("cannot write " + path);
    std::printf("tlb-typeflags: %s flags 0x%X -> 0x%X\n", wanted.c_str(), static_cast<unsigned>(before),
                static_cast<unsigned>(after));
    return 0;
}
