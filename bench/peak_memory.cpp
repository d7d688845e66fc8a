// Peak memory of extracting one large story through the filter, against the story's size:
//
//   peak_memory [MEGABYTES]      (default 100)
//
// Writes a document holding one story of MEGABYTES MiB of ASCII prose, a block at a time so that
// writing it costs no memory, then reads it through the COM interfaces as a host does (GetText
// into 4096-unit buffers, the text not kept). The process's resident high-water mark is reset
// before the document is read, so the figure is what reading it took above the baseline. Prints
// that, the story body and its text in bytes, and their difference. Exit status 1 when the peak
// exceeds body + text + 1 MiB. Linux only (reads /proc/self).
#include "filter/class_id.h"
#include "filter/module.h"
#include "reader/document_scan.h"
#include "reader/story_text.h"
#include "tests/support/document_builder.h"
#include "tests/support/test_files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

const long long MiB = 1 << 20;

// VmHWM or VmRSS from /proc/self/status, in bytes.
long long StatusBytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::atoll(line.c_str() + std::strlen(field) + 1) * 1024;
    return -1;
}

bool ResetHighWaterMark()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return static_cast<bool>(clear.flush());
}

// One record, one story: the counts, then `textBytes` of single-byte elements, no gap.
bool WriteDocument(const std::filesystem::path& path, long long textBytes)
{
    std::ofstream out(path, std::ios::binary);
    const Bytes preamble(PreambleSize, 0x5A);
    out.write(reinterpret_cast<const char*>(preamble.data()), PreambleSize);
    // The record header and the story's counts, as the builder lays them out.
    StoryLayout empty;
    empty.TextLength = static_cast<LONG>(textBytes);
    empty.Capacity = static_cast<LONG>(textBytes);
    empty.GapPosition = static_cast<LONG>(textBytes);
    Record record = StoryRecord(empty);
    record.Length = static_cast<LONG>(ChunkHeaderSize + StoryHeaderSize + textBytes);
    DocumentLayout headerOnly{Bytes(), {record}};
    const Bytes head = BuildDocument(headerOnly);
    out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
    std::string block;
    while (block.size() < static_cast<size_t>(MiB))
        block += "Words of an ordinary paragraph, set in a frame of the page layout. ";
    for (long long written = 0; written < textBytes;) {
        const long long size = std::min<long long>(textBytes - written, static_cast<long long>(block.size()));
        out.write(block.data(), static_cast<std::streamsize>(size));
        written += size;
    }
    return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char** argv)
{
    const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 100;
    if (megabytes <= 0 || megabytes > 1000) {
        std::fprintf(stderr, "usage: peak_memory [MEGABYTES, 1-1000]\n");
        return 2;
    }
    const long long textBytes = megabytes * MiB;
    const std::filesystem::path path = TestFolder() / "large-story.zcv";
    if (!WriteDocument(path, textBytes)) {
        std::fprintf(stderr, "peak_memory: cannot write %s\n", path.c_str());
        return 2;
    }

    IClassFactory* factory = nullptr;
    IFilter* filter = nullptr;
    IPersistFile* file = nullptr;
    if (DllGetClassObject(FilterClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK ||
        factory->CreateInstance(nullptr, IID_IFilter, reinterpret_cast<void**>(&filter)) != S_OK ||
        filter->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)) != S_OK) {
        std::fprintf(stderr, "peak_memory: no filter object\n");
        return 2;
    }
    WCHAR buffer[4096];
    const WideString name = WidePath(path);
    const long long baseline = StatusBytes("VmRSS:");
    if (!ResetHighWaterMark() || baseline < 0) {
        std::fprintf(stderr, "peak_memory: cannot reset the high-water mark\n");
        return 2;
    }
    ULONG flags = 0;
    unsigned long long units = 0;
    STAT_CHUNK chunk;
    if (file->Load(name.c_str(), STGM_READ) == S_OK &&
        filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags) == S_OK) {
        while (filter->GetChunk(&chunk) == S_OK) {
            for (ULONG count = 4096;; count = 4096) {
                const SCODE result = filter->GetText(&count, buffer);
                if (FAILED(result))
                    break;
                units += count;
                if (result == FILTER_S_LAST_TEXT)
                    break;
            }
        }
    }
    const long long peak = StatusBytes("VmHWM:") - baseline;
    file->Release();
    filter->Release();
    factory->Release();
    std::filesystem::remove(path);

    const long long body = StoryHeaderSize + textBytes;
    const long long text = static_cast<long long>(units) * 2;
    if (units != static_cast<unsigned long long>(textBytes)) {
        std::fprintf(stderr, "peak_memory: read %llu code units, expected %lld\n", units, textBytes);
        return 2;
    }
    const double mib = static_cast<double>(MiB);
    std::printf("story body %.1f MiB, its text %.1f MiB, peak above baseline %.1f MiB: "
                "body + text %+.2f MiB\n",
                body / mib, text / mib, peak / mib, (peak - body - text) / mib);
    return peak <= body + text + MiB ? 0 : 1;
}
