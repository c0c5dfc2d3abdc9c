/* Linux stand-in for the Windows SDK header of this name (Pelmora's COM layer): what widl's
   headers expect of rpcndr.h: IUnknown. */
#pragma once

#include "rpc.h"
#include "unknwn.h"
