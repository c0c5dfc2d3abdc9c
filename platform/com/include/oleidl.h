/* Linux stand-in for the Windows SDK header of this name: everything lives in pelmora_com_api.h. */
#pragma once
#include "pelmora_com_api.h"
