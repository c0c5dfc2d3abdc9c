// The registry file loader on any input. A file it accepts must come back unchanged through
// saving and loading again.

#include <windows.h>

#include <cstdlib>

#include "fuzz_support.hpp"
#include "pelmora_com_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const pelmora::fuzz::MemoryFile file, saved;
    file.write(pelmora::fuzz::text_of(data, size));
    if (SUCCEEDED(PelmoraRegistryLoad(file.path().c_str()))) {
        if (PelmoraRegistrySave(saved.path().c_str()) != S_OK) std::abort();
        const std::string once = saved.read();
        if (PelmoraRegistryLoad(saved.path().c_str()) != S_OK) std::abort();  // what it saved, it reads
        if (PelmoraRegistrySave(saved.path().c_str()) != S_OK || saved.read() != once) std::abort();
    }
    PelmoraRegistryReset();
    return 0;
}
