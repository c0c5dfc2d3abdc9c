/* Linux stand-in for the Windows SDK header of this name (Pelmora's COM layer): what widl's
   headers expect of rpc.h: the basic types and error codes. */
#pragma once

#include "windef.h"
#include "winerror.h"
