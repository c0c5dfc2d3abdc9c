/* Makes DEFINE_GUID define the identifiers it names (in exactly one translation unit). */
#define INITGUID
#include "pelmora_com_guid.h"
