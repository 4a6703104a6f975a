// The main of every test program: the tests run in a temporary folder of their own, so that the
// diagnostic logs they write (in the current folder, as the product does) never land in the
// tree they were started from. Serial-port lock files go there too, for the tests and for the
// programs they run, never into the system's lock folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "support/TempDir.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const std::filesystem::path started = std::filesystem::current_path();
    const std::string folder = MakeTempDir("velinor-run");
    std::filesystem::current_path(folder);
#ifndef _WIN32
    ::setenv("VELINOR_LOCK_DIR", folder.c_str(), 1);
#endif
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::current_path(started, ec);
    std::filesystem::remove_all(folder, ec);
    return result;
}
