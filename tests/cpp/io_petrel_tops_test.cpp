#include <gtest/gtest.h>

#include <string>

#include "io/petrel_tops.hpp"
#include "io_test_util.hpp"

namespace vz {
namespace {

using petrel_tops::PetrelTopRow;

TEST(PetrelTops, Tokenize) {
    EXPECT_EQ(petrel_tops::tokenize(" a  \"b c\"\td"), (std::vector<std::string>{"a", "b c", "d"}));
    EXPECT_EQ(petrel_tops::tokenize("a \"\" b"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(petrel_tops::tokenize("a\"b\"c \"open end"), (std::vector<std::string>{"abc", "open end"}));
    EXPECT_EQ(petrel_tops::tokenize("x\xA0y"), (std::vector<std::string>{"x", "y"}));
}

std::string pick(const std::string& md, const std::string& well = "\"Well A\"", const std::string& extra = "") {
    return "1 2 3 4 5 6 " + md + " 7 Horizon \"Top Brent\" " + well + extra + "\n";
}

TEST(PetrelTops, ReadFile) {
    testing::ScratchDir dir;
    const std::string file = "# Petrel well tops\nVERSION 2\nBEGIN HEADER\n" + pick("1") +  // before the header end
                             "x\nend header\n\n# comment\n" + pick("1500.5") + pick("-999") + pick("-999.0000001") +
                             pick("-998.99") + pick("nan") + pick("inf") + pick("abc") +
                             "1 2 3 4 5 6 7 8 9 10\n" +                      // ten tokens
                             pick("1600", "W2", " extra tokens") + "END HEADER\n" +
                             "1 2 3 4 5 6 1700 7 \"\" \"Top\" W3 W4\n";  // empty quoted field shifts
    auto r = petrel_tops::read_file(dir.write("t.tops", file));
    ASSERT_TRUE(r) << r.error().display();
    const std::vector<PetrelTopRow> expected{
        {"Well A", "Top Brent", "Horizon", 1500.5},
        {"Well A", "Top Brent", "Horizon", -998.99},
        {"W2", "Top Brent", "Horizon", 1600},
        {"W4", "W3", "Top", 1700},
    };
    EXPECT_EQ(*r, expected);
}

TEST(PetrelTops, HeaderEndMustBeExact) {
    for (const char* end : {"END HEADER:", "END  HEADER", "END HEADERS", ""}) {
        testing::ScratchDir dir;
        auto r = petrel_tops::read_file(dir.write("t.tops", std::string(end) + "\n" + pick("100")));
        ASSERT_TRUE(r);
        EXPECT_TRUE(r->empty()) << end;
    }
    testing::ScratchDir dir;
    auto truncated = petrel_tops::read_file(dir.write("t.tops", "END HEADER\n" + pick("100") + "1 2 3 4 5 6 200 7 Hor"));
    ASSERT_TRUE(truncated);
    EXPECT_EQ(truncated->size(), 1u);
    auto missing = petrel_tops::read_file(dir.path("absent"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::Io);
}

TEST(PetrelTops, Latin1NamesBecomeUtf8) {
    testing::ScratchDir dir;
    auto r = petrel_tops::read_file(dir.write("t.tops", "END HEADER\n" + pick("5", "\"Br\xE6nt\"")));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->size(), 1u);
    EXPECT_EQ((*r)[0].well, "Br\xC3\xA6nt");
}

TEST(PetrelTops, ExportFixture) {
    auto r = petrel_tops::read_file(testing::fixture("petrel_tops/export.tops"));
    ASSERT_TRUE(r) << r.error().display();
    const std::vector<PetrelTopRow> expected{
        {"31/2-A 1", "Top Brent", "Horizon", 1550.75},
        {"31/2-A 1", "Base Brent", "Horizon", 1637.2},
        {"31/2-B 2 T2", "Gas/oil contact", "Other", 1521},
    };
    EXPECT_EQ(*r, expected);
}

}  // namespace
}  // namespace vz
