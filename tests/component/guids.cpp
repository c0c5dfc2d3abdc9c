// The host's own definitions of the identifiers it uses.
#include <windows.h>
#include <initguid.h>

#include "pelmora_idl.h"
