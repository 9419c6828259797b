#pragma once

#include <string>

// Where the command line's page comes from, told from its argument the way
// a shell user means it: "-" is standard input, a file that exists is read,
// an http(s) URL or a bare host name ("example.org/page") is fetched.
struct PageSource {
    enum class Kind { StandardInput, File, Url };

    Kind kind = Kind::File;
    // The file's name, or the URL fetched: "http://" in front of a bare host
    // name, the host in its ASCII (IDNA) form.
    std::string address;
};

// False (problem set) when the argument names a host that has no ASCII
// form.
bool choosePageSource(const std::string& argument, PageSource& source, std::string& problem);

// A host name in its ASCII form: names in other scripts become their IDNA
// ("xn--") form, ASCII names stay as they are. False (problem set) when the
// name is no valid international host name.
bool asciiHostName(const std::string& host, std::string& ascii, std::string& problem);

// The URL with its host in ASCII form (see asciiHostName).
bool asciiHostUrl(const std::string& url, std::string& ascii, std::string& problem);

// Every byte of standard input; false (problem set) when a read fails or
// the page is too large for the converter.
bool readStandardInput(std::string& bytes, std::string& problem);
