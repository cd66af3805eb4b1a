// "-" as a FILE argument: the loaders and the save work on files, so standard input is first
// copied into a private temporary file, and a save to "-" is written to one and then copied to
// standard output. The temporary folder goes when the program ends.
#pragma once

#include <string>

namespace qmx::cli {

// True for the "-" that names standard input or output.
inline bool isStdio(const std::string& path) {
    return path == "-";
}

// Copies all of standard input into a temporary file once (later calls return the same
// file); its path, or empty with `error` set when it could not be made.
std::string stdinAsFile(std::string& error);

// A path to save into that is then sent to standard output by copyToStdout.
std::string stdoutSpoolFile(std::string& error);
// Writes the spool file's bytes to standard output; false (with `error`) when that fails.
bool copyToStdout(const std::string& spool, std::string& error);

}  // namespace qmx::cli
