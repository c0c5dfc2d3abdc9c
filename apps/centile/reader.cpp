#include "reader.hpp"

#include <string_view>

#include "csv.hpp"

namespace pelmora::centile {
namespace {

constexpr std::size_t read_block = std::size_t{1} << 20;

}  // namespace

bool Reader::next_chunk(std::string& chunk, std::vector<std::size_t>& ends, std::size_t max_rows) {
    chunk.clear();
    ends.clear();
    while (ends.size() < max_rows && !too_long_) {
        const std::string_view data(buf_.data() + pos_, buf_.size() - pos_);
        const std::size_t e = find_record_end(data);
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
    buf_.erase(0, pos_);
    pos_ = 0;
    const std::size_t old = buf_.size();
    buf_.resize(old + read_block);
    const std::size_t got = std::fread(buf_.data() + old, 1, read_block, file_);
    buf_.resize(old + got);
    if (got == 0) eof_ = true;
}

}  // namespace pelmora::centile
