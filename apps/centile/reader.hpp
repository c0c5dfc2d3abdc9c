#pragma once
// Whole CSV records from a stream, read a block at a time.

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace pelmora::centile {

/// A longer record means the input is not CSV rows.
inline constexpr std::size_t longest_record = std::size_t{64} << 20;

class Reader {
public:
    explicit Reader(std::FILE* f) : file_(f) {}

    /// Moves up to `max_rows` records into `chunk`, noting where each ends (one past its line
    /// feed, or the end of input). False when nothing is left, a record is too long or the
    /// stream failed.
    bool next_chunk(std::string& chunk, std::vector<std::size_t>& ends, std::size_t max_rows);

    [[nodiscard]] bool too_long() const noexcept { return too_long_; }
    [[nodiscard]] bool read_error() const noexcept { return std::ferror(file_) != 0; }

private:
    void refill();

    std::FILE* file_;
    std::string buf_;
    std::size_t pos_ = 0;
    bool eof_ = false;
    bool too_long_ = false;
};

}  // namespace pelmora::centile
