/* Linux stand-in for the Windows SDK header of this name (Pelmora's COM layer): the whole layer,
   as windows.h brings in OLE on Windows. */
#pragma once

#include "libloaderapi.h"
#include "ole2.h"
#include "olectl.h"
#include "windef.h"
#include "winerror.h"
#include "winreg.h"
