// filtercheck's command line: options, the documents they name, a line per failed check and the
// summary. The filter comes from the caller, so that tests can hand in one of their own.
#pragma once

#include "tools/filtercheck/checks.h"

#include <functional>
#include <string>

enum FilterCheckStatus { CheckPassed = 0, CheckFailed = 1, CheckUsage = 2 };

// Finds the filter to check: `module` is --module's path (WTF-8; empty without it, and always
// on Linux). False, with the reason, when there is none.
using FindSubject =
    std::function<bool(const std::string& module, StartThread* start, std::string* error)>;

struct CommandOutput {
    std::function<void(const std::string&)> Out;  // failed checks, the summary, --help
    std::function<void(const std::string&)> Err;  // usage errors
};

// Runs filtercheck with the arguments (argv[0] the program); returns the exit status.
int RunFilterCheck(int argc, const char* const* argv, const FindSubject& find,
                   const CommandOutput& output);
