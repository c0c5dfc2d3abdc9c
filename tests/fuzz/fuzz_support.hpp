#pragma once
// Shared by the fuzz targets: a file in memory (the readers under test take paths), and the
// notation the calculator and dispatch targets write argument values in.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora::fuzz {

/// A memory-backed file reachable by path, rewritten for each input.
class MemoryFile {
public:
    MemoryFile() : fd_(memfd_create("pelmora-fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0) std::abort();
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    void write(std::string_view bytes) const {
        if (ftruncate(fd_, 0) != 0) std::abort();
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
    }
    std::string read() const {
        std::string out;
        char buf[4096];
        for (off_t at = 0;;) {
            const ssize_t n = pread(fd_, buf, sizeof buf, at);
            if (n < 0) std::abort();
            if (n == 0) return out;
            out.append(buf, static_cast<std::size_t>(n));
            at += n;
        }
    }
    const std::string& path() const { return path_; }
    std::u16string path16() const { return {path_.begin(), path_.end()}; }

private:
    int fd_;
    std::string path_;
};

inline std::string_view text_of(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

/// One argument value in the inputs' notation: blank-separated tokens, each optionally
/// prefixed by '&' (passed by reference):
///   e  Empty    n  Null    t, f  booleans    s:TEXT  text    i:N  16-bit    l:N  32-bit
///   ?  a missing argument    x:N  a variant of type N with a zeroed payload (by reference when
///   N says so)    anything else: a double (std::from_chars), or text when it does not read.
struct Token {
    bool by_ref = false;
    char kind = 'e';        ///< e n t f s i l ? x d
    std::string_view text;  ///< what follows "s:", "i:", "l:", "x:", or the whole token
};

inline std::vector<Token> tokens(std::string_view line, std::size_t most) {
    std::vector<Token> out;
    std::size_t i = 0;
    while (out.size() < most) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i == line.size()) break;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
        std::string_view word = line.substr(i, j - i);
        i = j;
        Token t;
        if (word.front() == '&') {
            t.by_ref = true;
            word.remove_prefix(1);
        }
        if (word.size() >= 2 && word[1] == ':' && std::string_view("sxil").find(word[0]) != std::string_view::npos) {
            t.kind = word[0];
            t.text = word.substr(2);
        } else if (word.size() == 1 && std::string_view("entf?").find(word[0]) != std::string_view::npos) {
            t.kind = word[0];
        } else {
            t.kind = 'd';
            t.text = word;
        }
        out.push_back(t);
    }
    return out;
}

/// The next line of `in` (without its line feed); `in` keeps the rest.
inline std::string_view next_line(std::string_view& in) {
    const std::size_t nl = in.find('\n');
    const std::string_view line = in.substr(0, nl);
    in.remove_prefix(nl == std::string_view::npos ? in.size() : nl + 1);
    return line;
}

}  // namespace pelmora::fuzz
