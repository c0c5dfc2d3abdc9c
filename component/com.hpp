#pragma once
// The platform's COM and OLE Automation declarations and the generated ones of Pelmora's own
// interfaces: the Windows SDK on Windows, platform/com's headers of the same names on Linux.

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
#include <ocidl.h>

#include "pelmora_idl.h"
