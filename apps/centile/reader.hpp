#pragma once
// Whole CSV records from a stream, read a block at a time.

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora::centile {

/// A longer record means the input is not CSV rows.
inline constexpr std::size_t longest_record = std::size_t{64} << 20;

class Reader {
public:
    explicit Reader(std::FILE* f) : file_(f) {}

    /// Moves up to `max_rows` records into `chunk`, and no more once it holds `max_bytes` (a
    /// longer record comes alone), noting where each ends (one past its line end, or the end of
    /// input). Lines end with a line feed (a carriage return before it is part of the record), or
    /// with a carriage return alone when the first line ends so. False when nothing is left, a
    /// record is too long or the stream failed.
    bool next_chunk(std::string& chunk, std::vector<std::size_t>& ends, std::size_t max_rows,
                    std::size_t max_bytes = longest_record);

    [[nodiscard]] bool too_long() const noexcept { return too_long_; }
    [[nodiscard]] bool read_error() const noexcept { return std::ferror(file_) != 0; }

private:
    void refill();
    // Decides the line end from the first line; false when more input is needed to tell.
    bool find_line_end(std::string_view data);

    std::FILE* file_;
    std::string buf_;  // the text read is buf_[0, end_); the rest is room to read into
    std::size_t end_ = 0;
    std::size_t pos_ = 0;
    // Where the first quote in buf_ is, from where it was last looked for (end_: none);
    // looked for again once pos_ has passed it, and after each refill.
    static constexpr std::size_t unknown = static_cast<std::size_t>(-1);
    std::size_t quote_ = unknown;
    bool eof_ = false;
    bool too_long_ = false;
    char eol_ = 0;  // '\n', '\r', or 0 before the first line end is seen
};

}  // namespace pelmora::centile
