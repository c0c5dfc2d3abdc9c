/* Linux-only helpers for a host of Pelmora's COM layer: the registry lives in memory in the
   process; a host that wants it to outlive the process loads and saves it to a file it names. */
#pragma once

#include "pelmora_com_api.h"

/* Replaces the registry's contents with those of the file (written by PelmoraRegistrySave).
   S_OK; HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when it does not exist; E_FAIL when malformed
   (the registry is then left as it was). */
STDAPI PelmoraRegistryLoad(const char* path);
/* Writes the registry's contents to the file. S_OK or E_FAIL. */
STDAPI PelmoraRegistrySave(const char* path);
/* Empties the registry back to a fresh system's: HKEY_CLASSES_ROOT holding only the empty
   CLSID, Interface and TypeLib keys. */
STDAPI_(void) PelmoraRegistryReset();
