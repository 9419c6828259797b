#pragma once

#include <string>
#include <vector>

// The reader for the session files of Chromium and Chrome (SNSS), as a pure
// function over bytes: a truncated or hostile file gives the URLs of the
// commands that were whole, never a crash.
//
// The file is "SNSS", a 32-bit version (1 or 3), then commands, each a
// 16-bit little-endian size, a one-byte id and size - 1 bytes of payload.
// The commands replay the session: tabs join windows, navigations are added
// and pruned, the selected navigation moves, tabs and windows close.

// The current URL of every tab still open when the commands end, ordered by
// window (first seen first) and by the tab's index in its window.
std::vector<std::string> chromiumSessionUrls(const std::string& bytes);
