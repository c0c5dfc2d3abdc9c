/* Pelmora's COM and OLE Automation layer for Linux: the part of the Windows SDK that the
   component and its hosts use, with the same names, values, struct layouts and vtable orders,
   so the same sources build against the real SDK on Windows. Implemented by libpelmora-com.so,
   which holds the one registry and the one loader of the process.
   Split by area like the SDK headers it stands in for: windef.h (macros, basic types, handles),
   winerror.h, winreg.h, libloaderapi.h, unknwn.h, oaidl.h (Automation's types and interfaces),
   ocidl.h (connection points), oleidl.h, oleauto.h (Automation's functions), objbase.h (the
   component runtime), ole2.h, olectl.h; windows.h brings them all, as this header does. */
#pragma once

#include "windows.h"
