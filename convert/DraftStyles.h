#pragma once

#include "convert/CssReferences.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The style text of a message that a mail program opens as a draft, in the
// forms its compose window keeps: a CSS url() that names a part by "cid:"
// is lost there while a data: address survives, and rules inside "@media"
// blocks are dropped while a style element with a media attribute is kept.
// Pure text functions, so that each form can be checked on its own.
class DraftStyles {
public:
    // The data: address that takes the place of "cid:" + contentId (the id
    // without angle brackets); empty when the id names no part.
    using DataUrlLookup = std::function<std::string(std::string_view contentId)>;

    // Every url() value and @import address of css that names a part by
    // "cid:" (any letter case, any quoting, a fragment kept), written as the
    // part's data: address; everything else, strings and comments
    // included, is copied unchanged.
    static std::string inlineContentIds(std::string_view css, CssReferences::Context context,
                                        const DataUrlLookup& lookup);

    // One stretch of a style block: rules outside any @media (media empty),
    // or the body of one top-level @media block with its query.
    struct Piece {
        std::string media;
        std::string css;
        bool operator==(const Piece& other) const = default;
    };
    // The block cut at its top-level @media rules, in source order, so that
    // each becomes a style element of its own and the cascade keeps its
    // order. Stretches of nothing but white space, comments, "<!--" and
    // "-->" are left out; a sheet
    // without @media is one piece. Nested at-rules stay as they are.
    static std::vector<Piece> splitTopLevelMedia(std::string_view css);

    // The media of a rule inside "@media inner" of a style element whose
    // media attribute is outer (empty: none). False when the two cannot be
    // written as one list (a "not" query), so that the rule is kept where
    // it is.
    static bool combineMedia(std::string_view outer, std::string_view inner, std::string& out);
};
