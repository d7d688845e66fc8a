// The cvxtext program as it is run: its output bytes, JSON that gives back every code unit,
// the chunk dump, standard input, the folder walk, parallel reading, errors and exit status.
#include "tests/support/samples.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#ifdef _WIN32
#include <cwctype>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#if !defined(CVXTEXT_PROGRAM) || !defined(CVX_VERSION)
#error "CVXTEXT_PROGRAM names the program, CVX_VERSION the project version"
#endif

namespace {

namespace fs = std::filesystem;

struct Launch {
    std::vector<std::string> Arguments;  // UTF-8
    std::string Input;                   // standard input's bytes
    std::vector<std::pair<std::string, std::string>> Environment;  // added or replaced
    std::string OutputFile;              // standard output, when not captured
    bool NoInput = false;                // started without standard input
};

struct Outcome {
    int Status = -1;
    std::string Out;
    std::string Err;
};

std::string Arg(const fs::path& path)
{
    return path.u8string();
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path NewFolder(const std::string& name)
{
    fs::path folder = TestFolder() / name;
    fs::create_directories(folder);
    return folder;
}

fs::path WriteDocument(const fs::path& path, const Bytes& contents)
{
    WriteFile(path, std::string(contents.begin(), contents.end()));
    return path;
}

#ifdef _WIN32
std::wstring WindowsText(const std::string& utf8)
{
    return fs::u8path(utf8).wstring();
}

std::wstring Quoted(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring out = L"\"";
    std::size_t slashes = 0;
    for (wchar_t unit : argument) {
        if (unit == L'\\') {
            ++slashes;
            continue;
        }
        out.append(unit == L'"' ? 2 * slashes + 1 : slashes, L'\\');
        slashes = 0;
        out.push_back(unit);
    }
    out.append(2 * slashes, L'\\');
    return out + L"\"";
}

HANDLE Inheritable(const fs::path& path, bool write)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}
#endif

Outcome RunCvxtext(const Launch& launch)
{
    static int count = 0;
    const std::string id = std::to_string(count++);
    const fs::path in = TestFolder() / ("in" + id), out = TestFolder() / ("out" + id),
                   err = TestFolder() / ("err" + id);
    const fs::path sink = launch.OutputFile.empty() ? out : fs::u8path(launch.OutputFile);
    WriteFile(in, launch.Input);
    std::string program = CVXTEXT_PROGRAM;
    Outcome outcome;
#ifdef _WIN32
    if (program[0] == '/')
        program = "Z:" + program;  // Wine shows the Linux file system as drive Z:
    std::wstring line = Quoted(WindowsText(program));
    for (const std::string& argument : launch.Arguments)
        line += L" " + Quoted(WindowsText(argument));
    std::wstring environment;
    if (!launch.Environment.empty()) {
        wchar_t* block = GetEnvironmentStringsW();
        for (const wchar_t* entry = block; *entry != 0; entry += std::wcslen(entry) + 1) {
            bool replaced = false;
            for (const auto& [name, value] : launch.Environment)
                replaced |=
                    _wcsnicmp(entry, (WindowsText(name) + L"=").c_str(), name.size() + 1) == 0;
            if (!replaced)
                environment.append(entry, std::wcslen(entry) + 1);
        }
        FreeEnvironmentStringsW(block);
        for (const auto& [name, value] : launch.Environment)
            environment += WindowsText(name) + L"=" + WindowsText(value) + L'\0';
        environment += L'\0';
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = launch.NoInput ? nullptr : Inheritable(in, false);
    startup.hStdOutput = Inheritable(sink, true);
    startup.hStdError = Inheritable(err, true);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                        CREATE_UNICODE_ENVIRONMENT,
                                        environment.empty() ? nullptr : environment.data(),
                                        nullptr, &startup, &process);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        if (handle != nullptr)
            CloseHandle(handle);
    if (!started) {
        ADD_FAILURE() << "cannot start " << program;
        return outcome;
    }
    if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        ADD_FAILURE() << "cvxtext did not end";
    }
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    outcome.Status = static_cast<int>(status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
#else
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (launch.NoInput)
        posix_spawn_file_actions_addclose(&actions, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, sink.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        bool replaced = false;
        for (const auto& [name, value] : launch.Environment)
            replaced |= std::string(*entry).rfind(name + "=", 0) == 0;
        if (!replaced)
            environment.push_back(*entry);
    }
    for (const auto& [name, value] : launch.Environment)
        environment.push_back(name + "=" + value);
    std::vector<char*> arguments{program.data()}, variables;
    std::vector<std::string> copies = launch.Arguments;
    for (std::string& argument : copies)
        arguments.push_back(argument.data());
    arguments.push_back(nullptr);
    for (std::string& variable : environment)
        variables.push_back(variable.data());
    variables.push_back(nullptr);
    pid_t child = 0;
    const int failed = posix_spawn(&child, program.c_str(), &actions, nullptr, arguments.data(),
                                   variables.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        ADD_FAILURE() << "cannot start " << program;
        return outcome;
    }
    int status = 0;
    for (int waited = 0; waitpid(child, &status, WNOHANG) == 0; ++waited) {
        if (waited == 12000) {
            kill(child, SIGKILL);
            ADD_FAILURE() << "cvxtext did not end";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    outcome.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
    outcome.Out = ReadFile(out);
    outcome.Err = ReadFile(err);
#ifdef _WIN32
    // Standard error is text there, with CR LF line ends; standard output is binary.
    for (std::size_t at; (at = outcome.Err.find("\r\n")) != std::string::npos;)
        outcome.Err.erase(at, 1);
#endif
    return outcome;
}

Outcome RunCvxtext(std::vector<std::string> arguments)
{
    return RunCvxtext(Launch{std::move(arguments)});
}

std::optional<WideString> FromUtf8(const std::string& text)
{
    try {
        const std::u16string units = fs::u8path(text).u16string();
        return WideString(units.begin(), units.end());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// A strict JSON reader, enough to check cvxtext's lines: strings must be escaped where JSON
// requires it and be well-formed UTF-8; \u escapes give their code unit as is.
struct Json {
    std::string Kind;  // "string", "number", "array", "object", "literal"
    WideString Text;
    double Number = 0;
    std::vector<Json> Items;
    std::vector<std::pair<std::string, Json>> Members;

    const Json& operator[](const std::string& name) const
    {
        static const Json none;
        for (const auto& member : Members)
            if (member.first == name)
                return member.second;
        return none;
    }
    std::string Narrow() const { return std::string(Text.begin(), Text.end()); }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : Text(text) {}

    std::optional<Json> Document()
    {
        Json value = Value();
        Space();
        if (!Good || Next != Text.size())
            return std::nullopt;
        return value;
    }

private:
    void Space()
    {
        while (Next < Text.size() && std::strchr(" \t\r\n", Text[Next]) != nullptr)
            ++Next;
    }
    bool Take(char expected)
    {
        Space();
        if (Next < Text.size() && Text[Next] == expected)
            return ++Next, true;
        return false;
    }
    Json Value()
    {
        Json value;
        Space();
        if (Take('{')) {
            value.Kind = "object";
            if (Take('}'))
                return value;
            do {
                Json name = Value();
                Good &= name.Kind == "string" && Take(':');
                value.Members.emplace_back(name.Narrow(), Value());
            } while (Good && Take(','));
            Good &= Take('}');
        } else if (Take('[')) {
            value.Kind = "array";
            if (Take(']'))
                return value;
            do
                value.Items.push_back(Value());
            while (Good && Take(','));
            Good &= Take(']');
        } else if (Take('"')) {
            value.Kind = "string";
            std::string raw;
            while (Good && Next < Text.size() && Text[Next] != '"') {
                const unsigned char byte = static_cast<unsigned char>(Text[Next++]);
                Good &= byte >= 0x20;
                if (byte != '\\') {
                    raw.push_back(static_cast<char>(byte));
                    continue;
                }
                Flush(&raw, &value.Text);
                const char escape = Next < Text.size() ? Text[Next++] : 0;
                const std::string letters = "\"\\/bfnrt", meanings = "\"\\/\b\f\n\r\t";
                const std::size_t which = escape != 0 ? letters.find(escape) : std::string::npos;
                if (escape == 'u' && Next + 4 <= Text.size()) {
                    const unsigned long unit = std::stoul(Text.substr(Next, 4), nullptr, 16);
                    value.Text.push_back(static_cast<WCHAR>(unit));
                    Next += 4;
                } else if (which != std::string::npos) {
                    value.Text.push_back(static_cast<WCHAR>(meanings[which]));
                } else {
                    Good = false;
                }
            }
            Flush(&raw, &value.Text);
            Good &= Take('"');
        } else {
            const std::size_t start = Next;
            while (Next < Text.size() && std::strchr("-+.eE0123456789", Text[Next]) != nullptr)
                ++Next;
            value.Kind = "number";
            Good &= Next > start;
            if (Good)
                value.Number = std::stod(Text.substr(start, Next - start));
        }
        return value;
    }
    // A run of unescaped characters, which must be well-formed UTF-8.
    void Flush(std::string* raw, WideString* text)
    {
        const std::optional<WideString> units = FromUtf8(*raw);
        Good &= units.has_value();
        *text += units.value_or(WideString());
        raw->clear();
    }

    const std::string& Text;
    std::size_t Next = 0;
    bool Good = true;
};

std::vector<Json> JsonLines(const std::string& out)
{
    std::vector<Json> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        std::optional<Json> line = JsonReader(out.substr(start, end - start)).Document();
        EXPECT_TRUE(line.has_value()) << "not JSON: " << out.substr(start, end - start);
        lines.push_back(line.value_or(Json{}));
    }
    EXPECT_EQ(start, out.size()) << "the output ends inside a line";
    return lines;
}

const SampleDocument& Sample(const std::string& name)
{
    static const std::vector<SampleDocument> samples = SampleDocuments();
    for (const SampleDocument& sample : samples)
        if (sample.Name == name)
            return sample;
    throw std::runtime_error("no sample " + name);
}

std::string Sampled(const std::string& name)
{
    return Arg(SamplesFolder() / name);
}

TEST(Cvxtext, PlainTextIsEachChunkThenALineFeed)
{
    const fs::path folder = NewFolder("plain");
    const std::string longText(10001, 'w');  // three GetText calls
    const struct {
        const char* Name;
        std::string File;
        std::string Text;
    } cases[] = {
        {"brochure", Sampled("brochure.zcv"),
         u8"Café Lumière\r\nSpring – Summer Menu\n"
         u8"Our “Petit Déjeuner” is back…\r\n• Croissants, pains au chocolat\r\n"
         u8"• Crème brûlée & more\r\nOpen daily, 7–11 h. Well-known since 1998™’s\n"
         u8"Espresso\t2,50 €\r\nCafé crème\t3,80 €\r\nTarte fine — pomme\t4,20 €\n"},
        {"cut short", Sampled("cut-short.zcv"),
         "Minutes of the meeting\nPresent: A. Lind, B. Ortega\r\nAgenda: budget, rota,\n"},
        {"no text", Sampled("no-text.zcv"), ""},
        {"surrogates, an empty story", Arg(WriteDocument(folder / "odd.zcv", DocumentOfStories({
             {Char('a'), Break(13), Wide(0xD800), Char('x'), Wide(0xDC00)},
             {},
             {Wide(0xD83D), Wide(0xDE00), Tab()}}))),
         "a\r\n\xEF\xBF\xBDx\xEF\xBF\xBD\n\n\xF0\x9F\x98\x80\t\n"},
        {"longer than the text buffer", Arg(WriteDocument(folder / "long.zcv",
                                                          DocumentOfStories({Chars(longText)}))),
         longText + "\n"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Name);
        const Outcome outcome = RunCvxtext({test.File});
        EXPECT_EQ(outcome.Status, 0);
        EXPECT_EQ(outcome.Out, test.Text);
        EXPECT_EQ(outcome.Err, "");
    }
}

TEST(Cvxtext, JsonGivesBackEveryCodeUnit)
{
    const WideString tricky = {'q', '"', '\\', 0x01, 0x1F, 0x7F, 0xD800, 'x', 0xDC00, 0xD83D,
                               0xDE00, 0x2028, 0xE9, '\r', '\n', '\t'};
    std::vector<Element> elements;
    for (WCHAR unit : tricky)
        elements.push_back(Wide(unit));
    const fs::path folder = NewFolder("json");
    const std::string trickyFile = Arg(WriteDocument(folder / "tricky 'name'.zcv",
                                                     DocumentOfStories({elements, {Char('z')}})));
    const std::string missing = Arg(folder / "missing.zcv");

    const Outcome outcome =
        RunCvxtext({"--json", Sampled("brochure.zcv"), trickyFile, missing,
                    Sampled("no-text.zcv")});
    EXPECT_EQ(outcome.Status, 1);
    const std::vector<Json> lines = JsonLines(outcome.Out);
    ASSERT_EQ(lines.size(), 4u);
    const std::vector<std::pair<std::string, std::vector<WideString>>> read = {
        {Sampled("brochure.zcv"), Sample("brochure.zcv").StoryTexts},
        {trickyFile, {tricky, U16("z")}},
        {missing, {}},
        {Sampled("no-text.zcv"), {}}};
    for (std::size_t index = 0; index < lines.size(); ++index) {
        SCOPED_TRACE(read[index].first);
        const Json& line = lines[index];
        EXPECT_EQ(line["file"].Text, FromUtf8(read[index].first));
        if (index == 2) {
            EXPECT_EQ(line["chunks"].Kind, "");
            EXPECT_EQ(line["error"]["hresult"].Narrow(), "0x80041703");
            EXPECT_EQ(line["error"]["message"].Narrow(), "no such file");
            continue;
        }
        const std::vector<Json>& chunks = line["chunks"].Items;
        ASSERT_EQ(chunks.size(), read[index].second.size());
        for (std::size_t chunk = 0; chunk < chunks.size(); ++chunk) {
            EXPECT_EQ(chunks[chunk]["id"].Number, chunk + 1);
            EXPECT_EQ(chunks[chunk]["locale"].Number, GetSystemDefaultLCID());
            EXPECT_EQ(Printable(chunks[chunk]["text"].Text), Printable(read[index].second[chunk]));
        }
    }
}

TEST(Cvxtext, ChunkDumpShowsEveryField)
{
    const std::string file = Arg(WriteDocument(NewFolder("dump") / "two.zcv",
                                               DocumentOfStories({Chars("one"), Chars("two")})));
    char locale[16];
    std::snprintf(locale, sizeof locale, "0x%08lX",
                  static_cast<unsigned long>(GetSystemDefaultLCID()));
    std::string expected = "File: " + file + "\n\n";
    for (const char* chunk : {"1", "2"})
        expected += std::string("Chunk ") + chunk + "\n  idChunk         " + chunk +
                    "\n  breakType       CHUNK_NO_BREAK\n  flags           CHUNK_TEXT\n"
                    "  locale          " + locale + "\n"
                    "  attribute       {B725F130-47EF-101A-A5F1-02608C9EEBAC} propid 19\n"
                    "  idChunkSource   " + chunk + "\n  cwcStartSource  0\n  cwcLenSource    0\n"
                    "  text            3 units\n" + (chunk[0] == '1' ? "one" : "two") + "\n\n";
    expected += "End: 2 chunks\n\n";
    const Outcome outcome = RunCvxtext({"--chunks", file});
    EXPECT_EQ(outcome.Status, 0);
    EXPECT_EQ(outcome.Out, expected);
}

TEST(Cvxtext, StandardInputGoesThroughAPrivateCopyThatIsRemoved)
{
    const fs::path temporary = NewFolder("stdin-temp");
    const SampleDocument& brochure = Sample("brochure.zcv");
    Launch launch{{"--json", Sampled("cut-short.zcv"), "-", Sampled("no-text.zcv")},
                  std::string(brochure.Contents.begin(), brochure.Contents.end()),
                  {{"TMPDIR", Arg(temporary)}, {"TMP", Arg(temporary)}, {"TEMP", Arg(temporary)}}};
    const Outcome outcome = RunCvxtext(launch);
    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    const std::vector<Json> lines = JsonLines(outcome.Out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1]["file"].Narrow(), "-");
    ASSERT_EQ(lines[1]["chunks"].Items.size(), brochure.StoryTexts.size());
    for (std::size_t index = 0; index < brochure.StoryTexts.size(); ++index)
        EXPECT_EQ(lines[1]["chunks"].Items[index]["text"].Text, brochure.StoryTexts[index]);
    EXPECT_TRUE(fs::is_empty(temporary));

    launch.Arguments = {"-"};
    EXPECT_EQ(RunCvxtext(launch).Out, RunCvxtext({Sampled("brochure.zcv")}).Out);

    // No standard input at all is a failure, not an empty document.
    launch.NoInput = true;
    const Outcome none = RunCvxtext(launch);
    EXPECT_EQ(none.Status, 1);
    EXPECT_EQ(none.Out, "");
    EXPECT_EQ(none.Err.rfind("cvxtext: -: cannot read standard input: ", 0), 0u) << none.Err;
    EXPECT_TRUE(fs::is_empty(temporary));
}

TEST(Cvxtext, RecursiveWalkTakesZcvFilesInNameOrder)
{
    const fs::path root = NewFolder("walk");
    const std::vector<std::string> documents = {
        "B.zcv", "a.ZCV", u8"café.zcv", "sub/c.Zcv", "sub/deeper/f.zcv", u8"日本.zCv"};
    for (const char* other : {"notes.txt", "sub/d.zcvx", "sub/e.zcv.bak", "sub/.zcv"})
        WriteFile(root / fs::u8path(other), "not a document");
    for (std::size_t index = 0; index < documents.size(); ++index) {
        const fs::path path = root / fs::u8path(documents[index]);
        fs::create_directories(path.parent_path());
        WriteDocument(path, DocumentOfStories({Chars("document " + std::to_string(index))}));
    }

    const Outcome outcome = RunCvxtext({"--json", "-r", Arg(root), Arg(root / "notes.txt")});
    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    const std::vector<Json> lines = JsonLines(outcome.Out);
    ASSERT_EQ(lines.size(), documents.size() + 1);
    for (std::size_t index = 0; index < documents.size(); ++index) {
        SCOPED_TRACE(documents[index]);
        const fs::path path = root / fs::u8path(documents[index]).make_preferred();
        EXPECT_EQ(lines[index]["file"].Text, FromUtf8(Arg(path)));
        ASSERT_EQ(lines[index]["chunks"].Items.size(), 1u);
        EXPECT_EQ(lines[index]["chunks"].Items[0]["text"].Text,
                  FromUtf8("document " + std::to_string(index)));
    }
    // A file named on the command line is read whatever its name (this one holds no story).
    EXPECT_EQ(lines.back()["file"].Text, FromUtf8(Arg(root / "notes.txt")));
    EXPECT_EQ(lines.back()["chunks"].Kind, "array");

    const Outcome unwalked = RunCvxtext({Arg(root)});
    EXPECT_EQ(unwalked.Status, 1);
    EXPECT_EQ(unwalked.Err, "cvxtext: " + Arg(root) + ": is a folder\n");
}

TEST(Cvxtext, ParallelReadingKeepsTheOrder)
{
    const fs::path folder = NewFolder("parallel");
    std::vector<std::string> arguments;
    for (int index = 0; index < 20; ++index) {
        if (index == 7)
            arguments.push_back(Arg(folder / "missing.zcv"));
        // Sizes vary, so that documents finish out of order.
        const std::size_t size = static_cast<std::size_t>((index * 7919) % 20 * 3000 + 1);
        const std::string text(size, static_cast<char>('a' + index));
        arguments.push_back(
            Arg(WriteDocument(folder / (std::to_string(index) + ".zcv"),
                              DocumentOfStories({Chars(text), Chars(std::to_string(index))}))));
    }
    for (const char* format : {"--chunks", "--json"}) {
        SCOPED_TRACE(format);
        std::vector<std::string> serial = {format, "-j", "1"};
        serial.insert(serial.end(), arguments.begin(), arguments.end());
        const Outcome one = RunCvxtext(serial);
        EXPECT_EQ(one.Status, 1);
        EXPECT_EQ(one.Err, "cvxtext: " + arguments[7] + ": no such file\n");
        for (const char* jobs : {"2", "5"}) {
            serial[2] = jobs;
            const Outcome many = RunCvxtext(serial);
            EXPECT_EQ(many.Status, one.Status);
            EXPECT_TRUE(many.Out == one.Out) << "-j " << jobs << " changed the output";
            EXPECT_EQ(many.Err, one.Err);
        }
    }
}

TEST(Cvxtext, FailuresAreReportedInWordsAndTheRunGoesOn)
{
    const fs::path folder = NewFolder("failures");
    const std::string first =
        Arg(WriteDocument(folder / "first.zcv", DocumentOfStories({Chars("first")})));
    const std::string last =
        Arg(WriteDocument(folder / "last.zcv", DocumentOfStories({Chars("last")})));
    std::vector<std::pair<std::string, std::string>> failures = {
        {Arg(folder / "missing.zcv"), "no such file"},
        {Arg(folder / "no-folder" / "x.zcv"), "no such file"},
        {Arg(folder), "is a folder"},
    };
#ifdef _WIN32
    // Held open for writing by another program, with no sharing.
    const fs::path held = WriteDocument(folder / "held.zcv", DocumentOfStories({Chars("x")}));
    HANDLE holder = CreateFileW(held.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    failures.push_back({Arg(held), "the file is in use by another program"});
#else
    if (geteuid() != 0) {  // root reads anything
        const fs::path locked =
            WriteDocument(folder / "locked.zcv", DocumentOfStories({Chars("x")}));
        fs::permissions(locked, fs::perms::none);
        failures.push_back({Arg(locked), "permission denied"});
    }
#endif
    std::vector<std::string> arguments = {first};
    std::string messages;
    for (const auto& [path, reason] : failures) {
        arguments.push_back(path);
        messages += "cvxtext: " + path + ": " + reason + "\n";
    }
    arguments.push_back(last);
    const Outcome outcome = RunCvxtext(arguments);
#ifdef _WIN32
    CloseHandle(holder);
#endif
    EXPECT_EQ(outcome.Status, 1);
    EXPECT_EQ(outcome.Out, "first\nlast\n");
    EXPECT_EQ(outcome.Err, messages);
}

TEST(Cvxtext, UsageErrorsExitWithTwo)
{
    const std::string file = Sampled("brochure.zcv");
    const std::vector<std::vector<std::string>> cases = {
        {}, {"-q"}, {"--bogus", file}, {"-j", "0", file}, {"-j", "x", file}, {"-j", "2000", file},
        {file, "-j"}, {"--json", "--chunks", file}, {"-", "-"}, {"--jobs=", file},
        {"--registration", file}, {"--registration", "--json"}};
    for (const std::vector<std::string>& arguments : cases) {
        std::string line;
        for (const std::string& argument : arguments)
            line += argument + " ";
        SCOPED_TRACE(line);
        const Outcome outcome = RunCvxtext(arguments);
        EXPECT_EQ(outcome.Status, 2);
        EXPECT_EQ(outcome.Out, "");
        EXPECT_EQ(outcome.Err.rfind("cvxtext: ", 0), 0u) << outcome.Err;
    }
}

TEST(Cvxtext, VersionAndHelp)
{
    const Outcome version = RunCvxtext({"--version"});
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out, std::string("cvxtext ") + CVX_VERSION + "\n");

    const Outcome help = RunCvxtext({"--help"});
    EXPECT_EQ(help.Status, 0);
    for (const char* option : {"-h,--help ", "--version ", "--json ", "--chunks ",
                               "-r,--recursive ", "-j,--jobs N ", "-q,--quiet ",
#ifdef _WIN32
                               "--module PATH "
#else
                               "--registration "
#endif
         }) {
        const std::size_t at = help.Out.find(std::string("\n  ") + option);
        ASSERT_NE(at, std::string::npos) << option;
        // One line each: the description follows on the option's own line.
        const std::string line = help.Out.substr(at + 3, help.Out.find('\n', at + 1) - at - 3);
        EXPECT_NE(line.find_first_not_of(' ', std::strlen(option)), std::string::npos) << line;
    }
}

// Options as GNU programs take them: values joined with = or run on, flags bundled, and -- ending
// the options so that names starting with - are files.
TEST(Cvxtext, OptionsFollowGnuConventions)
{
    const fs::path folder = NewFolder("gnu");
    WriteDocument(folder / "-dash.zcv", DocumentOfStories({Chars("dash")}));
    WriteDocument(folder / "b.zcv", DocumentOfStories({Chars("bee")}));
    const std::string dashed = Arg(folder / "-dash.zcv");
    const std::string bee = Arg(folder / "b.zcv");
    const std::vector<std::vector<std::string>> spellings = {
        {"--jobs", "2", "--quiet", "--", dashed, bee},
        {"--jobs=2", "-q", "--", dashed, bee},
        {"-j2", "--", dashed, bee},
        {"-qj", "2", "--", dashed, bee},
        {"-j", "2", "--", dashed, bee, "--json"},  // after --, even this is a file
    };
    for (std::size_t index = 0; index < spellings.size(); ++index) {
        SCOPED_TRACE(index);
        const Outcome outcome = RunCvxtext(spellings[index]);
        if (index + 1 == spellings.size()) {
            EXPECT_EQ(outcome.Status, 1);
            EXPECT_EQ(outcome.Out, "dash\nbee\n");
            EXPECT_NE(outcome.Err.find("cvxtext: --json: "), std::string::npos) << outcome.Err;
            continue;
        }
        EXPECT_EQ(outcome.Status, 0) << outcome.Err;
        EXPECT_EQ(outcome.Out, "dash\nbee\n");
        EXPECT_EQ(outcome.Err, "");
    }
    // A name starting with - that is not after -- is an option, and unknown; one starting with /
    // is a file on every system, never a Windows-style option.
    EXPECT_EQ(RunCvxtext({"-dash.zcv"}).Status, 2);
    const Outcome slashed = RunCvxtext({"/missing/a.zcv"});
    EXPECT_EQ(slashed.Status, 1);
    EXPECT_EQ(slashed.Err.rfind("cvxtext: /missing/a.zcv: ", 0), 0u) << slashed.Err;
}

#ifndef _WIN32
TEST(Cvxtext, PipesNamesThatAreNotUtf8AndAFullDisk)
{
    const fs::path folder = NewFolder("linux");
    const SampleDocument& brochure = Sample("brochure.zcv");
    const std::string expected = RunCvxtext({Sampled("brochure.zcv")}).Out;

    // A pipe, as a shell's process substitution gives: it has no size to read by.
    const fs::path pipe = folder / "pipe.zcv";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string bytes(brochure.Contents.begin(), brochure.Contents.end());
    std::thread writer([&] { WriteFile(pipe, bytes); });
    const Outcome piped = RunCvxtext({pipe.string()});
    writer.join();
    EXPECT_EQ(piped.Status, 0) << piped.Err;
    EXPECT_EQ(piped.Out, expected);

    // Latin-1 bytes in a name: the filter takes UTF-16 names, so this one reads through a copy.
    const fs::path latin = folder / "caf\xE9.zcv";
    WriteDocument(latin, brochure.Contents);
    const Outcome named = RunCvxtext({"--json", latin.string()});
    EXPECT_EQ(named.Status, 0) << named.Err;
    const std::vector<Json> lines = JsonLines(named.Out);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["file"].Text, FromUtf8(Arg(folder) + "/caf\xEF\xBF\xBD.zcv"));
    EXPECT_EQ(lines[0]["chunks"].Items.size(), brochure.StoryTexts.size());

    Launch full{{Sampled("brochure.zcv")}};
    full.OutputFile = "/dev/full";
    const Outcome failed = RunCvxtext(full);
    EXPECT_EQ(failed.Status, 1);
    EXPECT_EQ(failed.Err.rfind("cvxtext: cannot write the output: ", 0), 0u) << failed.Err;
}

// The registry entries of create mode on an empty registry, as a .reg file with CR LF lines.
TEST(Cvxtext, RegistrationPrintsTheModulesEntriesAsARegFile)
{
    const std::string handler = "{2B5F8E10-7C34-4A9D-B1E6-93D0F4A7C258}";
    const std::string filter = "{6E1C2D47-A93B-4F20-9D84-5B7A0C3E61F9}";
    const std::string document = "{A8D3C61E-5F02-4B7C-8E39-1C6B2F9D04E7}";
    const std::string lines[] = {
        "Windows Registry Editor Version 5.00", "",
        "[HKEY_CLASSES_ROOT\\.zcv]", "@=\"CorvanPro.Document\"", "",
        "[HKEY_CLASSES_ROOT\\.zcv\\PersistentHandler]", "@=\"" + handler + "\"", "",
        "[HKEY_CLASSES_ROOT\\CLSID\\" + handler + "]", "@=\"CorvanePro Persistent Handler\"", "",
        "[HKEY_CLASSES_ROOT\\CLSID\\" + handler + "\\PersistentAddinsRegistered]", "",
        "[HKEY_CLASSES_ROOT\\CLSID\\" + handler +
            "\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}]",
        "@=\"{6E1C2D47-A93b-4F20-9D84-5B7A0C3E61F9}\"", "",
        "[HKEY_CLASSES_ROOT\\CLSID\\" + filter + "]", "@=\"CorvanePro Filter\"", "",
        "[HKEY_CLASSES_ROOT\\CLSID\\" + filter + "\\InprocServer32]", "@=\"CVXFilter.dll\"",
        "\"ThreadingModel\"=\"Both\"", "",
        "[HKEY_CLASSES_ROOT\\CLSID\\" + document + "]", "@=\"Corvane Pro Document\"", "",
        "[HKEY_CLASSES_ROOT\\CLSID\\" + document + "\\PersistentHandler]", "@=\"" + handler + "\"", "",
        "[HKEY_CLASSES_ROOT\\CorvanPro.Document]", "@=\"Corvane Pro Document\"", "",
        "[HKEY_CLASSES_ROOT\\CorvanPro.Document\\CLSID]", "@=\"" + document + "\"", ""};
    std::string expected;
    for (const std::string& line : lines)
        expected += line + "\r\n";
    const Outcome outcome = RunCvxtext({"--registration"});
    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Out, expected);
    EXPECT_EQ(outcome.Err, "");
}
#endif

}  // namespace
