#pragma once
// What registration writes, named once.

#include "com.hpp"
#include "pelmora_idl_class.h"

namespace pelmora::component {

/// The version-independent and the versioned programmatic identifiers of `Pelmora` and its
/// threading model, as the IDL's coclass declares them.
inline constexpr char prog_id[] = PELMORA_VI_PROGID;
inline constexpr char versioned_prog_id[] = PELMORA_PROGID;
inline constexpr char threading_model[] = PELMORA_THREADING_MODEL;
/// The control's OLEMISC bits: recompose on resize, cannot link inside, inside-out, activate
/// when visible, set client site first (0x20191, 131473).
inline constexpr DWORD misc_status = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                     OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;
/// The resource id of the toolbox bitmap.
inline constexpr int toolbox_bitmap_id = 30000;

}  // namespace pelmora::component
