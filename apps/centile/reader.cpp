#include "reader.hpp"

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
    while (ends.size() < max_rows && chunk.size() < max_bytes && !too_long_) {
        const std::string_view data(buf_.data() + pos_, buf_.size() - pos_);
        if (eol_ == 0 && !find_line_end(data)) {
            if (data.size() > longest_record) {
                too_long_ = true;
                break;
            }
            refill();
            continue;
        }
        const std::size_t e = find_record_end(data, eol_);
        if (e == std::string_view::npos) {
            if (data.size() > longest_record) {
                too_long_ = true;
                break;
            }
            if (eof_ || read_error()) {
                if (!data.empty() && !read_error()) {
                    chunk.append(data);
                    ends.push_back(chunk.size());
                    pos_ = buf_.size();
                }
                break;
            }
            refill();
            continue;
        }
        if (e >= longest_record) {
            too_long_ = true;
            break;
        }
        chunk.append(data.substr(0, e + 1));
        ends.push_back(chunk.size());
        pos_ += e + 1;
    }
    return !ends.empty();
}

void Reader::refill() {
    if (buf_.capacity() > 4 * read_block && buf_.size() - pos_ <= read_block) {
        std::string(buf_, pos_).swap(buf_);  // room from a very long record goes back
    } else {
        buf_.erase(0, pos_);
    }
    pos_ = 0;
    const std::size_t old = buf_.size();
    buf_.resize(old + read_block);
    const std::size_t got = std::fread(buf_.data() + old, 1, read_block, file_);
    buf_.resize(old + got);
    if (got == 0) eof_ = true;
}

}  // namespace pelmora::centile
