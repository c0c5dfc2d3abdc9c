#pragma once
// What a host needs from its platform beyond COM itself: where the component's library is,
// and loading it as regsvr32 does. One implementation per platform
// (host_environment_linux.cpp here; the Windows build supplies its own).

#include <string>

#include "component_under_test.hpp"

namespace host {

/// Prepares the process: on Linux an empty registry; on Windows nothing (the real one is used).
void start();
/// The full path of the component's library.
OleString component_path();
/// Loads a library; nullptr on failure.
void* load_library(const OleString& path);
/// An exported function of a loaded library; nullptr when it does not export that name.
void* exported(void* library, const char* name);
void free_library(void* library);
/// Whether the library is loaded in the process at all.
bool is_loaded(const OleString& path);
/// The whole registry as text where the platform can give it (Linux); empty otherwise.
std::string registry_snapshot();

}  // namespace host
