#include "pelmora/chart/file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

namespace pelmora::chart {

std::string write_whole(const std::string& path, std::string_view bytes) {
    namespace fs = std::filesystem;
    if (path.empty()) return "no file name";
    std::random_device random;
    std::string temp;
    std::FILE* f = nullptr;
    for (int attempt = 0; attempt < 16 && !f; ++attempt) {
        temp = path + ".tmp-" + std::to_string(random());
        f = std::fopen(temp.c_str(), "wbx");  // never an existing file
        if (!f && errno != EEXIST) return std::strerror(errno);
    }
    if (!f) return "no temporary file could be created";
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int write_error = errno;
    const bool closed = std::fclose(f) == 0;
    std::error_code ec;
    if (!written || !closed) {
        const int e = written ? errno : write_error;
        fs::remove(temp, ec);
        return e ? std::strerror(e) : "writing failed";
    }
    fs::rename(temp, path, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return ec.message();
    }
    return {};
}

}  // namespace pelmora::chart
