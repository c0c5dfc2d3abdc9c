#pragma once
// What the library keeps for all its objects: the count of live objects and locks, its own
// path, and its type library with the method table read from it.

#include <array>

#include "com.hpp"
#include "text.hpp"

namespace pelmora::component {

/// Objects alive and server locks held; DllCanUnloadNow answers S_OK only when both are zero.
void object_created() noexcept;
void object_destroyed() noexcept;
void lock_server(bool lock) noexcept;
bool can_unload() noexcept;

/// The full path of this library (pelmora.dll / libpelmora.so); empty when it cannot be found.
OleString module_path();

/// The position of a method in `_Pelmora`'s vtable after IDispatch's, 0..3.
enum class Method : int { custcentukn, custcentswe, custcentnz, custcentau };
inline constexpr std::size_t method_count = 4;
inline constexpr std::size_t param_count = 7;

/// One method of `_Pelmora` as the type library describes it.
struct MethodInfo {
    MEMBERID dispid = 0;
    OleString name;
    std::array<OleString, param_count> params;
};

/// The type library this library carries, read once from its own file. On success `*out` is
/// an added reference. Fails with the loader's HRESULT.
HRESULT type_library(ITypeLib** out) noexcept;
/// The description of one type of that library (the class, or an interface) by its identifier.
/// On success `*out` is an added reference; on failure it is null and nothing is held.
HRESULT type_info(REFGUID guid, ITypeInfo** out) noexcept;
/// `_Pelmora`'s methods in vtable order, read from the type library; nullptr when it cannot be
/// read or does not describe four methods with seven parameters and a result each.
const std::array<MethodInfo, method_count>* methods() noexcept;

}  // namespace pelmora::component
