// The module used from many threads at once, as an indexing host with several worker threads
// uses it: factories, filter objects, documents filtered, server locks taken and given back, all
// at the same time, while other threads ask whether the module may be unloaded. Runs against the
// filter linked into the test program and, on Windows, against CVXFilter.dll; the tsan preset
// runs it under ThreadSanitizer.
#include "filter/class_id.h"
#include "filter/module.h"
#include "tests/support/filter_host.h"
#include "tests/support/samples.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const int Workers = 8;
const int Loops = 100;
const int Checkers = 2;

struct Document {
    WideString Path;
    std::vector<WideString> Texts;
};

// Failures met on any thread, reported by the test's own thread: the test framework is built
// without thread support for Windows.
class Failures {
public:
    void Add(const std::string& failure)
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (failures_.size() < 20)
            failures_.push_back(failure);
        ++count_;
    }
    void Report()
    {
        for (const std::string& failure : failures_)
            ADD_FAILURE() << failure;
        EXPECT_EQ(count_, 0u) << "failures on the threads";
    }

private:
    std::mutex lock_;
    std::vector<std::string> failures_;
    unsigned count_ = 0;
};

std::string Hex(HRESULT result)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(static_cast<DWORD>(result)));
    return text;
}

// Load, Init and every chunk's text, in pieces of `bufferSize`; an empty string when all went
// as a host expects.
std::string FilterDocument(IFilter* filter, IPersistFile* file, const Document& document,
                           ULONG bufferSize)
{
    HRESULT result = file->Load(document.Path.c_str(), STGM_READ);
    if (result != S_OK)
        return "Load answered " + Hex(result);
    ULONG flags = 0;
    result = filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags);
    if (result != S_OK)
        return "Init answered " + Hex(result);
    std::vector<WideString> texts;
    std::vector<WCHAR> buffer(bufferSize);
    for (int chunk = 0; chunk <= static_cast<int>(document.Texts.size()); ++chunk) {
        STAT_CHUNK stat{};
        result = filter->GetChunk(&stat);
        if (result == FILTER_E_END_OF_CHUNKS)
            break;
        if (result != S_OK)
            return "GetChunk answered " + Hex(result);
        if (stat.idChunk != static_cast<ULONG>(chunk + 1))
            return "chunk " + std::to_string(chunk + 1) + " came as " + std::to_string(stat.idChunk);
        WideString text;
        for (;;) {
            ULONG count = bufferSize;
            result = filter->GetText(&count, buffer.data());
            if (result == FILTER_E_NO_MORE_TEXT)
                break;
            if ((result != S_OK && result != FILTER_S_LAST_TEXT) || count > bufferSize)
                return "GetText answered " + Hex(result);
            text.append(buffer.data(), count);
            if (result == FILTER_S_LAST_TEXT)
                break;
        }
        texts.push_back(text);
    }
    if (texts != document.Texts)
        return "the texts of " + Printable(document.Path) + " differ";
    return std::string();
}

class Concurrency : public ::testing::TestWithParam<FilterModule> {
protected:
    void SetUp() override
    {
        ASSERT_NE(Module().GetClassObject, nullptr) << "the module did not load";
        ASSERT_EQ(Module().CanUnloadNow(), S_OK) << "an earlier test left objects alive";
        for (const SampleDocument& sample : SampleDocuments())
            documents_.push_back({WidePath(SamplesFolder() / sample.Name), sample.StoryTexts});
        // A long story, so that sessions overlap, and a document of many small ones.
        const std::string line = "The quick brown fox jumps over the lazy dog. ";
        std::string longText;
        while (longText.size() < 40000)
            longText += line;
        std::vector<std::vector<Element>> small;
        std::vector<WideString> smallTexts;
        for (int story = 0; story < 60; ++story) {
            small.push_back(Chars("story " + std::to_string(story)));
            smallTexts.push_back(W("story " + std::to_string(story)));
        }
        files_.push_back(std::make_unique<TempFile>(DocumentOfStories({Chars(longText)})));
        documents_.push_back({files_.back()->Name(), {W(longText)}});
        files_.push_back(std::make_unique<TempFile>(DocumentOfStories(small)));
        documents_.push_back({files_.back()->Name(), smallTexts});
    }
    const FilterModule& Module() const { return GetParam(); }

    // One loop of a worker: holds a server lock with no factory, makes two objects from a new
    // factory, gives the lock back and drops the factory, filters a document with each object,
    // and releases them. Whenever it holds anything the module must be busy.
    void WorkerLoop(int worker, int loop, Failures& failures, std::atomic<unsigned>& sessions)
    {
        const FilterModule& module = Module();
        auto busy = [&](const char* holding) {
            const HRESULT answer = module.CanUnloadNow();
            if (answer != S_FALSE)
                failures.Add(std::string("DllCanUnloadNow answered ") + Hex(answer) +
                             " while holding " + holding);
        };
        IClassFactory* factory = nullptr;
        HRESULT result = module.GetClassObject(FilterClassId, IID_IClassFactory,
                                               reinterpret_cast<void**>(&factory));
        if (result != S_OK) {
            failures.Add("DllGetClassObject answered " + Hex(result));
            return;
        }
        busy("a factory");
        result = factory->LockServer(TRUE);
        factory->Release();
        if (result != S_OK)
            failures.Add("LockServer(TRUE) answered " + Hex(result));
        busy("a server lock");

        result = module.GetClassObject(FilterClassId, IID_IClassFactory,
                                       reinterpret_cast<void**>(&factory));
        if (result != S_OK) {
            failures.Add("DllGetClassObject answered " + Hex(result));
            return;
        }
        FilterObject objects[2];
        for (FilterObject& object : objects) {
            result = factory->CreateInstance(nullptr, IID_IFilter,
                                             reinterpret_cast<void**>(&object.Filter));
            if (result != S_OK) {
                failures.Add("CreateInstance answered " + Hex(result));
                object.Filter = nullptr;
                continue;
            }
            if (object.Filter->QueryInterface(IID_IPersistFile,
                                              reinterpret_cast<void**>(&object.File)) != S_OK)
                failures.Add("QueryInterface(IID_IPersistFile) failed");
        }
        result = factory->LockServer(FALSE);
        if (result != S_OK)
            failures.Add("LockServer(FALSE) answered " + Hex(result));
        factory->Release();
        busy("filter objects");

        for (int index = 0; index < 2; ++index) {
            FilterObject& object = objects[index];
            if (object.File == nullptr)
                continue;
            const std::size_t which = (worker + loop * 3 + index) % documents_.size();
            const ULONG bufferSize = 1 + (worker * 37 + loop * 11 + index * 5) % 300;
            const std::string failure =
                FilterDocument(object.Filter, object.File, documents_[which], bufferSize);
            if (!failure.empty())
                failures.Add(failure);
            ++sessions;
        }
        busy("filter objects");
        objects[0] = FilterObject();
        objects[1] = FilterObject();
    }

    std::vector<std::unique_ptr<TempFile>> files_;
    std::vector<Document> documents_;
};

TEST_P(Concurrency, ObjectsLocksAndDocumentsOnManyThreadsAtOnce)
{
    Failures failures;
    std::atomic<unsigned> sessions{0}, checks{0}, busyAnswers{0};
    std::atomic<int> running{Workers};
    std::atomic<bool> start{false};

    std::vector<std::thread> threads;
    for (int worker = 0; worker < Workers; ++worker) {
        threads.emplace_back([&, worker] {
            while (!start.load())
                std::this_thread::yield();
            for (int loop = 0; loop < Loops; ++loop)
                WorkerLoop(worker, loop, failures, sessions);
            --running;
        });
    }
    // Checkers: with a lock of their own held the module is busy whatever the workers do;
    // holding nothing, the answer is either, and never anything else.
    for (int checker = 0; checker < Checkers; ++checker) {
        threads.emplace_back([&] {
            while (!start.load())
                std::this_thread::yield();
            while (running.load() > 0) {
                IClassFactory* factory = nullptr;
                if (Module().GetClassObject(FilterClassId, IID_IClassFactory,
                                            reinterpret_cast<void**>(&factory)) != S_OK) {
                    failures.Add("DllGetClassObject failed on a checker");
                    return;
                }
                factory->LockServer(TRUE);
                factory->Release();
                for (int ask = 0; ask < 20; ++ask, ++checks) {
                    const HRESULT answer = Module().CanUnloadNow();
                    if (answer != S_FALSE)
                        failures.Add("DllCanUnloadNow answered " + Hex(answer) +
                                     " while a checker held a lock");
                }
                if (Module().GetClassObject(FilterClassId, IID_IClassFactory,
                                            reinterpret_cast<void**>(&factory)) != S_OK) {
                    failures.Add("DllGetClassObject failed on a checker");
                    return;
                }
                factory->LockServer(FALSE);
                factory->Release();
                for (int ask = 0; ask < 20; ++ask, ++checks) {
                    const HRESULT answer = Module().CanUnloadNow();
                    if (answer == S_FALSE)
                        ++busyAnswers;
                    else if (answer != S_OK)
                        failures.Add("DllCanUnloadNow answered " + Hex(answer));
                }
                std::this_thread::yield();
            }
        });
    }
    start = true;
    for (std::thread& thread : threads)
        thread.join();

    failures.Report();
    EXPECT_EQ(sessions.load(), static_cast<unsigned>(Workers * Loops * 2));
    EXPECT_EQ(Module().CanUnloadNow(), S_OK) << "objects or locks outlived the threads";
    if (Module().Linked) {
        EXPECT_EQ(ModuleObjectCount, 0);
    }
    std::cout << "[concurrency] " << Module().Name << ": " << Workers << " workers x " << Loops
              << " loops (" << sessions.load() << " documents filtered, " << Workers * Loops * 3
              << " factories, " << Workers * Loops << " lock pairs), " << Checkers
              << " checkers (" << checks.load() << " DllCanUnloadNow answers, "
              << busyAnswers.load() << " busy while holding nothing)\n";
    RecordProperty("documents_filtered", std::to_string(sessions.load()));
    RecordProperty("unload_checks", std::to_string(checks.load()));
}

// Whether the module may be unloaded is asked while other threads lock and unlock it. The answer
// must come from a read that does not race with the interlocked changes of the count; only
// ThreadSanitizer can tell (the tsan preset), elsewhere this passes.
TEST_P(Concurrency, CanUnloadNowReadsTheCountWithoutARace)
{
    IClassFactory* factory = nullptr;
    ASSERT_EQ(Module().GetClassObject(FilterClassId, IID_IClassFactory,
                                      reinterpret_cast<void**>(&factory)),
              S_OK);
    // The locker starts once the asking has, so that the two overlap however the threads are
    // scheduled; the factory is held throughout, so every answer is S_FALSE.
    std::atomic<bool> asking{false}, done{false};
    std::thread locker([&] {
        while (!asking.load())
            std::this_thread::yield();
        for (int loop = 0; loop < 10000; ++loop) {
            factory->LockServer(TRUE);
            factory->LockServer(FALSE);
        }
        done = true;
    });
    unsigned asked = 0, busy = 0;
    do {
        busy += Module().CanUnloadNow() == S_FALSE ? 1 : 0;
        ++asked;
        asking = true;
    } while (!done.load());
    locker.join();
    EXPECT_EQ(busy, asked);
    factory->Release();
    EXPECT_EQ(Module().CanUnloadNow(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(Modules, Concurrency, ::testing::ValuesIn(FilterModules()),
                         [](const auto& info) { return info.param.Name; });

}  // namespace
