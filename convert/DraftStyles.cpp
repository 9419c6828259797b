#include "convert/DraftStyles.h"

#include "convert/ConvertText.h"
#include "foundation/StringBuffer.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr size_t kNone = std::string_view::npos;
constexpr std::string_view kMediaKeyword = "@media";

bool isNameChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) != 0 || c == '-' || c == '_' || c == '\\' || u >= 0x80;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isCssSpace(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isCssSpace(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// A fragment stands behind the data: address unquoted, so the characters
// that would end the url() or its attribute are percent-encoded.
std::string unquotedFragment(std::string_view fragment) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : fragment) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || c == '"' || c == '\'' || c == '(' || c == ')' || c == '\\' || c == '&' ||
            c == '<' || c == '>') {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

// The data: address for a "cid:" address, its fragment kept; false for
// any other address and for an id that names no part.
bool dataAddressFor(const std::string& address, const DraftStyles::DataUrlLookup& lookup,
                    std::string& out) {
    if (address.size() < 4 || lowered(std::string_view(address).substr(0, 4)) != "cid:") {
        return false;
    }
    const size_t hash = address.find('#', 4);
    const std::string_view id = std::string_view(address).substr(4, hash - 4);
    const std::string data = lookup(id);
    if (data.empty()) {
        return false;
    }
    out = data;
    if (hash != std::string::npos) {
        out += unquotedFragment(std::string_view(address).substr(hash));
    }
    return true;
}

// Behind a comment, a string, an escape or a url() token that begins at i
// (none of which can open or close a block); i when none begins there.
size_t behindOpaque(std::string_view css, size_t i) {
    const char c = css[i];
    if (c == '/' && i + 1 < css.size() && css[i + 1] == '*') {
        const size_t end = css.find("*/", i + 2);
        return end == kNone ? css.size() : end + 2;
    }
    if (c == '"' || c == '\'') {
        size_t p = i + 1;
        while (p < css.size() && css[p] != c && css[p] != '\n') {
            p += css[p] == '\\' ? 2 : 1;
        }
        return std::min(p + 1, css.size());
    }
    if (c == '\\') {
        return std::min(i + 2, css.size());
    }
    if ((c == 'u' || c == 'U') && (i == 0 || !isNameChar(css[i - 1])) &&
        lowered(css.substr(i, 4)) == "url(") {
        const size_t length = CssReferences::urlValueLength(css, i);
        return length == 0 ? i : i + 4 + length + 1;
    }
    return i;
}

// Where "@media" begins a rule at i: the keyword as a whole word.
bool mediaRuleAt(std::string_view css, size_t i) {
    const size_t end = i + kMediaKeyword.size();
    return css[i] == '@' && end <= css.size() &&
           lowered(css.substr(i, kMediaKeyword.size())) == kMediaKeyword &&
           (end == css.size() || !isNameChar(css[end]));
}

// The first character of stops from pos at the nesting depth pos stands
// at, comments, strings and url() tokens stepped over; the block's closing
// "}" counts as a stop so that a search never leaves its block.
size_t findAtSameDepth(std::string_view css, size_t pos, std::string_view stops) {
    int depth = 0;
    size_t i = pos;
    while (i < css.size()) {
        const size_t behind = behindOpaque(css, i);
        if (behind != i) {
            i = behind;
            continue;
        }
        const char c = css[i];
        if (depth == 0 && (stops.find(c) != kNone || c == '}')) {
            return i;
        }
        depth += c == '{' ? 1 : c == '}' ? -1 : 0;
        ++i;
    }
    return css.size();
}

// The "}" that closes the block whose "{" stands at open; the end of the
// text for a block left open (CSS closes it there).
size_t closingBrace(std::string_view css, size_t open) {
    const size_t close = findAtSameDepth(css, open + 1, "");
    return close;
}

// The query as an attribute can hold it: comments taken out, white space
// runs made one blank.
std::string mediaQueryText(std::string_view prelude) {
    std::string spaced;
    for (size_t i = 0; i < prelude.size();) {
        if (prelude.compare(i, 2, "/*") == 0) {
            const size_t end = prelude.find("*/", i + 2);
            i = end == kNone ? prelude.size() : end + 2;
            spaced += ' ';
        } else {
            spaced += isCssSpace(prelude[i]) ? ' ' : prelude[i];
            ++i;
        }
    }
    std::string out;
    for (const char c : trimmed(spaced)) {
        if (c != ' ' || out.back() != ' ') {
            out += c;
        }
    }
    return out;
}

// Whether a stretch holds more than white space, comments and the "<!--"
// and "-->" that old pages wrap their sheets in.
bool holdsRules(std::string_view css) {
    size_t i = 0;
    while (i < css.size()) {
        if (isCssSpace(css[i])) {
            ++i;
        } else if (css.compare(i, 2, "/*") == 0) {
            const size_t end = css.find("*/", i + 2);
            i = end == kNone ? css.size() : end + 2;
        } else if (css.compare(i, 4, "<!--") == 0) {
            i += 4;
        } else if (css.compare(i, 3, "-->") == 0) {
            i += 3;
        } else {
            return true;
        }
    }
    return false;
}

void addPlainPiece(std::string_view css, std::vector<DraftStyles::Piece>& pieces) {
    if (holdsRules(css)) {
        pieces.push_back({"", std::string(css)});
    }
}

// One query of a media list: its type ("" for none) and its conditions.
struct MediaQuery {
    std::string type;
    std::string conditions;
};

// False for a "not" query, which no "and" can narrow.
bool readMediaQuery(std::string_view text, MediaQuery& out) {
    std::string_view rest = trimmed(text);
    const auto word = [&rest]() {
        const size_t end = std::min(rest.find_first_of(" \t\r\n\f("), rest.size());
        return lowered(rest.substr(0, end));
    };
    if (word() == "not") {
        return false;
    }
    if (word() == "only") {
        rest = trimmed(rest.substr(4));
    }
    out = {};
    if (!rest.empty() && rest.front() != '(') {
        out.type = word();
        rest = trimmed(rest.substr(out.type.size()));
        if (lowered(rest.substr(0, 3)) == "and") {
            rest = trimmed(rest.substr(3));
        }
        out.type = out.type == "all" ? "" : out.type;
    }
    out.conditions = rest;
    // "(a) or (b)" is one condition only inside parentheses.
    if (lowered(out.conditions).find(" or ") != kNone) {
        out.conditions = "(" + out.conditions + ")";
    }
    return true;
}

// The pieces of a media list between its top-level commas.
std::vector<std::string_view> mediaList(std::string_view list) {
    std::vector<std::string_view> queries;
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i <= list.size(); ++i) {
        if (i == list.size() || (list[i] == ',' && depth == 0)) {
            if (!trimmed(list.substr(start, i - start)).empty()) {
                queries.push_back(list.substr(start, i - start));
            }
            start = i + 1;
        } else {
            depth += list[i] == '(' ? 1 : list[i] == ')' ? -1 : 0;
        }
    }
    return queries;
}

bool isAllMedia(std::string_view media) {
    const std::string text = lowered(trimmed(media));
    return text.empty() || text == "all";
}

// Both queries at once; false when their media types exclude each other.
bool bothQueries(const MediaQuery& a, const MediaQuery& b, std::string& out) {
    if (!a.type.empty() && !b.type.empty() && a.type != b.type) {
        return false;
    }
    std::vector<std::string> parts;
    for (const std::string& part : {a.type.empty() ? b.type : a.type, a.conditions, b.conditions}) {
        if (!part.empty()) {
            parts.push_back(part);
        }
    }
    out.clear();
    for (const std::string& part : parts) {
        out += (out.empty() ? "" : " and ") + part;
    }
    if (out.empty()) {
        out = "all";
    }
    return true;
}

} // namespace

std::string DraftStyles::inlineContentIds(std::string_view css, CssReferences::Context context,
                                          const DataUrlLookup& lookup) {
    if (findNoCaseFrom(css, "cid:", 0) == kNone) {
        return std::string(css);
    }
    CssReferences::Callbacks callbacks;
    callbacks.url = [&lookup](const std::string& address, std::string& replacement) {
        return dataAddressFor(address, lookup, replacement);
    };
    callbacks.import = [&lookup](const std::string& address, std::string& sheet) {
        return dataAddressFor(address, lookup, sheet) ? CssReferences::ImportAction::Rewrite
                                                      : CssReferences::ImportAction::Keep;
    };
    return CssReferences::rewrite(css, context, callbacks);
}

std::vector<DraftStyles::Piece> DraftStyles::splitTopLevelMedia(std::string_view css) {
    std::vector<Piece> pieces;
    size_t plainStart = 0;
    size_t i = 0;
    int depth = 0;
    while (i < css.size()) {
        const size_t behind = behindOpaque(css, i);
        if (behind != i) {
            i = behind;
            continue;
        }
        const char c = css[i];
        if (depth == 0 && mediaRuleAt(css, i)) {
            const size_t open = findAtSameDepth(css, i + kMediaKeyword.size(), "{;");
            if (open < css.size() && css[open] == '{') {
                const size_t close = closingBrace(css, open);
                addPlainPiece(css.substr(plainStart, i - plainStart), pieces);
                const std::string_view prelude =
                    css.substr(i + kMediaKeyword.size(), open - i - kMediaKeyword.size());
                pieces.push_back(
                    {mediaQueryText(prelude), std::string(css.substr(open + 1, close - open - 1))});
                i = std::min(close + 1, css.size());
                plainStart = i;
                continue;
            }
        }
        depth += c == '{' ? 1 : (c == '}' && depth > 0) ? -1 : 0;
        ++i;
    }
    if (pieces.empty()) {
        pieces.push_back({"", std::string(css)});
        return pieces;
    }
    addPlainPiece(css.substr(plainStart), pieces);
    return pieces;
}

bool DraftStyles::combineMedia(std::string_view outer, std::string_view inner, std::string& out) {
    if (isAllMedia(outer)) {
        out = trimmed(inner);
        return true;
    }
    if (isAllMedia(inner)) {
        out = trimmed(outer);
        return true;
    }
    std::string combined;
    for (const std::string_view outerText : mediaList(outer)) {
        MediaQuery outerQuery;
        if (!readMediaQuery(outerText, outerQuery)) {
            return false;
        }
        for (const std::string_view innerText : mediaList(inner)) {
            MediaQuery innerQuery;
            std::string both;
            if (!readMediaQuery(innerText, innerQuery)) {
                return false;
            }
            if (bothQueries(outerQuery, innerQuery, both)) {
                combined += (combined.empty() ? "" : ", ") + both;
            }
        }
    }
    // Types that exclude each other: the rules apply nowhere.
    out = combined.empty() ? "not all" : combined;
    return true;
}
