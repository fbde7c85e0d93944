#include "core/VersionUtils.h"

#include <gtest/gtest.h>

namespace {

TEST(Version, ParsesFourFieldsAndComparesStrictly) {
    const TVersion minimum(QStringLiteral("14.0.0.0"));
    struct Case {
        const char* text;
        int major, minor, version, build;
        bool parsed;
        bool newerThanMinimum;
    } cases[] = {
        {"15", 15, -1, -1, -1, true, true},         {"14", 14, -1, -1, -1, true, false},
        {"14.0.0.1", 14, 0, 0, 1, true, true},      {"14.0.0.0", 14, 0, 0, 0, true, false},
        {"13.9.99.99", 13, 9, 99, 99, true, false}, {"14.1", 14, 1, -1, -1, true, true},
        {"", -1, -1, -1, -1, false, false},         {"abc", -1, -1, -1, -1, false, false},
        {"1.2.3.4.5", 1, 2, 3, 4, true, false},     {"1.2.3.4a", 1, 2, 3, -1, true, false},
        {"14..2", 14, 2, -1, -1, true, true},       {"..14.2", 14, 2, -1, -1, true, true},
        {" 14. -2", 14, -2, -1, -1, true, false},
    };
    for (const auto& c : cases) {
        TVersion v;
        EXPECT_EQ(v.ParseStr(QString::fromUtf8(c.text)), c.parsed) << c.text;
        EXPECT_EQ(v.Major, c.major) << c.text;
        EXPECT_EQ(v.Minor, c.minor) << c.text;
        EXPECT_EQ(v.Version, c.version) << c.text;
        EXPECT_EQ(v.Build, c.build) << c.text;
        EXPECT_EQ(v.NewerThan(minimum), c.newerThanMinimum) << c.text;
    }
}

TEST(Version, TextAndEquality) {
    TVersion zero;
    EXPECT_TRUE(zero.IsZero());
    EXPECT_EQ(zero.VersionStr(), QStringLiteral("-1.-1.-1.-1"));
    TVersion v(QStringLiteral("6.3.0.0"));
    EXPECT_EQ(v.VersionStr(), QStringLiteral("6.3.0.0"));
    EXPECT_TRUE(v.Equal(TVersion(QStringLiteral("6.3"))) == false);
    EXPECT_TRUE(v.Equal(TVersion(QStringLiteral("6.3.0.0"))));
    EXPECT_FALSE(v.NewerThan(v));
    v.Zero();
    EXPECT_TRUE(v.IsZero());
}

} // namespace
