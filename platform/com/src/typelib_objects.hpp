#pragma once
// The ITypeLib and ITypeInfo objects over a type library the reader has parsed.

#include <memory>

#include "typelib_file.hpp"

namespace pelmora::com {

/// A new ITypeLib over `data`, with one reference. S_OK or E_OUTOFMEMORY; never throws.
HRESULT make_type_lib(std::shared_ptr<const TlbLibrary> data, ITypeLib** out) noexcept;

}  // namespace pelmora::com
