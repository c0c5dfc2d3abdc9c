#pragma once
// Structures a C caller allocates: each starts with `size_t size`, the caller's sizeof of it. The
// library reads and writes no byte past that size, so a program built against an older (smaller)
// or a newer (larger) layout of a structure works with this library.

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace pelmora::capi {

/// The caller's structure, of its own size, into `to`: members past the caller's size keep the
/// values `to` already holds (their defaults). False, reading nothing more, when `from` is null
/// or its size is below `first_layout`, the size of the structure's first published layout.
template <class T>
[[nodiscard]] bool read_caller(const T* from, T& to, std::size_t first_layout = sizeof(T)) noexcept {
    if (!from) return false;
    std::size_t size;
    std::memcpy(&size, from, sizeof size);
    if (size < first_layout) return false;
    std::memcpy(&to, from, std::min(size, sizeof(T)));
    return true;
}

/// Gives the caller its structure back: `from` with the caller's size, no byte past that size.
template <class T>
void write_caller(T* to, T& from, std::size_t size) noexcept {
    from.size = size;
    std::memcpy(to, &from, std::min(size, sizeof(T)));
}

}  // namespace pelmora::capi
