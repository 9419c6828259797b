#pragma once

class StringBuffer;

// Removes a "file:" prefix (compared without regard to case) from the front
// of text and returns true when text began with it.
//
// A prefix that ends in "/" keeps that "/" unless a drive letter follows
// ("C:" or the old form "C|"): "file:///C|/dir/a.htm" gives "C|/dir/a.htm"
// as written for drive-letter systems, while "file:///home/a.htm" names the
// absolute path "/home/a.htm" here and must not become a relative one.
bool stripFileUrlPrefix(StringBuffer& text, const char* prefix);

// Strips "file:///", then "file://", then "file:/", then "file:", each test
// applied to what the one before left.
void stripFileUrlPrefixes(StringBuffer& text);

// A "file:" URL without its prefix and without the host "localhost"; any
// other text as it is.
void stripFileUrl(StringBuffer& text);

// The path of the file that a local reference names, as a browser opens it:
// a "file:" URL without its prefix (and without the host "localhost"), and
// percent-escapes read as the bytes they stand for ("a%20b.png" names
// "a b.png").
void localFilePath(const char* reference, StringBuffer& path);

// Replaces every "%" and two hexadecimal digits by the byte they stand for;
// other "%" signs stay. A "%00" becomes a NUL byte, which ends the text
// where it is read as a C string (a path).
void decodePercentEscapes(StringBuffer& text);
