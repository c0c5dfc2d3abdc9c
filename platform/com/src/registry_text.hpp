#pragma once
// Text values below HKEY_CLASSES_ROOT as the component runtime and the type library
// registration read and write them, and the registry's spelling of a GUID.

#include <string>
#include <string_view>

#include "pelmora_com_api.h"

namespace pelmora::com {

/// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}". std::bad_alloc.
std::u16string guid_text(REFGUID g);

/// The text (REG_SZ or REG_EXPAND_SZ) of the key `path` below HKEY_CLASSES_ROOT: its default
/// value, or the value `name`, up to its first zero. False when the key or value is missing,
/// is not text, or changes while it is read. std::bad_alloc.
bool read_text(const std::u16string& path, std::u16string& out, LPCWSTR name = nullptr);

/// Writes `value` as REG_SZ into the key `path` (created when missing). std::bad_alloc.
bool write_text(const std::u16string& path, std::u16string_view value, LPCWSTR name = nullptr);

}  // namespace pelmora::com
