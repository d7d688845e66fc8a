// cvxtext: prints the text of .zcv documents, read through the filter as an indexing host
// reads it.
#include "tools/cvxtext/extract.h"
#include "tools/cvxtext/files.h"
#include "tools/cvxtext/filter_module.h"
#include "tools/cvxtext/output.h"
#include "tools/cvxtext/registration_entries.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <sys/uio.h>
#include <unistd.h>
#endif

#ifndef CVX_VERSION
#error "CVX_VERSION is the project version"
#endif

namespace {

enum ExitStatus { ExitRead = 0, ExitFailed = 1, ExitUsage = 2, ExitNoFilter = 2 };

struct Options {
    std::vector<std::string> Files;
    OutputFormat Output = OutputFormat::Plain;
    bool Recursive = false;
    bool Quiet = false;
    unsigned Jobs = 1;
    std::string Module;  // --module (Windows): the filter module to read through, WTF-8
    bool Registration = false;  // --registration (Linux): print the module's registry entries
};

using Clock = std::chrono::steady_clock;

// ---- Standard streams ----

#ifdef _WIN32
bool IsConsole(DWORD stream)
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(stream), &mode) != FALSE;
}
bool StandardErrorIsTerminal() { return IsConsole(STD_ERROR_HANDLE); }
bool StandardOutputIsTerminal() { return IsConsole(STD_OUTPUT_HANDLE); }
#else
bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }
bool StandardOutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }
#endif

// Writes UTF-8 text to standard error at once (as UTF-16 to a Windows console).
void WriteError(const std::string& text)
{
#ifdef _WIN32
    if (IsConsole(STD_ERROR_HANDLE)) {
        const WideString wide = Utf16Of(text);
        DWORD written = 0;
        WriteConsoleW(GetStdHandle(STD_ERROR_HANDLE), wide.data(), static_cast<DWORD>(wide.size()),
                      &written, nullptr);
        return;
    }
    // Names carried as WTF-8 go out as UTF-8.
    const std::string bytes = Utf8Of(Utf16Of(text));
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
#else
    std::fwrite(text.data(), 1, text.size(), stderr);
#endif
    std::fflush(stderr);
}

// A line on standard error counting the documents written, for batches that run long enough
// to wonder about. Only on a terminal, and not when the text itself goes to that terminal.
class Progress {
public:
    Progress(bool enabled, std::size_t total) : Enabled(enabled && total > 1), Total(total) {}

    void Update(std::size_t done)
    {
        if (!Enabled)
            return;
        const Clock::time_point now = Clock::now();
        if (now - Start < std::chrono::seconds(1) || now - Drawn < std::chrono::milliseconds(200))
            return;
        Drawn = now;
        std::string line = "cvxtext: " + std::to_string(done) + " of " + std::to_string(Total) +
                           " documents";
        const std::size_t length = line.size();
        if (length < Shown)
            line.append(Shown - length, ' ');
        WriteError("\r" + line);
        Shown = length;
    }

    void Clear()
    {
        if (Shown == 0)
            return;
        WriteError("\r" + std::string(Shown, ' ') + "\r");
        Shown = 0;
    }

private:
    bool Enabled;
    std::size_t Total;
    std::size_t Shown = 0;  // length of the line on screen, 0 for none
    Clock::time_point Start = Clock::now();
    Clock::time_point Drawn;
};

// Standard output, in large blocks; remembers the first failed write. Texts are gathered until
// about a block's worth has come (on a terminal, each goes out at once). On POSIX they go out
// from where they are, with writev; elsewhere through one large stdio buffer.
class Output {
public:
    Output()
    {
        if (StandardOutputWasMissing())
            Failed = EBADF;
#ifdef _WIN32
        // A buffer of our own: given none, the C library takes the size of its own choosing.
        // It outlives every write, the flush at exit included.
        static char buffer[BlockBytes];
        std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
#endif
        Interactive = StandardOutputIsTerminal();
    }

    bool Write(std::string text)
    {
        if (Failed != 0)
            return false;
        if (!text.empty()) {
            GatheredBytes += text.size();
            Gathered.push_back(std::move(text));
        }
        if (Interactive || GatheredBytes >= BlockBytes || Gathered.size() >= MaxGathered)
            Flush();
        return Failed == 0;
    }

    bool Flush()
    {
        if (Failed == 0)
            WriteGathered();
        GatheredBytes = 0;
        for (std::string& text : Gathered)
            Written.push_back(std::move(text));
        Gathered.clear();
#ifdef _WIN32
        if (Failed == 0 && std::fflush(stdout) != 0)
            Failed = errno != 0 ? errno : EIO;
#endif
        return Failed == 0;
    }

    // The texts written so far, for their strings to be used again.
    std::vector<std::string>& Done() { return Written; }

    std::string Problem() const
    {
        std::string text = std::generic_category().message(Failed);
        if (!text.empty())
            text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
        return text;
    }

private:
    static constexpr std::size_t BlockBytes = std::size_t(1) << 20;
    static constexpr std::size_t MaxGathered = 64;  // well within any system's IOV_MAX

#ifdef _WIN32
    void WriteGathered()
    {
        for (const std::string& text : Gathered)
            if (Failed == 0 && std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
                Failed = errno != 0 ? errno : EIO;
    }
#else
    void WriteGathered()
    {
        std::vector<iovec> parts;
        for (std::string& text : Gathered)
            parts.push_back(iovec{&text[0], text.size()});
        std::size_t first = 0;
        while (first < parts.size()) {
            const ssize_t put =
                writev(STDOUT_FILENO, &parts[first], static_cast<int>(parts.size() - first));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                Failed = errno;
                return;
            }
            // A short write leaves the rest for the next round.
            std::size_t left = static_cast<std::size_t>(put);
            while (first < parts.size() && left >= parts[first].iov_len)
                left -= parts[first++].iov_len;
            if (left > 0) {
                parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + left;
                parts[first].iov_len -= left;
            }
        }
    }
#endif

    bool Interactive = false;
    int Failed = 0;
    std::vector<std::string> Gathered;  // to be written, in order
    std::size_t GatheredBytes = 0;
    std::vector<std::string> Written;
};

// ---- The batch: workers filter and format documents, the main thread writes them in argument
// order. ----

// A document as it goes out: its output, and how reading it ended.
struct FormattedDocument {
    std::string Text;
    HRESULT Result = S_OK;
    std::string Reason;
};

class Batch {
public:
    // `own` is the calling thread's session, for reading inline when no worker starts. With
    // `eachAtOnce` the writer gets each document as soon as it is read (for a terminal);
    // otherwise, once it has to wait, it waits for a run of them.
    Batch(const std::vector<DocumentItem>& items, OutputFormat format,
          const FilterSource& source, FilterSession* own, unsigned jobs, bool eachAtOnce)
        : Items(items), Form(format), Source(source), Own(own), Results(items.size()),
          // Documents read ahead of the one being written are held in memory: keep them few,
          // or small.
          Window(std::max<std::size_t>(4 * static_cast<std::size_t>(jobs), 8)),
          SmallWindow(64 * static_cast<std::size_t>(jobs) + Window),
          WakeRun(eachAtOnce ? 1 : std::min<std::size_t>(8, Window))
    {
        const std::size_t count = std::min<std::size_t>(jobs, items.size());
        for (std::size_t index = 0; index < count; ++index) {
            try {
                Workers.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                break;  // the workers started so far do the job; with none, Take reads inline
            }
        }
    }

    ~Batch()
    {
        {
            std::lock_guard<std::mutex> guard(Lock);
            Stopping = true;
        }
        Room.notify_all();
        for (std::thread& worker : Workers)
            worker.join();
    }

    // The result of document `index`, in order (0, 1, 2...). While waiting, `tick` runs now and
    // then.
    template <typename Tick>
    FormattedDocument Take(std::size_t index, Tick tick)
    {
        if (Workers.empty())
            return Produce(*Own, Items[index]);
        std::unique_lock<std::mutex> guard(Lock);
        if (!Results[index]) {
            // Woken for every document, the writer would cost a core's time for each; so it
            // waits until a few are ready, all within the window, so that they will be.
            Awaited = index;
            Waiting = true;
            while (!RunReady(index))
                if (Ready.wait_for(guard, std::chrono::milliseconds(100)) ==
                    std::cv_status::timeout) {
                    guard.unlock();
                    tick();
                    guard.lock();
                }
            Waiting = false;
        }
        FormattedDocument result = std::move(*Results[index]);
        Results[index].reset();
        HeldBytes -= result.Text.size();
        NextToWrite = index + 1;
        guard.unlock();
        Room.notify_all();
        return result;
    }

    // Gives back a document's text once written, for a later document to be formatted into, so
    // that the output does not grow (and touch fresh memory) from nothing for every document.
    // A few are kept, none larger than MaxSpareCapacity: memory stays bounded.
    void Recycle(std::string text)
    {
        if (Workers.empty() || text.capacity() > MaxSpareCapacity)
            return;
        text.clear();
        std::lock_guard<std::mutex> guard(Lock);
        if (Spare.size() < Workers.size() + 2)
            Spare.push_back(std::move(text));
    }

private:
    static constexpr std::size_t MaxSpareCapacity = std::size_t(16) << 20;

    // The document read and in its output form, by the reading thread, so that the writer only
    // writes: the text goes from the filter's pieces straight into the output.
    FormattedDocument Produce(const FilterSession& session, const DocumentItem& item,
                              std::string text = std::string()) const
    {
        FormattedDocument formatted;
        formatted.Text = std::move(text);
        try {
            DocumentFormatter formatter(Form, &formatted.Text, item.Shown);
            DocumentText document;
            if (session.Factory() == nullptr) {
                document = ModuleFailure(session.Result());
            } else {
                const StreamChunkText streaming(&formatter);
                document = ReadDocument(session.Factory(), item);
            }
            formatter.Finish(document);
            formatted.Result = document.Result;
            formatted.Reason = std::move(document.Reason);
            return formatted;
        } catch (const std::bad_alloc&) {
        } catch (const std::length_error&) {
        }
        // The text is more than this process can hold; the next document may fit. What was
        // formatted of this one is dropped (it may stop inside a record), and it goes out as
        // failed.
        DocumentText failed;
        failed.Result = E_OUTOFMEMORY;
        failed.Reason = "out of memory";
        formatted.Text = std::string();
        formatted.Result = failed.Result;
        formatted.Reason = failed.Reason;
        try {
            AppendDocument(&formatted.Text, Form, item.Shown, failed);
        } catch (const std::bad_alloc&) {
            formatted.Text = std::string();  // the message on standard error still tells
        }
        return formatted;
    }

    // Whether the documents from `index` on that are read, one after another, are enough for
    // the writer to go on: WakeRun of them, WakeBytes of text, or all that are left.
    bool RunReady(std::size_t index) const
    {
        std::size_t bytes = 0;
        for (std::size_t next = index; next < index + WakeRun; ++next) {
            if (next == Items.size())
                return true;
            if (!Results[next])
                return false;
            bytes += Results[next]->Text.size();
            if (bytes >= WakeBytes)
                return true;
        }
        return true;
    }

    // Whether a worker may start on the next document. Past Window documents ahead of the
    // writer, it may while those read hold little: many small documents then keep the workers
    // going through a writer that waits its turn for a core.
    bool HasRoom() const
    {
        const std::size_t ahead = NextToTake - NextToWrite;
        return ahead < Window || (ahead < SmallWindow && HeldBytes < SmallWindowBytes);
    }

    void Work()
    {
        // One class factory per worker, as a host keeps it; each document gets its own object.
        const FilterSession session(Source);
        for (;;) {
            std::size_t index;
            std::string text;
            {
                std::unique_lock<std::mutex> guard(Lock);
                Room.wait(guard, [this] {
                    return Stopping || NextToTake >= Items.size() || HasRoom();
                });
                if (Stopping || NextToTake >= Items.size())
                    return;
                index = NextToTake++;
                if (!Spare.empty()) {
                    text = std::move(Spare.back());
                    Spare.pop_back();
                }
            }
            FormattedDocument result = Produce(session, Items[index], std::move(text));
            bool wake;
            {
                std::lock_guard<std::mutex> guard(Lock);
                HeldBytes += result.Text.size();
                Results[index] = std::move(result);
                wake = Waiting && RunReady(Awaited);
            }
            if (wake)
                Ready.notify_one();
        }
    }

    const std::vector<DocumentItem>& Items;
    const OutputFormat Form;
    const FilterSource& Source;
    FilterSession* Own;
    std::vector<std::optional<FormattedDocument>> Results;
    std::size_t Window;
    std::size_t SmallWindow;
    static constexpr std::size_t SmallWindowBytes = std::size_t(16) << 20;
    std::size_t HeldBytes = 0;  // the text of the documents read and not yet taken
    std::mutex Lock;
    std::condition_variable Ready;  // the run the writer waits for came in
    std::size_t WakeRun;
    static constexpr std::size_t WakeBytes = std::size_t(1) << 20;
    bool Waiting = false;    // the writer waits for the run from Awaited
    std::size_t Awaited = 0;
    std::vector<std::string> Spare;  // written texts' strings, emptied, for the workers to reuse
    std::condition_variable Room;   // the writer moved on, or the batch stops
    std::size_t NextToTake = 0;
    std::size_t NextToWrite = 0;
    bool Stopping = false;
    std::vector<std::thread> Workers;
};

// Why the filter could not be had: the system's words where it has some, and the code.
std::string ModuleFailureText(HRESULT result)
{
#ifdef _WIN32
    std::string text = SystemErrorText(static_cast<DWORD>(result));
    if (!text.empty()) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
        return text + " (" + HresultText(result) + ")";
    }
#endif
    return HresultText(result);
}

int UsageError(const std::string& message)
{
    WriteError("cvxtext: " + message + "\nRun 'cvxtext --help' to see the options.\n");
    return ExitUsage;
}

// Parses the command line; returns an exit status when the run ends here.
std::optional<int> ParseOptions(int argc, const char* const* argv, Options* options)
{
    CLI::App app{"Prints the text of .zcv documents, as a desktop-search indexer reads it.",
                 "cvxtext"};
    app.get_formatter()->column_width(18);
    // GNU conventions on every system: a name such as /data/a.zcv is a file, never an option.
    app.allow_windows_style_options(false);
    app.set_help_flag("-h,--help", "print this help and exit");
    app.set_version_flag("--version", std::string("cvxtext ") + CVX_VERSION,
                         "print the version and exit");
    app.add_option("FILE", options->Files, "document to read; - reads standard input")
        ->type_name("");
    bool json = false;
    bool chunks = false;
    app.add_flag("--json", json, "print JSON Lines: one object per document");
    app.add_flag("--chunks", chunks, "print every chunk's STAT_CHUNK fields, then its text");
    app.add_flag("-r,--recursive", options->Recursive,
                 "read the .zcv files in folders and their subfolders");
    const unsigned cores = std::thread::hardware_concurrency();
    options->Jobs = cores > 0 ? cores : 1;
    app.add_option("-j,--jobs", options->Jobs, "read N documents at once (default: one per core)")
        ->type_name("N")
        ->check(CLI::Range(1u, 1024u).description(""));
    app.add_flag("-q,--quiet", options->Quiet, "show no progress line (errors are still shown)");
#ifdef _WIN32
    app.add_option("--module", options->Module,
                   "read through the filter module at PATH, not the registered filter")
        ->type_name("PATH");
#else
    app.add_flag("--registration", options->Registration,
                 "print the registry entries CVXFilter.dll writes, as a .reg file");
#endif
    app.footer("Exit status: 0 when every document was read, 1 when one was not, 2 for a\n"
               "usage error or when no filter can be had. Names that start with - follow --.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {  // --help or --version
            app.exit(error);
            std::cout.flush();
            return std::cout && !StandardOutputWasMissing() ? ExitRead : ExitFailed;
        }
        return UsageError(error.what());
    }
    if (json && chunks)
        return UsageError("--json and --chunks cannot be used together");
    options->Output = json     ? OutputFormat::Json
                      : chunks ? OutputFormat::Chunks
                               : OutputFormat::Plain;
    if (options->Registration) {
        if (!options->Files.empty() || json || chunks)
            return UsageError("--registration takes no files and no output format");
        return std::nullopt;
    }
    if (options->Files.empty())
        return UsageError("no files given");
    if (std::count(options->Files.begin(), options->Files.end(), "-") > 1)
        return UsageError("standard input (-) can be read only once");
    return std::nullopt;
}

int Run(int argc, const char* const* argv)
{
    HoldStandardStreams();
#ifdef _WIN32
    // Text goes out as the filter gave it: CR LF stays CR LF, LF stays LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    Options options;
    if (std::optional<int> status = ParseOptions(argc, argv, &options))
        return *status;

    std::string problem;
#ifndef _WIN32
    if (options.Registration) {
        std::string text;
        if (!RegistrationEntries(&text, &problem)) {
            WriteError("cvxtext: " + problem + "\n");
            return ExitFailed;
        }
        Output output;
        if (!output.Write(text) || !output.Flush()) {
            WriteError("cvxtext: cannot write the output: " + output.Problem() + "\n");
            return ExitFailed;
        }
        return ExitRead;
    }
#endif

    FilterSource source;
#ifdef _WIN32
    const bool found = FindFilter(options.Module, &source, &problem);
#else
    const bool found = FindFilter(&source, &problem);
#endif
    if (!found) {
        WriteError("cvxtext: " + problem + "\n");
        return ExitNoFilter;
    }
    // Started once here, so that a filter that cannot be had is reported once, not per document.
    FilterSession session(source);
    if (session.Factory() == nullptr) {
        WriteError("cvxtext: cannot start the filter: " + ModuleFailureText(session.Result()) +
                   "\n");
        return ExitNoFilter;
    }
    const std::vector<DocumentItem> items = ExpandArguments(options.Files, options.Recursive);

    Output output;
    Progress progress(!options.Quiet && StandardErrorIsTerminal() && !StandardOutputIsTerminal(),
                      items.size());
    int status = ExitRead;
    {
        Batch batch(items, options.Output, source, &session, options.Jobs,
                    StandardOutputIsTerminal());
        for (std::size_t index = 0; index < items.size(); ++index) {
            FormattedDocument document = batch.Take(index, [&] { progress.Update(index); });
            const DocumentItem& item = items[index];
            const bool written = output.Write(std::move(document.Text));
            for (std::string& done : output.Done())
                batch.Recycle(std::move(done));
            output.Done().clear();
            if (!written)
                break;
            if (document.Result != S_OK) {
                status = ExitFailed;
                // The text before the message, where both go to one screen.
                output.Flush();
                progress.Clear();
                WriteError("cvxtext: " + item.Shown + ": " + document.Reason + "\n");
            }
            progress.Update(index + 1);
        }
    }
    progress.Clear();
    if (!output.Flush()) {
        WriteError("cvxtext: cannot write the output: " + output.Problem() + "\n");
        return ExitFailed;
    }
    return status;
}

}  // namespace

#ifdef _WIN32
// The command line as the system has it (UTF-16), carried as WTF-8 so that every name comes
// back whole.
int wmain(int argc, wchar_t** argv)
{
    Wtf8CommandLine line;
    try {
        ReadWtf8CommandLine(argc, argv, &line);
        return Run(argc, line.Pointers.data());
    } catch (const std::exception& error) {
        WriteError(std::string("cvxtext: ") + error.what() + "\n");
        return ExitFailed;
    }
}
#else
int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        WriteError(std::string("cvxtext: ") + error.what() + "\n");
        return ExitFailed;
    }
}
#endif
