#pragma once

#include <string>
#include <sys/types.h>

// What the program must not leave behind when it is interrupted (SIGINT,
// SIGTERM, SIGHUP): its private temporary folders, which may hold copies of
// a browser's cookies, and the browsers it started. The handler only wakes
// a thread of its own, which removes them and then ends the program as the
// signal would have; a program that never calls installInterruptCleanup
// keeps the signals' usual effect, and the registrations cost nothing.
void installInterruptCleanup();

void registerTempFolder(const std::string& path);
void unregisterTempFolder(const std::string& path);

// A process group that a signal must end (the browser and its helpers).
void registerProcessGroup(pid_t group);
void unregisterProcessGroup(pid_t group);
