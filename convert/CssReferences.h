#pragma once

#include <functional>
#include <string>
#include <string_view>

// The references a style text makes, found by a light CSS scan (comments and
// strings are stepped over, so a url() in either is left alone) and handed
// to the caller, who says what takes their place:
// - every url() value, whatever the property or rule;
// - every @import rule, in its url() and its string form, with its media
//   list (and the layer and supports conditions newer sheets add);
// - the src list of every @font-face rule, of which one entry is kept.
// The text around them is copied unchanged.
class CssReferences {
public:
    // Where the text stands. In a style attribute quotes may also be written
    // as character references (&quot;), and there are no rules.
    enum class Context { Sheet, Attribute };

    enum class ImportAction {
        Inline,  // the sheet text takes the place of the rule
        Drop,    // the rule is removed
        Keep,    // the rule stays as it is
        Rewrite, // the rule stays, its address replaced by the text in sheet
    };

    struct Callbacks {
        // address: the url() value without surrounding white space and one
        // pair of quotes. True with the text that replaces the whole value
        // (quotes included); false leaves the value as it is.
        std::function<bool(const std::string& address, std::string& replacement)> url;
        // address: the imported sheet's address. With Inline, sheet holds
        // the text to put in its place (wrapped here in its conditions);
        // with Rewrite, the address to write as url() instead of its own.
        std::function<ImportAction(const std::string& address, std::string& sheet)> import;
        // Keeps one entry of every @font-face src list (the complete mode,
        // which sends the font); off, font rules are read like any other.
        bool chooseFontSource = false;
    };

    static std::string rewrite(std::string_view css, Context context, const Callbacks& callbacks);

    // The address of a url() value: white space and one pair of matching
    // quotes (in an attribute also &quot; &#34; &#39; &apos;) taken off, and
    // CSS escapes ("\(", "\20 ") read as the characters they stand for.
    static std::string urlAddress(std::string_view value, Context context);

    // The length of the value of the url() token whose "u" stands at pos of
    // css, up to its closing ")"; 0 when the token is not closed.
    static size_t urlValueLength(std::string_view css, size_t pos);

    // The text that takes the place of an @import rule: the sheet alone, or
    // inside "@media LIST {" ... "}" when the rule names media (and inside
    // @layer and @supports blocks for those conditions). conditions is the
    // rule's text behind its address, without the closing ";".
    static std::string wrapImported(std::string_view conditions, const std::string& sheet);

    // The preference of one @font-face src entry: 0 woff2, 1 woff,
    // 2 truetype or opentype, 3 anything else (local(), eot, svg). The
    // format() hint decides; without one, the extension of the address.
    static int fontPreference(std::string_view entry);
};
