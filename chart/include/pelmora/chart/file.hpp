#pragma once
// Writing an output file whole or not at all.

#include <string>
#include <string_view>

namespace pelmora::chart {

/// Writes `bytes` to a new file beside `path` and renames it over `path`, so that `path` holds
/// either its old content or all of `bytes`, never a part. Returns "" on success, else what
/// went wrong (the file at `path` is then untouched and no temporary file is left).
[[nodiscard]] std::string write_whole(const std::string& path, std::string_view bytes);

}  // namespace pelmora::chart
