#include <gtest/gtest.h>

#include "comm/KIniSettingsStore.h"

TEST(KIniPathBeside, NamesTheFileAfterTheProgramInItsFolder) {
    const struct {
        const char* program;
        const char* ini;
    } cases[] = {
        {"C:\\Tools\\velinor-dialog.exe", "C:\\Tools\\velinor-dialog.ini"},
        {"C:\\Tools\\velinor.x.exe", "C:\\Tools\\velinor.x.ini"},
        {"C:\\v1.2\\velinor", "C:\\v1.2\\velinor.ini"},
        {"/opt/v1.2/velinor", "/opt/v1.2/velinor.ini"},
        {"velinor.exe", "velinor.ini"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KIniPathBeside(c.program), c.ini) << c.program;
}
