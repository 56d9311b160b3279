// Temporary names: fresh each time, recognisably the destination's, never
// longer than a name may be, and never cut inside a character.

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/temp_name.h"

namespace kestova {
namespace {

TEST(TempNameTest, FreshHiddenAndCutAtACharacter)
{
    struct Case {
        std::string name;
        size_t keptBytes;  // of `name`, in the temporary name
    };
    const std::string cjk = "\xE5\x86\x99";  // one character, three bytes
    const Case cases[] = {
        {"out.tif", 7},
        {std::string(200, 'a'), 200},
        {std::string(255, 'a'), kMaxTempBaseBytes},
        // 198 bytes, then a character across the 200-byte limit: left out whole.
        {std::string(198, 'a') + cjk + "b", 198},
        {std::string(197, 'a') + cjk + "b", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.size());
        std::set<std::string> seen;
        for (int i = 0; i < 20; ++i) {
            char out[256];
            ASSERT_TRUE(MakeTempName(c.name.c_str(), out, sizeof out));
            const std::string name = out;
            EXPECT_LE(name.size(), 255u);
            EXPECT_EQ(name.rfind("." + c.name.substr(0, c.keptBytes) + ".", 0), 0u) << name;
            EXPECT_EQ(name.size(), 1 + c.keptBytes + 1 + 16 + 4) << name;
            EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
            seen.insert(name);
        }
        EXPECT_EQ(seen.size(), 20u) << "names repeat";
    }
}

}  // namespace
}  // namespace kestova
