/* Linux stand-in for the Windows SDK header of this name (Pelmora's COM layer): the module
   functions. */
#pragma once

#include "windef.h"

/* ---- Modules ----------------------------------------------------------------------------- */
#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x1
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x2
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x4
/* The module containing an address (only GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS is supported). */
WINBASEAPI BOOL GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule);
/* The module's file path, UTF-16; returns its length, 0 on failure, nSize when truncated. */
WINBASEAPI DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
WINBASEAPI int lstrlenW(LPCWSTR lpString);
