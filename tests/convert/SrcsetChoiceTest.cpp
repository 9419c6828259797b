#include "convert/SrcsetChoice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(SrcsetChoice, ParseCandidates) {
    struct Case {
        const char* srcset;
        std::vector<std::string> urls;
        std::string descriptors; // one letter per candidate, '-' for none
    };
    const Case cases[] = {
        {"a.png", {"a.png"}, "-"},
        {"a.png 1x, b.png 2x", {"a.png", "b.png"}, "xx"},
        {" a.png  480w ,b.png 960w", {"a.png", "b.png"}, "ww"},
        {"a.png, b.png 2x", {"a.png", "b.png"}, "-x"},
        // A comma inside an address belongs to it.
        {"a.png,b.png 2x", {"a.png,b.png"}, "x"},
        {"a.png,,, b.png", {"a.png", "b.png"}, "--"},
        {"img.php?a=1,2 2x", {"img.php?a=1,2"}, "x"},
        {"a.png 100w 2x, b.png junk", {"a.png", "b.png"}, "w-"},
        {"a.png 0x, b.png -1w, c.png 1.5X", {"a.png", "b.png", "c.png"}, "--x"},
        {"data:image/gif;base64,R0lG 1x", {"data:image/gif;base64,R0lG"}, "x"},
        {"", {}, ""},
        {" , ,", {}, ""},
    };
    for (const Case& c : cases) {
        const std::vector<SrcsetChoice::Candidate> candidates = SrcsetChoice::parse(c.srcset);
        std::vector<std::string> urls;
        std::string descriptors;
        for (const SrcsetChoice::Candidate& candidate : candidates) {
            urls.push_back(candidate.url);
            descriptors.push_back(candidate.descriptor == 0 ? '-' : candidate.descriptor);
        }
        EXPECT_EQ(urls, c.urls) << c.srcset;
        EXPECT_EQ(descriptors, c.descriptors) << c.srcset;
    }
}

TEST(SrcsetChoice, KeepsTheLargestUpToTwiceOr2000Wide) {
    struct Case {
        const char* srcset;
        const char* chosen;
    };
    const Case cases[] = {
        {"a.png", "a.png"},
        {"a.png, b.png", "a.png"},
        {"a.png 1x, b.png 2x, c.png 3x", "b.png"},
        {"c.png 3x, b.png 2x, a.png 1x", "b.png"},
        {"a.png 1x, b.png 1.5x", "b.png"},
        {"a.png, b.png 2x", "b.png"},
        {"a.png, b.png 0.5x", "a.png"},
        {"c.png 3x, d.png 4x", "c.png"},
        {"s.png 480w, m.png 1200w, l.png 2000w, x.png 3200w", "l.png"},
        {"s.png 480w, m.png 1200w, x.png 2400w", "m.png"},
        {"x.png 2400w, y.png 4000w", "x.png"},
        {"a.png 1x, b.png 1x", "a.png"},
        {"a.png 800w, b.png 2x", "a.png"},
        {"img.php?a=1,2 2x, small.png 1x", "img.php?a=1,2"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SrcsetChoice::chosenUrl(c.srcset), c.chosen) << c.srcset;
    }
}

} // namespace
