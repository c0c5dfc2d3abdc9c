// main of the Windows check programs: GoogleTest's options, then the program's own arguments
// (paths), kept for the tests in wine_check::args().

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string_view>

#include "wine_check_args.hpp"

namespace wine_check {

std::vector<std::wstring>& args() {
    static std::vector<std::wstring> a;
    return a;
}

}  // namespace wine_check

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Paths may hold any character: take them from the wide command line, skipping the program
    // name and the options GoogleTest consumed (all of which start with "--gtest").
    int wargc = 0;
    LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
    for (int i = 1; wargv != nullptr && i < wargc; ++i) {
        if (std::wstring_view(wargv[i]).starts_with(L"--gtest")) continue;
        wine_check::args().emplace_back(wargv[i]);
    }
    LocalFree(wargv);
    return RUN_ALL_TESTS();
}
