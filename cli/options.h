// cli/options.h: the console program's command line, read into the choices
// of one run. Reads nothing but the arguments it is given: the start folder
// is checked, and made absolute, by the caller.
#pragma once
#include <string>
#include <vector>

#include "listing.h"

// Everything the command line can ask for; what it leaves alone keeps the
// request's defaults.
struct CommandLine {
    bool help = false;
    bool version = false;
    bool quiet = false;
    std::vector<std::wstring> folders;  // as given; none: the current folder
    std::wstring output;  // empty: a standard stream, as below
    bool toStandardError = false;  // -o /dev/stderr: the listing goes to standard error
    ListingRequest request;  // the listing's choices; the caller sets the folder and the output
};

// Reads the arguments that follow the program's name. On a usage error it
// returns false with a one-line reason in `error`, in the program's own
// words (never the parser's).
bool ReadCommandLine(const std::vector<std::wstring> &arguments, CommandLine *line,
                     std::wstring *error);

// The text of --help: usage, every option, the wildcard rule, exit codes.
const char *HelpText();
