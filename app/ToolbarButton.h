#pragma once

#include "app/NativeHostManifests.h"

#include <string>

// The browser toolbar button: the seven values that name the program as a
// toolbar button and menu entry, and, since on this desktop those values
// start nothing by themselves, a desktop entry that makes the program the
// handler of "pagewing:" URLs (which the bookmarklet sends).

inline constexpr const char* kToolbarKeyPath =
    "Software/Microsoft/Internet Explorer/Extensions/{6C1E52A9-8B3D-4F07-A1C4-39D5E7B20F68}";
inline constexpr const char* kToolbarButtonClsid = "{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}";

// The program's own file (/proc/self/exe); "" when it cannot be read.
std::string ownProgramPath();

// What the registration did, for the user to read.
struct ToolbarButtonReport {
    bool schemeHandler = false; // "pagewing:" links start the program
    HostManifestsReport manifests;
    std::string extensionFolder; // "" when the extension's files are not found
};

// Stores the values, installs the desktop entry, and writes the native
// host manifests through which the browser extension starts the program.
ToolbarButtonReport registerToolbarButton();

// The message box text: what was written, and how to add the extension to
// each browser.
std::string toolbarButtonMessage(const ToolbarButtonReport& report);
