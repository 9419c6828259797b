#pragma once

#include <string>
#include <string_view>
#include <vector>

// The one candidate of a srcset value that a message keeps: a mail reader
// prefers a srcset address to the src, so the srcset must name a picture
// that travels in the message, and one is enough.
class SrcsetChoice {
public:
    struct Candidate {
        std::string url;
        char descriptor = 0; // 'x', 'w', or 0 when the candidate has none
        double value = 0;
    };

    // Where one candidate stands in the srcset text: its address, and the
    // descriptors behind it (white space included, up to the next comma,
    // trailing white space not).
    struct Span {
        size_t urlStart = 0;
        size_t urlLength = 0;
        size_t restLength = 0;
    };
    static std::vector<Span> split(std::string_view srcset);

    // The candidates in order: an address (a run without white space; commas
    // at its end end it), then descriptors up to the next comma. The first
    // descriptor that ends in "x" or "w" and reads as a positive number
    // counts; a candidate without one has none.
    static std::vector<Candidate> parse(std::string_view srcset);

    // The index of the kept candidate, -1 when there is none: the largest
    // descriptor not above 2x (or 2000w), else the smallest one; when no
    // candidate has a descriptor, the first. Width descriptors are compared
    // when any candidate has one; otherwise a candidate without a
    // descriptor counts as 1x. The first of equal candidates wins.
    static int choose(const std::vector<Candidate>& candidates);

    // The kept candidate's address; empty when there is none.
    static std::string chosenUrl(std::string_view srcset);

    static constexpr double kLargestDensity = 2.0;
    static constexpr double kLargestWidth = 2000.0;
};
