#pragma once
// What registration writes, named once.

#include "com.hpp"

namespace pelmora::component {

/// The version-independent and the versioned programmatic identifiers of `Pelmora`.
inline constexpr char prog_id[] = "Pelmora.Pelmora";
inline constexpr char versioned_prog_id[] = "Pelmora.Pelmora.1";
/// The control's OLEMISC bits: recompose on resize, cannot link inside, inside-out, activate
/// when visible, set client site first (0x20191, 131473).
inline constexpr DWORD misc_status = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                     OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;
/// The resource id of the toolbox bitmap.
inline constexpr int toolbox_bitmap_id = 30000;

}  // namespace pelmora::component
