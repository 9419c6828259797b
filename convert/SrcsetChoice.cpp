// The srcset candidates: the one the complete mode keeps (CompletePasses.cpp),
// and where each stands, for the default mode's absolute addresses (TagPasses.cpp).

#include "SrcsetChoice.h"

#include <cstdlib>
#include <string>

namespace {

bool isHtmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// A descriptor such as "1.5x" or "640w"; false when it is neither.
bool readDescriptor(std::string_view token, char& kind, double& value) {
    if (token.size() < 2) {
        return false;
    }
    const char last = token.back();
    if (last != 'x' && last != 'X' && last != 'w' && last != 'W') {
        return false;
    }
    const std::string number(token.substr(0, token.size() - 1));
    char* end = nullptr;
    const double parsed = std::strtod(number.c_str(), &end);
    if (end == number.c_str() || *end != 0 || !(parsed > 0)) {
        return false;
    }
    kind = last == 'x' || last == 'X' ? 'x' : 'w';
    value = parsed;
    return true;
}

} // namespace

std::vector<SrcsetChoice::Span> SrcsetChoice::split(std::string_view srcset) {
    std::vector<Span> spans;
    size_t i = 0;
    const size_t n = srcset.size();
    while (i < n) {
        while (i < n && (isHtmlSpace(srcset[i]) || srcset[i] == ',')) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        Span span;
        span.urlStart = i;
        while (i < n && !isHtmlSpace(srcset[i])) {
            ++i;
        }
        span.urlLength = i - span.urlStart;
        if (srcset[i - 1] == ',') {
            // Commas at the end of the address end the candidate.
            while (span.urlLength > 0 && srcset[span.urlStart + span.urlLength - 1] == ',') {
                --span.urlLength;
            }
        } else {
            // Descriptors run to the next comma.
            const size_t comma = srcset.find(',', i);
            size_t end = comma == std::string_view::npos ? n : comma;
            const size_t next = end;
            while (end > i && isHtmlSpace(srcset[end - 1])) {
                --end;
            }
            span.restLength = end - i;
            i = next;
        }
        if (span.urlLength > 0) {
            spans.push_back(span);
        }
    }
    return spans;
}

std::vector<SrcsetChoice::Candidate> SrcsetChoice::parse(std::string_view srcset) {
    std::vector<Candidate> candidates;
    for (const Span& span : split(srcset)) {
        Candidate candidate;
        candidate.url = std::string(srcset.substr(span.urlStart, span.urlLength));
        const std::string_view descriptors =
            srcset.substr(span.urlStart + span.urlLength, span.restLength);
        size_t d = 0;
        while (d < descriptors.size() && candidate.descriptor == 0) {
            while (d < descriptors.size() && isHtmlSpace(descriptors[d])) {
                ++d;
            }
            const size_t tokenStart = d;
            while (d < descriptors.size() && !isHtmlSpace(descriptors[d])) {
                ++d;
            }
            readDescriptor(descriptors.substr(tokenStart, d - tokenStart), candidate.descriptor,
                           candidate.value);
        }
        candidates.push_back(std::move(candidate));
    }
    return candidates;
}

int SrcsetChoice::choose(const std::vector<Candidate>& candidates) {
    if (candidates.empty()) {
        return -1;
    }
    bool anyWidth = false;
    bool anyDescriptor = false;
    for (const Candidate& candidate : candidates) {
        anyWidth = anyWidth || candidate.descriptor == 'w';
        anyDescriptor = anyDescriptor || candidate.descriptor != 0;
    }
    if (!anyDescriptor) {
        return 0;
    }
    const char kind = anyWidth ? 'w' : 'x';
    const double limit = anyWidth ? kLargestWidth : kLargestDensity;
    int largestFitting = -1;
    int smallest = -1;
    double largestFittingValue = 0;
    double smallestValue = 0;
    for (size_t k = 0; k < candidates.size(); ++k) {
        const Candidate& candidate = candidates[k];
        double value = candidate.value;
        if (candidate.descriptor == 0 && kind == 'x') {
            value = 1.0;
        } else if (candidate.descriptor != kind) {
            continue;
        }
        const auto index = static_cast<int>(k);
        if (value <= limit && (largestFitting < 0 || value > largestFittingValue)) {
            largestFitting = index;
            largestFittingValue = value;
        }
        if (smallest < 0 || value < smallestValue) {
            smallest = index;
            smallestValue = value;
        }
    }
    return largestFitting >= 0 ? largestFitting : smallest;
}

std::string SrcsetChoice::chosenUrl(std::string_view srcset) {
    const std::vector<Candidate> candidates = parse(srcset);
    const int chosen = choose(candidates);
    return chosen >= 0 ? candidates[static_cast<size_t>(chosen)].url : std::string();
}
