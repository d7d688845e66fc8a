#include "tools/filtercheck/command.h"

#include "tools/cvxtext/files.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <optional>
#include <sstream>

#ifndef CVX_VERSION
#error "CVX_VERSION is the project version"
#endif

namespace {

struct Options {
    std::vector<std::string> Files;
    unsigned Threads = 1;
    unsigned Loops = 1;
    std::string Module;  // --module (Windows), WTF-8
    std::vector<std::string> Skip;
    bool ListChecks = false;
    bool Quiet = false;
};

int UsageError(const CommandOutput& output, const std::string& message)
{
    output.Err("filtercheck: " + message + "\nRun 'filtercheck --help' to see the options.\n");
    return CheckUsage;
}

// --skip takes a check's name, or a prefix followed by '*' for every check it starts.
std::optional<std::vector<std::string>> SkippedChecks(const std::vector<std::string>& patterns,
                                                      std::string* unknown)
{
    std::vector<std::string> skipped;
    for (const std::string& pattern : patterns) {
        const bool prefix = !pattern.empty() && pattern.back() == '*';
        const std::string stem = prefix ? pattern.substr(0, pattern.size() - 1) : pattern;
        bool matched = false;
        for (const std::string& name : CheckNames()) {
            if (prefix ? name.compare(0, stem.size(), stem) == 0 : name == stem) {
                matched = true;
                if (std::find(skipped.begin(), skipped.end(), name) == skipped.end())
                    skipped.push_back(name);
            }
        }
        if (!matched) {
            *unknown = pattern;
            return std::nullopt;
        }
    }
    return skipped;
}

std::optional<int> ParseOptions(int argc, const char* const* argv, const CommandOutput& output,
                                Options* options)
{
    CLI::App app{"Puts a .zcv filter through the IFilter test procedure, document by document.",
                 "filtercheck"};
    app.get_formatter()->column_width(20);
    app.allow_windows_style_options(false);
    app.set_help_flag("-h,--help", "print this help and exit");
    app.set_version_flag("--version", std::string("filtercheck ") + CVX_VERSION,
                         "print the version and exit");
    app.add_option("FILE", options->Files,
                   "document to check; a folder stands for the .zcv files below it")
        ->type_name("");
    app.add_option("--threads", options->Threads,
                   "run every check in N threads at once, each with its own objects (default 1)")
        ->type_name("N")
        ->check(CLI::Range(1u, 256u).description(""));
    app.add_option("--loops", options->Loops, "run every check N times in each thread (default 1)")
        ->type_name("N")
        ->check(CLI::Range(1u, 100000u).description(""));
    app.add_option("--skip", options->Skip,
                   "do not run the check NAME; NAME* skips every check whose name starts so")
        ->type_name("NAME")
        ->allow_extra_args(false);
    app.add_flag("--list-checks", options->ListChecks, "print the names of the checks and exit");
    app.add_flag("-q,--quiet", options->Quiet, "print only the failed checks, no summary");
#ifdef _WIN32
    app.add_option("--module", options->Module,
                   "check the filter module at PATH, not the filter registered for .zcv")
        ->type_name("PATH");
#endif
    app.footer("Prints a line for each failed check: FILE: CHECK: what went wrong. Exit status:\n"
               "0 when every check passed, 1 when one failed (or no document was found), 2 for\n"
               "a usage error or when no filter can be had.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        std::ostringstream out, err;
        const int status = app.exit(error, out, err);
        output.Out(out.str());
        if (status == 0)
            return CheckPassed;  // --help or --version
        return UsageError(output, error.what());
    }
    if (options->ListChecks)
        return std::nullopt;
    if (options->Files.empty())
        return UsageError(output, "no documents given");
    if (std::find(options->Files.begin(), options->Files.end(), "-") != options->Files.end())
        return UsageError(output, "standard input cannot be checked: the filter opens each "
                                  "document by name, many times");
    return std::nullopt;
}

std::string Plural(std::size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The name as the filter takes it, UTF-16.
WideString FilterName(const std::filesystem::path& path)
{
#ifdef _WIN32
    return path.wstring();
#else
    return path.u16string();  // names that are not UTF-8 were set aside by the walk
#endif
}

}  // namespace

int RunFilterCheck(int argc, const char* const* argv, const FindSubject& find,
                   const CommandOutput& output)
{
    Options options;
    if (std::optional<int> status = ParseOptions(argc, argv, output, &options))
        return *status;
    if (options.ListChecks) {
        std::string names;
        for (const std::string& name : CheckNames())
            names += name + "\n";
        output.Out(names);
        return CheckPassed;
    }
    CheckSettings settings;
    settings.Threads = options.Threads;
    settings.Loops = options.Loops;
    std::string unknown;
    const std::optional<std::vector<std::string>> skipped = SkippedChecks(options.Skip, &unknown);
    if (!skipped)
        return UsageError(output, "--skip " + unknown + ": no such check (see --list-checks)");
    settings.Skipped = *skipped;

    StartThread start;
    std::string problem;
    if (!find(options.Module, &start, &problem)) {
        output.Err("filtercheck: " + problem + "\n");
        return CheckUsage;
    }
    // The main thread's objects: the first pass of every document, and the checks when they run
    // in one thread.
    const OpenFilter open = start();

    const std::vector<DocumentItem> items = ExpandArguments(options.Files, true);
    if (items.empty()) {
        output.Err("filtercheck: no documents to check\n");
        return CheckFailed;
    }
    std::size_t checks = 0, failures = 0;
    for (const DocumentItem& item : items) {
        std::vector<CheckOutcome> outcomes;
        switch (item.Source) {
        case DocumentSource::Failed:
            outcomes = {CheckOutcome{"listing", 1, 1, item.Failure.Reason}};
            break;
        case DocumentSource::Named:
            outcomes = CheckDocument(FilterName(item.Path).c_str(), open, start, settings);
            break;
        default:
            outcomes = {CheckOutcome{"validation", 1, 1,
                                     "the filter cannot open it by name (a pipe, or a name that is not UTF-8)"}};
            break;
        }
        std::string lines;
        for (const CheckOutcome& outcome : outcomes) {
            checks += outcome.Runs;
            failures += outcome.Failures;
            if (outcome.Failures == 0)
                continue;
            lines += item.Shown + ": " + outcome.Name + ": " + outcome.Detail;
            if (outcome.Runs > 1)
                lines += " (failed " + std::to_string(outcome.Failures) + " of " +
                         std::to_string(outcome.Runs) + " runs)";
            lines += "\n";
        }
        if (!lines.empty())
            output.Out(lines);
    }
    if (!options.Quiet) {
        std::string summary = "filtercheck: " + Plural(items.size(), "document", "documents") +
                              ", " + Plural(settings.Threads, "thread", "threads") + ", " +
                              Plural(settings.Loops, "loop", "loops") + ": " +
                              Plural(checks, "check", "checks") + ", " +
                              Plural(failures, "failure", "failures");
        if (!settings.Skipped.empty())
            summary += " (" + Plural(settings.Skipped.size(), "check", "checks") + " skipped)";
        output.Out(summary + "\n");
    }
    return failures == 0 ? CheckPassed : CheckFailed;
}
