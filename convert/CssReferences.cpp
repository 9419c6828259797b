// The CSS scanner behind CssUrls.cpp: it finds every url(), @import and
// @font-face source of a style text and asks the converter what replaces it.

#include "CssReferences.h"

#include "convert/ConvertText.h"
#include "foundation/StringBuffer.h"

#include <utility>
#include <vector>

namespace {

constexpr size_t kNone = std::string_view::npos;
constexpr int kOtherFont = 3;

// A character that continues a CSS name, so that "url(" inside "myurl(" or
// "@import" inside "@imports" is no token of its own.
bool isNameChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '-' ||
           c == '_' || c == '\\' || u >= 0x80;
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// word is given in lower case.
bool hasWordAt(std::string_view s, size_t pos, std::string_view word) {
    if (pos > s.size() || s.size() - pos < word.size()) {
        return false;
    }
    for (size_t i = 0; i < word.size(); ++i) {
        if (lowerAscii(s[pos + i]) != word[i]) {
            return false;
        }
    }
    return true;
}

bool endsWith(std::string_view s, std::string_view end) {
    return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

std::string_view trimmed(std::string_view s) {
    size_t start = 0;
    size_t end = s.size();
    while (start < end && isCssSpace(s[start])) {
        ++start;
    }
    while (end > start && isCssSpace(s[end - 1])) {
        --end;
    }
    return s.substr(start, end - start);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char lower = lowerAscii(c);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

void appendUtf8(std::string& out, unsigned long code) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        code = 0xFFFD;
    }
    char bytes[4];
    out.append(bytes, static_cast<size_t>(encodeUtf8(static_cast<uint32_t>(code), bytes)));
}

// The address a CSS reader takes from the text: "\(" is "(", "\20 " is a
// blank, and an escaped line break continues the line.
std::string withoutCssEscapes(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char next = s[++i];
        if (next == '\n' || next == '\f') {
            continue;
        }
        if (next == '\r') {
            i += i + 1 < s.size() && s[i + 1] == '\n' ? 1 : 0;
            continue;
        }
        if (hexValue(next) < 0) {
            out += next;
            continue;
        }
        unsigned long code = 0;
        size_t digits = 0;
        for (; digits < 6 && i < s.size() && hexValue(s[i]) >= 0; ++digits, ++i) {
            code = code * 16 + static_cast<unsigned long>(hexValue(s[i]));
        }
        if (i + 1 < s.size() && s[i] == '\r' && s[i + 1] == '\n') {
            ++i;
        } else if (i < s.size() && !isCssSpace(s[i])) {
            --i;
        }
        appendUtf8(out, code);
    }
    return out;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = lowerAscii(c);
    }
    return out;
}

// Behind the comment that begins at pos ("/*"): behind its "*/", else the end.
size_t skipComment(std::string_view s, size_t pos) {
    const size_t end = s.find("*/", pos + 2);
    return end == kNone ? s.size() : end + 2;
}

bool commentAt(std::string_view s, size_t pos) {
    return s[pos] == '/' && pos + 1 < s.size() && s[pos + 1] == '*';
}

bool quoteAt(std::string_view s, size_t pos) {
    return s[pos] == '"' || s[pos] == '\'';
}

// Behind the string whose quote stands at pos. An unclosed string ends before
// its line break, or at the end; closed says which it was.
size_t skipString(std::string_view s, size_t pos, bool* closed = nullptr) {
    const char quote = s[pos];
    size_t i = pos + 1;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '\\') {
            i += 2;
            continue;
        }
        if (c == quote) {
            if (closed != nullptr) {
                *closed = true;
            }
            return i + 1;
        }
        if (c == '\n') {
            break;
        }
        ++i;
    }
    if (closed != nullptr) {
        *closed = false;
    }
    return i < s.size() ? i : s.size();
}

size_t skipSpaceAndComments(std::string_view s, size_t pos) {
    while (pos < s.size()) {
        if (isCssSpace(s[pos])) {
            ++pos;
        } else if (commentAt(s, pos)) {
            pos = skipComment(s, pos);
        } else {
            break;
        }
    }
    return pos;
}

// The first position from i that stands outside comments and strings.
size_t plainAt(std::string_view s, size_t i) {
    while (i < s.size()) {
        if (commentAt(s, i)) {
            i = skipComment(s, i);
        } else if (quoteAt(s, i)) {
            i = skipString(s, i);
        } else {
            break;
        }
    }
    return i;
}

// The closer that matches the opener at pos, strings and comments stepped
// over; the end of the text when there is none.
size_t closingBracket(std::string_view s, size_t pos, char opener, char closer) {
    int depth = 0;
    for (size_t i = plainAt(s, pos); i < s.size(); i = plainAt(s, i + 1)) {
        if (s[i] == opener) {
            ++depth;
        } else if (s[i] == closer && --depth == 0) {
            return i;
        }
    }
    return s.size();
}

size_t closingParenthesis(std::string_view s, size_t pos) {
    return closingBracket(s, pos, '(', ')');
}

size_t closingBrace(std::string_view s, size_t pos) {
    return closingBracket(s, pos, '{', '}');
}

// The first position from pos that stands outside comments, strings and
// parentheses and holds one of the characters of stops; s.size() when none.
size_t findTopLevel(std::string_view s, size_t pos, std::string_view stops) {
    int depth = 0;
    for (size_t i = plainAt(s, pos); i < s.size(); i = plainAt(s, i + 1)) {
        const char c = s[i];
        if (c == '(') {
            ++depth;
        } else if (c == ')' && depth > 0) {
            --depth;
        } else if (depth == 0 && stops.find(c) != kNone) {
            return i;
        }
    }
    return s.size();
}

// The pieces of s between the separators that stand outside comments,
// strings and parentheses; with keepSeparator each piece keeps its own.
std::vector<std::string_view> splitTopLevel(std::string_view s, char separator,
                                            bool keepSeparator) {
    const std::string_view stops(&separator, 1);
    std::vector<std::string_view> pieces;
    size_t start = 0;
    for (size_t at = findTopLevel(s, 0, stops); at < s.size(); at = findTopLevel(s, start, stops)) {
        pieces.push_back(s.substr(start, at - start + (keepSeparator ? 1 : 0)));
        start = at + 1;
    }
    if (start < s.size()) {
        pieces.push_back(s.substr(start));
    }
    return pieces;
}

bool urlStartsAt(std::string_view s, size_t pos) {
    return hasWordAt(s, pos, "url(") && (pos == 0 || !isNameChar(s[pos - 1]));
}

struct UrlToken {
    size_t start = 0;      // the "u" of "url("
    size_t valueStart = 0; // behind "("
    size_t valueEnd = 0;   // at ")"
};

// A url() token at pos: a quoted value must be followed by ")" (white space
// aside); an unquoted one runs to the next ")". False when there is none.
bool readUrl(std::string_view s, size_t pos, UrlToken& token) {
    const size_t valueStart = pos + 4;
    size_t p = valueStart;
    while (p < s.size() && isCssSpace(s[p])) {
        ++p;
    }
    if (p < s.size() && quoteAt(s, p)) {
        bool closed = false;
        p = skipString(s, p, &closed);
        if (!closed) {
            return false;
        }
        while (p < s.size() && isCssSpace(s[p])) {
            ++p;
        }
        if (p >= s.size() || s[p] != ')') {
            return false;
        }
    } else {
        while (p < s.size() && s[p] != ')') {
            p += s[p] == '\\' ? 2 : 1;
        }
        if (p >= s.size()) {
            return false;
        }
    }
    token = {pos, valueStart, p};
    return true;
}

// The first url() token of s that stands outside comments and strings.
bool findUrl(std::string_view s, UrlToken& token) {
    for (size_t i = plainAt(s, 0); i < s.size(); i = plainAt(s, i + 1)) {
        if (urlStartsAt(s, i) && readUrl(s, i, token)) {
            return true;
        }
    }
    return false;
}

// The name of a declaration ("src" in " src : url(a)"), in lower case, and
// where its ":" stands; an empty name when the text is no declaration.
std::string declarationName(std::string_view declaration, size_t& colon) {
    size_t p = skipSpaceAndComments(declaration, 0);
    const size_t nameStart = p;
    while (p < declaration.size() && isNameChar(declaration[p])) {
        ++p;
    }
    const size_t nameEnd = p;
    p = skipSpaceAndComments(declaration, p);
    if (nameEnd == nameStart || p >= declaration.size() || declaration[p] != ':') {
        return {};
    }
    colon = p;
    return lowered(declaration.substr(nameStart, nameEnd - nameStart));
}

int preferenceOfFormat(std::string_view hint) {
    if (hint.substr(0, 5) == "woff2") {
        return 0;
    }
    if (hint.substr(0, 4) == "woff") {
        return 1;
    }
    if (hint.substr(0, 8) == "truetype" || hint.substr(0, 8) == "opentype") {
        return 2;
    }
    return kOtherFont;
}

int preferenceOfAddress(std::string_view address) {
    const size_t cut = address.find_first_of("?#");
    const std::string path = lowered(address.substr(0, cut));
    if (endsWith(path, ".woff2")) {
        return 0;
    }
    if (endsWith(path, ".woff")) {
        return 1;
    }
    if (endsWith(path, ".ttf") || endsWith(path, ".otf")) {
        return 2;
    }
    return kOtherFont;
}

// The hint of a format() in s, in lower case, without quotes; false when
// there is no format().
bool formatHint(std::string_view s, std::string& hint) {
    for (size_t i = plainAt(s, 0); i < s.size(); i = plainAt(s, i + 1)) {
        if (hasWordAt(s, i, "format(") && (i == 0 || !isNameChar(s[i - 1]))) {
            const size_t open = i + 6;
            const size_t close = closingParenthesis(s, open);
            std::string_view inner = trimmed(s.substr(open + 1, close - open - 1));
            if (!inner.empty() && quoteAt(inner, 0)) {
                const size_t end = skipString(inner, 0);
                inner = inner.substr(1, end > 1 ? end - 2 : 0);
            }
            hint = lowered(trimmed(inner));
            return true;
        }
    }
    return false;
}

class Rewriter {
public:
    Rewriter(CssReferences::Context context, const CssReferences::Callbacks& callbacks)
        : m_context(context), m_callbacks(callbacks) {}

    void rewrite(std::string_view s, std::string& out) const {
        size_t i = 0;
        while (i < s.size()) {
            const char c = s[i];
            if (commentAt(s, i)) {
                const size_t end = skipComment(s, i);
                out.append(s.substr(i, end - i));
                i = end;
            } else if (quoteAt(s, i)) {
                const size_t end = skipString(s, i);
                out.append(s.substr(i, end - i));
                i = end;
            } else if (c == '@' && m_context == CssReferences::Context::Sheet &&
                       (tryImport(s, i, out) ||
                        (m_callbacks.chooseFontSource && tryFontFace(s, i, out)))) {
                // i moved behind the rule
            } else if ((c == 'u' || c == 'U') && urlStartsAt(s, i) && tryUrl(s, i, out)) {
                // i moved behind the url() token
            } else {
                out.push_back(c);
                ++i;
            }
        }
    }

private:
    bool tryUrl(std::string_view s, size_t& i, std::string& out) const {
        UrlToken token;
        if (!readUrl(s, i, token)) {
            return false;
        }
        emitUrl(s, token, out);
        i = token.valueEnd + 1;
        return true;
    }

    void emitUrl(std::string_view s, const UrlToken& token, std::string& out) const {
        const std::string_view value =
            s.substr(token.valueStart, token.valueEnd - token.valueStart);
        out.append(s.substr(token.start, token.valueStart - token.start));
        std::string replacement;
        if (m_callbacks.url &&
            m_callbacks.url(CssReferences::urlAddress(value, m_context), replacement)) {
            out.append(replacement);
        } else {
            out.append(value);
        }
        out.push_back(')');
    }

    bool tryImport(std::string_view s, size_t& i, std::string& out) const {
        const size_t keywordEnd = i + 7;
        if (!hasWordAt(s, i + 1, "import") ||
            (keywordEnd < s.size() && isNameChar(s[keywordEnd]))) {
            return false;
        }
        size_t p = skipSpaceAndComments(s, keywordEnd);
        const size_t addressStart = p;
        std::string address;
        UrlToken token;
        if (urlStartsAt(s, p) && readUrl(s, p, token)) {
            address = CssReferences::urlAddress(
                s.substr(token.valueStart, token.valueEnd - token.valueStart), m_context);
            p = token.valueEnd + 1;
        } else if (p < s.size() && quoteAt(s, p)) {
            bool closed = false;
            const size_t end = skipString(s, p, &closed);
            if (!closed) {
                return false;
            }
            address = std::string(trimmed(s.substr(p + 1, end - p - 2)));
            p = end;
        } else {
            return false;
        }
        const size_t conditionsEnd = endOfRule(s, p);
        const size_t ruleEnd =
            conditionsEnd < s.size() && s[conditionsEnd] == ';' ? conditionsEnd + 1 : conditionsEnd;
        std::string sheet;
        const CssReferences::ImportAction action = m_callbacks.import
                                                       ? m_callbacks.import(address, sheet)
                                                       : CssReferences::ImportAction::Keep;
        if (action == CssReferences::ImportAction::Inline) {
            out.append(CssReferences::wrapImported(s.substr(p, conditionsEnd - p), sheet));
        } else if (action == CssReferences::ImportAction::Rewrite) {
            out.append(s.substr(i, addressStart - i));
            out.append("url(" + sheet + ")");
            out.append(s.substr(p, ruleEnd - p));
        } else if (action == CssReferences::ImportAction::Keep) {
            out.append(s.substr(i, ruleEnd - i));
        }
        i = ruleEnd;
        return true;
    }

    // Where the conditions of an @import end: at its ";", or before a brace
    // or a "<" (the end of the style element) that comes first.
    static size_t endOfRule(std::string_view s, size_t pos) { return findTopLevel(s, pos, ";{}<"); }

    bool tryFontFace(std::string_view s, size_t& i, std::string& out) const {
        const size_t keywordEnd = i + 10;
        if (!hasWordAt(s, i + 1, "font-face") ||
            (keywordEnd < s.size() && isNameChar(s[keywordEnd]))) {
            return false;
        }
        const size_t open = skipSpaceAndComments(s, keywordEnd);
        if (open >= s.size() || s[open] != '{') {
            return false;
        }
        const size_t close = closingBrace(s, open);
        out.append(s.substr(i, open + 1 - i));
        rewriteFontFaceBody(s.substr(open + 1, close - open - 1), out);
        if (close < s.size()) {
            out.push_back('}');
            i = close + 1;
        } else {
            i = s.size();
        }
        return true;
    }

    // Only the last src declaration of a rule counts (an earlier one is the
    // fallback of old browsers); it alone stays, with one entry.
    void rewriteFontFaceBody(std::string_view body, std::string& out) const {
        const std::vector<std::string_view> declarations = splitTopLevel(body, ';', true);
        size_t lastSource = kNone;
        for (size_t d = 0; d < declarations.size(); ++d) {
            size_t colon = 0;
            if (declarationName(declarations[d], colon) == "src") {
                lastSource = d;
            }
        }
        for (size_t d = 0; d < declarations.size(); ++d) {
            const std::string_view declaration = declarations[d];
            size_t colon = 0;
            const bool isSource = declarationName(declaration, colon) == "src";
            if (isSource && d != lastSource) {
                continue;
            }
            if (!isSource) {
                rewrite(declaration, out);
                continue;
            }
            const bool hasSemicolon = endsWith(declaration, ";");
            const size_t valueEnd = declaration.size() - (hasSemicolon ? 1 : 0);
            out.append(declaration.substr(0, colon + 1));
            rewriteFontSources(declaration.substr(colon + 1, valueEnd - colon - 1), out);
            if (hasSemicolon) {
                out.push_back(';');
            }
        }
    }

    // One font is one part: the entry of the list that a mail reader is
    // best served with stays, the others go.
    void rewriteFontSources(std::string_view list, std::string& out) const {
        const std::vector<std::string_view> entries = splitTopLevel(list, ',', false);
        size_t chosen = kNone;
        int best = kOtherFont + 1;
        for (size_t e = 0; e < entries.size(); ++e) {
            UrlToken token;
            if (!findUrl(entries[e], token)) {
                continue;
            }
            const int preference = CssReferences::fontPreference(entries[e]);
            if (preference < best) {
                best = preference;
                chosen = e;
            }
        }
        if (chosen == kNone) {
            rewrite(list, out);
            return;
        }
        const std::string_view entry = trimmed(entries[chosen]);
        const size_t lead = list.find_first_not_of(" \t\r\n\f");
        const size_t trail = list.find_last_not_of(" \t\r\n\f");
        out.append(list.substr(0, lead));
        rewrite(entry, out);
        out.append(list.substr(trail + 1));
    }

    CssReferences::Context m_context;
    const CssReferences::Callbacks& m_callbacks;
};

} // namespace

std::string CssReferences::rewrite(std::string_view css, Context context,
                                   const Callbacks& callbacks) {
    std::string out;
    out.reserve(css.size() + css.size() / 8);
    Rewriter(context, callbacks).rewrite(css, out);
    return out;
}

std::string CssReferences::urlAddress(std::string_view value, Context context) {
    std::string_view address = trimmed(value);
    if (context == Context::Attribute) {
        for (std::string_view quote : {"&quot;", "&#34;", "&#39;", "&apos;", "&#x22;", "&#x27;"}) {
            if (address.size() >= 2 * quote.size() && address.substr(0, quote.size()) == quote &&
                endsWith(address, quote)) {
                address = trimmed(address.substr(quote.size(), address.size() - 2 * quote.size()));
                break;
            }
        }
    }
    if (address.size() >= 2 && quoteAt(address, 0) && address.back() == address.front()) {
        address = address.substr(1, address.size() - 2);
    }
    address = trimmed(address);
    if (address.find('\\') == kNone) {
        return std::string(address);
    }
    return withoutCssEscapes(address);
}

size_t CssReferences::urlValueLength(std::string_view css, size_t pos) {
    UrlToken token;
    return readUrl(css, pos, token) ? token.valueEnd - token.valueStart : 0;
}

std::string CssReferences::wrapImported(std::string_view conditions, const std::string& sheet) {
    std::string_view rest = trimmed(conditions);
    std::vector<std::string> opened;
    if (hasWordAt(rest, 0, "layer") &&
        (rest.size() == 5 || rest[5] == '(' || isCssSpace(rest[5]))) {
        if (rest.size() > 5 && rest[5] == '(') {
            const size_t close = closingParenthesis(rest, 5);
            opened.push_back("@layer " + std::string(trimmed(rest.substr(6, close - 6))) + " {");
            rest = trimmed(rest.substr(close < rest.size() ? close + 1 : rest.size()));
        } else {
            opened.emplace_back("@layer {");
            rest = trimmed(rest.substr(5));
        }
    }
    if (hasWordAt(rest, 0, "supports(")) {
        const size_t close = closingParenthesis(rest, 8);
        opened.push_back("@supports (" + std::string(trimmed(rest.substr(9, close - 9))) + ") {");
        rest = trimmed(rest.substr(close < rest.size() ? close + 1 : rest.size()));
    }
    if (!rest.empty()) {
        opened.push_back("@media " + std::string(rest) + " {");
    }
    if (opened.empty()) {
        return sheet;
    }
    std::string out;
    for (const std::string& open : opened) {
        out += open;
        out += '\n';
    }
    out += sheet;
    for (size_t k = 0; k < opened.size(); ++k) {
        out += "\n}";
    }
    return out;
}

int CssReferences::fontPreference(std::string_view entry) {
    std::string hint;
    if (formatHint(entry, hint)) {
        return preferenceOfFormat(hint);
    }
    UrlToken token;
    if (!findUrl(entry, token)) {
        return kOtherFont;
    }
    return preferenceOfAddress(urlAddress(
        entry.substr(token.valueStart, token.valueEnd - token.valueStart), Context::Sheet));
}
