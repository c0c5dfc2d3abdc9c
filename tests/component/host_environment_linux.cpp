// The test host's platform on Linux: our COM layer's registry and dlopen.

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "host_environment.hpp"
#include "pelmora_com_host.h"

namespace host {
namespace {

std::string narrow(const OleString& s) {
    std::string out;
    for (OLECHAR c : s) out += static_cast<char>(c);  // the build tree's path is ASCII
    return out;
}

}  // namespace

void start() { PelmoraRegistryReset(); }

OleString component_path() { return to_ole(PELMORA_COMPONENT_PATH); }

void* load_library(const OleString& path) { return dlopen(narrow(path).c_str(), RTLD_NOW | RTLD_LOCAL); }

void* exported(void* library, const char* name) { return dlsym(library, name); }

void free_library(void* library) { dlclose(library); }

bool is_loaded(const OleString& path) {
    void* h = dlopen(narrow(path).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h) return false;
    dlclose(h);
    return true;
}

std::string registry_snapshot() {
    char name[] = "/tmp/pelmora-registry-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return {};
    close(fd);
    std::string text;
    if (SUCCEEDED(PelmoraRegistrySave(name))) {
        std::ifstream in(name, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::remove(name);
    return text;
}

}  // namespace host
