#include <gtest/gtest.h>

#include <cstring>

#include "package/paths.h"
#include "platform/platform.h"

using namespace zv;

TEST(Paths, ReplaceExtension) {
    struct Case {
        const char* path;
        const char* ending;
        const char* want;
    } cases[] = {
        {"C:\\UPDATE\\SETUP.EXE", "002", "C:\\UPDATE\\SETUP002"},
        {"C:\\UPDATE\\SETUP002", ".EXE", "C:\\UPDATE\\SETUP002.EXE"},
        {"C:\\UPD.V1\\SETUP", "002", "C:\\UPD.V1\\SETUP002"},  // the dot lies in a directory
        {"SETUP.TAR.GZ", ".EXE", "SETUP.TAR.EXE"},             // only the last dot counts
        {"C:\\UPDATE\\SETUP.", "003", "C:\\UPDATE\\SETUP003"},
        {"", "002", "002"},
    };
    for (const Case& c : cases) {
        char path[kMaxPath];
        std::strcpy(path, c.path);
        EXPECT_TRUE(ReplaceExtension(path, sizeof path, c.ending));
        EXPECT_STREQ(path, c.want) << c.path;
    }
}

TEST(Paths, BackslashAtTheEnd) {
    struct Case {
        const char* path;
        const char* appended;
        const char* stripped;
    } cases[] = {
        {"C:\\ZV", "C:\\ZV\\", "C:\\ZV"},
        {"C:\\ZV\\", "C:\\ZV\\", "C:\\ZV"},
        {"C:\\", "C:\\", "C:\\"},  // a root keeps its backslash
        {"D:ZV", "D:ZV\\", "D:ZV"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        char path[kMaxPath];
        std::strcpy(path, c.path);
        EXPECT_TRUE(AppendBackslash(path, sizeof path));
        EXPECT_STREQ(path, c.appended) << c.path;
        std::strcpy(path, c.path);
        StripTrailingBackslash(path);
        EXPECT_STREQ(path, c.stripped) << c.path;
    }
}

TEST(Paths, NothingIsWrittenPastTheBuffer) {
    char buffer[12];
    std::memset(buffer, '#', sizeof buffer);
    std::strcpy(buffer, "C:\\A\\B.EXE");  // 10 characters and the zero
    EXPECT_TRUE(ReplaceExtension(buffer, 11, "0002"));  // exactly fills the 11 bytes
    EXPECT_STREQ(buffer, "C:\\A\\B0002");
    std::strcpy(buffer, "C:\\A\\B.EXE");
    EXPECT_FALSE(ReplaceExtension(buffer, 11, "00002"));
    EXPECT_STREQ(buffer, "C:\\A\\B.EXE");
    EXPECT_EQ(buffer[11], '#');
    std::strcpy(buffer, "C:\\ABCDEFGH");  // 11 characters fill the 12 bytes
    EXPECT_FALSE(AppendBackslash(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "C:\\ABCDEFGH");
}
