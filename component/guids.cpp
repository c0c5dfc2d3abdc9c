// The one definition of the identifiers the interface description declares.
#include <windows.h>
#include <initguid.h>

#include "pelmora_idl.h"
