#include "mime/ContentTypes.h"

#include "foundation/StringBuffer.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

std::string lookup(const char* extension) {
    StringBuffer out;
    lookupContentType(extension, out);
    return out.getString();
}

TEST(ContentTypes, ValuesThatDecideHowPagesAreEmbedded) {
    const std::pair<const char*, const char*> cases[] = {
        {"gif", "image/gif"},
        {"jpe", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"jpg", "image/jpeg"},
        {"bmp", "image/bmp"},
        {"ico", "image/x-icon"},
        {"tif", "image/tiff"},
        {"tiff", "image/tiff"},
        {"css", "text/css"},
        {"htm", "text/html"},
        {"html", "text/html"},
        {"stm", "text/html"},
        {"txt", "text/plain"},
        {"js", "application/x-javascript"},
        {"mht", "message/rfc822"},
        {"mhtml", "message/rfc822"},
        {"nws", "message/rfc822"},
        {"swf", "application/x-shockwave-flash"},
        {"*", "application/octet-stream"},
        {"bin", "application/octet-stream"},
        {"class", "application/octet-stream"},
        {"exe", "application/octet-stream"},
        {"cdf", "application/x-cdf"},
        {"mp3", "audio/mpeg"},
        {"mp2", "video/mpeg"},
        {"mid", "audio/mid"},
        {"rmi", "audio/mid"},
        {"wav", "audio/x-wav"},
        {"avi", "video/x-msvideo"},
        {"wmf", "application/x-msmetafile"},
        {"pdf", "application/pdf"},
        {"doc", "application/msword"},
        {"xls", "application/vnd.ms-excel"},
        {"ppt", "application/vnd.ms-powerpoint"},
        {"zip", "application/zip"},
        {"z", "application/x-compress"},
        {"vrml", "x-world/x-vrml"},
        {"wrl", "x-world/x-vrml"},
    };
    for (const auto& [extension, type] : cases) {
        EXPECT_EQ(lookup(extension), type) << extension;
    }
}

TEST(ContentTypes, Misses) {
    const char* misses[] = {"GIF", "Jpg", "png", "xml",   "asp", "php",
                            "svg", "",    "jp",  "jpegs", "gi"};
    for (const char* extension : misses) {
        EXPECT_EQ(lookup(extension), "") << extension;
    }
    EXPECT_EQ(lookup(nullptr), "");
}

TEST(ContentTypes, RestOfTheKeyIgnoresCase) {
    EXPECT_EQ(lookup("gIF"), "image/gif");
    EXPECT_EQ(lookup("hTmL"), "text/html");
}

TEST(ContentTypes, AppendsWithoutClearing) {
    StringBuffer out("type=");
    lookupContentType("css", out);
    EXPECT_STREQ(out.getString(), "type=text/css");
}

TEST(ContentTypes, TableHas191RowsInKeyOrderAndATerminator) {
    const char* const keys[] = {
        "evy",    "fif",   "swf",     "spl",  "hta",   "acx",     "hqx",    "doc", "dot",
        "*",      "bin",   "class",   "dms",  "exe",   "lha",     "lzh",    "oda", "axs",
        "pdf",    "prf",   "p10",     "crl",  "ai",    "eps",     "ps",     "rtf", "setpay",
        "setreg", "xla",   "xlc",     "xlm",  "xls",   "xlt",     "xlw",    "sst", "cat",
        "stl",    "pot",   "pps",     "ppt",  "mpp",   "wcm",     "wdb",    "wks", "wps",
        "hlp",    "bcpio", "cdf",     "z",    "tgz",   "cpio",    "csh",    "dcr", "dir",
        "dxr",    "dvi",   "gtar",    "gz",   "hdf",   "ins",     "isp",    "iii", "js",
        "latex",  "mdb",   "crd",     "clp",  "dll",   "m13",     "m14",    "mvb", "wmf",
        "mny",    "pub",   "scd",     "trm",  "wri",   "cdf",     "nc",     "pma", "pmc",
        "pml",    "pmr",   "pmw",     "p12",  "pfx",   "p7b",     "spc",    "p7r", "p7c",
        "p7m",    "p7s",   "sh",      "shar", "sit",   "sv4cpio", "sv4crc", "tar", "tcl",
        "tex",    "texi",  "texinfo", "roff", "t",     "tr",      "man",    "me",  "ms",
        "ustar",  "src",   "cer",     "crt",  "der",   "pko",     "zip",    "au",  "snd",
        "mid",    "rmi",   "mp3",     "aif",  "aifc",  "aiff",    "m3u",    "ra",  "ram",
        "wav",    "bmp",   "cod",     "gif",  "ief",   "jpe",     "jpeg",   "jpg", "jfif",
        "tif",    "tiff",  "ras",     "cmx",  "ico",   "pnm",     "pbm",    "pgm", "ppm",
        "rgb",    "xbm",   "xpm",     "xwd",  "mht",   "mhtml",   "nws",    "css", "323",
        "htm",    "html",  "stm",     "uls",  "bas",   "c",       "cpp",    "h",   "hpp",
        "txt",    "rtx",   "sct",     "tsv",  "htt",   "htc",     "etx",    "vcf", "mp2",
        "mpa",    "mpe",   "mpeg",    "mpg",  "mpv2",  "mov",     "qt",     "lsf", "lsx",
        "asf",    "asr",   "asx",     "avi",  "movie", "flr",     "vrml",   "wrl", "wrz",
        "xaf",    "xof",
    };
    ASSERT_EQ(sizeof keys / sizeof keys[0], 191u);
    for (int i = 0; i < kContentTypeRowCount; ++i) {
        EXPECT_STREQ(kContentTypeTable[i].extension, keys[i]) << "row " << i;
        EXPECT_NE(kContentTypeTable[i].contentType[0], 0) << "row " << i;
    }
    EXPECT_STREQ(kContentTypeTable[kContentTypeRowCount].extension, "");
    EXPECT_STREQ(kContentTypeTable[kContentTypeRowCount].contentType, "");
    // The second cdf row keeps its own type but is never reached.
    EXPECT_STREQ(kContentTypeTable[77].extension, "cdf");
    EXPECT_STREQ(kContentTypeTable[77].contentType, "application/x-netcdf");
}

TEST(ContentTypes, RowsOfOneTypeStandTogether) {
    std::set<std::string> finished;
    std::string current;
    for (int i = 0; i < kContentTypeRowCount; ++i) {
        const std::string type = kContentTypeTable[i].contentType;
        if (type != current) {
            EXPECT_EQ(finished.count(type), 0u) << type << " appears again at row " << i;
            finished.insert(current);
            current = type;
        }
    }
}

} // namespace
