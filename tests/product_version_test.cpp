#include <gtest/gtest.h>

#include "detect/product_version.h"

using namespace zv;

TEST(ProductVersion, OrderedByHighThenLowUnsigned) {
    struct Case {
        ProductVersion a, b;
        int order;
    } cases[] = {
        {MakeVersion(1, 2, 1, 31), MakeVersion(1, 2, 0, 40), 1},  // release decides before build
        {MakeVersion(1, 3, 0, 0), MakeVersion(1, 2, 65535, 65535), 1},
        {MakeVersion(1, 2, 1, 31), MakeVersion(1, 2, 1, 31), 0},
        {MakeVersion(0x8000, 0, 0, 0), MakeVersion(1, 0, 0, 0), 1},  // no sign anywhere
        {MakeVersion(1, 2, 0x8000, 0), MakeVersion(1, 2, 1, 0), 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareVersions(c.a, c.b), c.order);
        EXPECT_EQ(CompareVersions(c.b, c.a), -c.order);
    }
}

TEST(ProductVersion, ShownAsMajorDotMinorLessOneOrInFullForMinorZero) {
    struct Case {
        ProductVersion v;
        const char* shown;
    } cases[] = {
        {MakeVersion(1, 2, 1, 31), "1.01"},
        {MakeVersion(1, 11, 0, 0), "1.10"},
        {MakeVersion(3, 1, 0, 0), "3.00"},
        {MakeVersion(1, 101, 0, 0), "1.100"},
        {MakeVersion(65535, 65535, 65535, 65535), "65535.65534"},
        // No minor to count down from: the whole version.
        {MakeVersion(2, 0, 0, 1), "2.0.0.1"},
        {MakeVersion(1, 0, 0, 0), "1.0.0.0"},
        {MakeVersion(0, 0, 0, 0), "0.0.0.0"},
        {MakeVersion(65535, 0, 65535, 7), "65535.0.65535.7"},
    };
    for (const Case& c : cases) {
        char text[32];
        FormatVersion(c.v, text, sizeof text);
        EXPECT_STREQ(text, c.shown);
    }
    char parts[32];
    FormatVersionParts(MakeVersion(1, 2, 1, 31), parts, sizeof parts);
    EXPECT_STREQ(parts, "1.2.1.31");
}
