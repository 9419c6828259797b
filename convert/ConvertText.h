#pragma once

#include <string>
#include <string_view>

class StringBuffer;

// The marker texts and the small text helpers that every stage of the
// converter shares. Each exists here once, so that a stage that writes a
// marker and the stage that finds it again cannot drift apart.

// A content-id is this prefix and a new UUID; in HTML it stands behind "cid:".
inline constexpr const char* kContentIdPrefix = "VANTREL-CID-";
// The clean-up takes style and script blocks out of the document and puts
// these in their place, so that the tag passes cannot touch their text.
inline constexpr const char* kStylePlaceholder = "<vantrel_style>";
inline constexpr const char* kScriptPlaceholder = "<vantrel_script>";
// Stands for "background-image" while the CSS background pass runs, so that
// a property it has handled is not found again.
inline constexpr const char* kCssHandledMarker = "ab8s9asdfsld";

// True for an http: or https: address (any case).
bool isWebUrl(const char* url);

// White space as CSS knows it.
bool isCssSpace(char c);

// A style sheet is put into the page as the text of a STYLE element, which
// ends at the first "</style"; escaped as CSS allows ("<\/style"), the text
// cannot end the element and bring markup (a script) into the page.
void keepInsideStyleElement(std::string& css);
void keepInsideStyleElement(StringBuffer& css);
