#pragma once

// Runs the converter from the command line: `pagewing [options] URL-OR-FILE`.
// Returns the process exit status: 0 when the message was written, 1 when
// the conversion failed, 2 for a usage error.
int runCommandLine(int argc, char** argv);
