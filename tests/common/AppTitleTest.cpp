#include "common/AppTitle.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

TEST(AppTitle, FromProgramPath) {
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/bin/Calvoro", "Calvoro"},
        {"/opt/CALVORO.EXE", "Calvoro"},
        {"calvoro.bin.old", "calvoro"},
        {"mySQLtool", "mysqltool"},
        {"x", "x"},
        {"", ""},
    };
    for (auto [path, title] : cases)
        EXPECT_EQ(calvoro::ApplicationTitleFor(QString::fromLatin1(path)), QString::fromLatin1(title))
            << path;
}
