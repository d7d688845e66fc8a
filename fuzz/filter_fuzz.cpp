// Fuzzes the filter object as a host drives it. The first bytes of the input are the host's
// choices (Init flags, GetText buffer size, when to start over, when to leave a chunk early);
// the rest is the document. Any crash, leak, answer the interfaces do not allow, chunk numbering
// out of order, or object left alive is a finding.
#include "filter/class_id.h"
#include "filter/module.h"
#include "fuzz/scratch_file.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

#define Check(condition) CheckAt(condition, __LINE__)

void CheckAt(bool condition, int line)
{
    if (!condition) {
        std::fprintf(stderr, "filter_fuzz: check on line %d failed\n", line);
        std::abort();
    }
}

struct HostChoices {
    ULONG Flags;
    ULONG BufferSize;
    unsigned RestartAfter;  // chunks taken before a second Init (0: none)
    unsigned LeaveEarly;    // bit n: leave chunk n after its first piece
};

const ULONG FlagChoices[] = {0, IFILTER_INIT_APPLY_INDEX_ATTRIBUTES,
                             IFILTER_INIT_CANON_PARAGRAPHS | IFILTER_INIT_HARD_LINE_BREAKS,
                             IFILTER_INIT_APPLY_INDEX_ATTRIBUTES | IFILTER_INIT_CANON_SPACES};

void Drive(IFilter* filter, const HostChoices& host)
{
    ULONG flags = 0;
    Check(filter->Init(host.Flags, 0, nullptr, &flags) == S_OK);
    std::vector<WCHAR> buffer(host.BufferSize);
    ULONG expectedId = 1;
    bool restarted = false;
    for (unsigned chunk = 0; chunk < 100000; ++chunk) {
        if (!restarted && host.RestartAfter != 0 && chunk == host.RestartAfter) {
            restarted = true;
            Check(filter->Init(host.Flags, 0, nullptr, &flags) == S_OK);
            expectedId = 1;
        }
        STAT_CHUNK stat{};
        const SCODE result = filter->GetChunk(&stat);
        if (result == FILTER_E_END_OF_CHUNKS) {
            Check(filter->GetChunk(&stat) == FILTER_E_END_OF_CHUNKS);
            return;
        }
        Check(result == S_OK || result == E_OUTOFMEMORY);
        if (result != S_OK)
            continue;
        Check(stat.idChunk == expectedId++ && stat.idChunkSource == stat.idChunk);
        Check(stat.flags == CHUNK_TEXT && stat.breakType == CHUNK_NO_BREAK);
        for (;;) {
            ULONG count = host.BufferSize;
            const SCODE text = filter->GetText(&count, buffer.data());
            Check(count <= host.BufferSize);
            if (text == FILTER_E_NO_MORE_TEXT) {
                Check(count == 0);
                break;
            }
            Check(text == S_OK || text == FILTER_S_LAST_TEXT);
            if (text == FILTER_S_LAST_TEXT || (host.LeaveEarly >> (chunk % 8) & 1))
                break;
            Check(count > 0);
        }
    }
    std::abort();  // the chunks did not come to an end
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const BYTE* data, size_t size)
{
    if (size < 4)
        return 0;
    const HostChoices host{FlagChoices[data[0] & 3], 1u + (data[1] | (data[2] & 0x1Fu) << 8),
                           data[3] & 7u, static_cast<unsigned>(data[0] >> 2)};
    const WideString path = WriteScratchFile(data + 4, size - 4);

    IClassFactory* factory = nullptr;
    Check(DllGetClassObject(FilterClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory)) == S_OK);
    IFilter* filter = nullptr;
    Check(factory->CreateInstance(nullptr, IID_IFilter, reinterpret_cast<void**>(&filter)) == S_OK);
    factory->Release();
    IPersistFile* persist = nullptr;
    Check(filter->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)) == S_OK);
    Check(persist->Load(path.c_str(), STGM_READ) == S_OK);
    persist->Release();
    Drive(filter, host);
    Check(filter->Release() == 0);
    Check(DllCanUnloadNow() == S_OK);
    return 0;
}
