/* Linux stand-in for the Windows SDK header of this name (Pelmora's COM layer): the control
   interfaces (their error codes are in winerror.h). */
#pragma once

#include "ocidl.h"
#include "ole2.h"
