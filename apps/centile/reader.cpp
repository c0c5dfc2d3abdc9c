#include "reader.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "csv.hpp"

namespace pelmora::centile {
namespace {

constexpr std::size_t read_block = std::size_t{1} << 20;

}  // namespace

bool Reader::find_line_end(std::string_view data) {
    const std::size_t lf = find_record_end(data, '\n');
    const std::size_t cr = find_record_end(data, '\r');
    if (cr != std::string_view::npos && (lf == std::string_view::npos || cr + 1 < lf)) {
        if (cr + 1 == data.size() && !eof_ && !read_error()) return false;  // a line feed may follow
        eol_ = '\r';
    } else if (lf != std::string_view::npos || eof_ || read_error()) {
        eol_ = '\n';
    } else {
        return false;
    }
    return true;
}

bool Reader::next_chunk(std::string& chunk, std::vector<std::size_t>& ends, std::size_t max_rows,
                        std::size_t max_bytes) {
    chunk.clear();
    ends.clear();
    // The records taken from the buffer and not yet copied: buf_[run, pos_). They go into the chunk
    // in one piece, before the buffer moves and at the end.
    std::size_t run = pos_;
    const auto take_run = [&] {
        chunk.append(buf_, run, pos_ - run);
        run = pos_;
    };
    while (ends.size() < max_rows && chunk.size() + (pos_ - run) < max_bytes && !too_long_) {
        const std::string_view data(buf_.data() + pos_, end_ - pos_);
        if (eol_ == 0 && !find_line_end(data)) {
            if (data.size() > longest_record) {
                too_long_ = true;
                break;
            }
            take_run();
            refill();
            run = pos_;
            continue;
        }
        // Before the next quote a record ends at the next line end; from there on, the quotes
        // decide where.
        if (quote_ == unknown || quote_ < pos_) {
            const void* q = std::memchr(data.data(), '"', data.size());
            quote_ = q ? static_cast<std::size_t>(static_cast<const char*>(q) - buf_.data()) : end_;
        }
        std::size_t e = std::string_view::npos;
        if (const void* nl = std::memchr(data.data(), eol_, std::min(data.size(), quote_ - pos_))) {
            e = static_cast<std::size_t>(static_cast<const char*>(nl) - data.data());
        } else if (quote_ < end_) {
            e = find_record_end(data, eol_);
        }
        if (e == std::string_view::npos) {
            if (data.size() > longest_record) {
                too_long_ = true;
                break;
            }
            if (eof_ || read_error()) {
                take_run();
                if (!data.empty() && !read_error()) {
                    chunk.append(data);
                    ends.push_back(chunk.size());
                    pos_ = end_;
                    run = pos_;
                }
                break;
            }
            take_run();
            refill();
            run = pos_;
            continue;
        }
        if (e >= longest_record) {
            too_long_ = true;
            break;
        }
        pos_ += e + 1;
        ends.push_back(chunk.size() + (pos_ - run));
    }
    take_run();
    return !ends.empty();
}

void Reader::refill() {
    // The unread text moves to the front; the buffer grows only when a record needs it, so that
    // reading into it costs no clearing of room already there.
    if (buf_.size() > 4 * read_block && end_ - pos_ <= read_block) {
        std::string(buf_, pos_, end_ - pos_).swap(buf_);  // room from a very long record goes back
    } else if (pos_ > 0) {
        std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    }
    end_ -= pos_;
    pos_ = 0;
    quote_ = unknown;
    // Room for two blocks from the start: growing a buffer of text copies it into the new one
    // before the old is freed, and a block and a record's start would not fit in one.
    if (buf_.capacity() < 2 * read_block) buf_.reserve(2 * read_block);
    if (buf_.size() < end_ + read_block) buf_.resize(end_ + read_block);
    const std::size_t got = std::fread(buf_.data() + end_, 1, read_block, file_);
    end_ += got;
    if (got == 0) eof_ = true;
}

}  // namespace pelmora::centile
