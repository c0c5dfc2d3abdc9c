/* Linux stand-in for the Windows SDK header of this name (Pelmora's COM layer): OLE's
   initialisation, over the component runtime, Automation and the OLE interfaces. */
#pragma once

#include "objbase.h"
#include "oleauto.h"
#include "oleidl.h"

STDAPI OleInitialize(LPVOID pvReserved);
STDAPI_(void) OleUninitialize();
