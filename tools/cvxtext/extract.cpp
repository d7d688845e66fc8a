#include "tools/cvxtext/extract.h"

#include <cstring>

namespace {

thread_local ChunkTextSink* Streaming = nullptr;

// Releases a COM interface when it goes out of scope.
template <typename Interface>
struct Held {
    Interface* Pointer = nullptr;
    ~Held()
    {
        if (Pointer != nullptr)
            Pointer->Release();
    }
    void** Out() { return reinterpret_cast<void**>(&Pointer); }
};

void Fail(DocumentText* document, HRESULT result, FilterStep step)
{
    document->Result = result;
    document->FailedStep = step;
}

// The chunk's text, GetText after GetText, until the filter says it was the last piece: to the
// sink when there is one, else to *text.
bool TakeText(IFilter* filter, ChunkTextSink* sink, WideString* text, DocumentText* document)
{
    WCHAR buffer[TextBufferUnits];
    for (;;) {
        ULONG count = TextBufferUnits;
        const SCODE result = filter->GetText(&count, buffer);
        if (result == FILTER_E_NO_MORE_TEXT)
            return true;
        if (result != S_OK && result != FILTER_S_LAST_TEXT) {
            Fail(document, FAILED(result) ? result : E_UNEXPECTED, FilterStep::GetText);
            return false;
        }
        // More than the buffer holds, or an S_OK that brings nothing and would never end, is a
        // filter gone wrong: nothing it says after that can be trusted.
        if (count > TextBufferUnits || (result == S_OK && count == 0)) {
            Fail(document, E_UNEXPECTED, FilterStep::GetText);
            return false;
        }
        if (sink != nullptr)
            sink->ChunkText(buffer, count);
        else
            text->append(buffer, count);
        if (result == FILTER_S_LAST_TEXT)
            return true;
    }
}

}  // namespace

StreamChunkText::StreamChunkText(ChunkTextSink* sink) : Previous(Streaming)
{
    Streaming = sink;
}

StreamChunkText::~StreamChunkText()
{
    Streaming = Previous;
}

DocumentText ExtractDocument(IClassFactory* factory, LPCWSTR path)
{
    DocumentText document;
    ChunkTextSink* const sink = Streaming;
    Held<IPersistFile> file;
    HRESULT result = factory->CreateInstance(nullptr, IID_IPersistFile, file.Out());
    if (FAILED(result) || file.Pointer == nullptr) {
        Fail(&document, FAILED(result) ? result : E_UNEXPECTED, FilterStep::CreateInstance);
        return document;
    }
    result = file.Pointer->Load(path, STGM_READ | STGM_SHARE_DENY_NONE);
    if (FAILED(result)) {
        Fail(&document, result, FilterStep::Load);
        return document;
    }
    Held<IFilter> filter;
    result = file.Pointer->QueryInterface(IID_IFilter, filter.Out());
    if (FAILED(result) || filter.Pointer == nullptr) {
        Fail(&document, FAILED(result) ? result : E_UNEXPECTED, FilterStep::CreateInstance);
        return document;
    }
    ULONG initFlags = 0;
    result = filter.Pointer->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &initFlags);
    if (FAILED(result)) {
        Fail(&document, result, FilterStep::Init);
        return document;
    }

    for (;;) {
        STAT_CHUNK stat{};
        result = filter.Pointer->GetChunk(&stat);
        if (result == FILTER_E_END_OF_CHUNKS)
            return document;
        if (result == E_OUTOFMEMORY) {
            // That story is lost, the rest can still be had.
            ++document.StoriesPassedOver;
            Fail(&document, E_OUTOFMEMORY, FilterStep::GetChunk);
            continue;
        }
        if (FAILED(result)) {
            Fail(&document, result, FilterStep::GetChunk);
            return document;
        }
        ExtractedChunk chunk;
        chunk.Stat = stat;
        if (stat.attribute.psProperty.ulKind == PRSPEC_LPWSTR) {
            // The name belongs to the filter and may not outlive this call.
            if (stat.attribute.psProperty.lpwstr != nullptr)
                chunk.AttributeName = stat.attribute.psProperty.lpwstr;
            chunk.Stat.attribute.psProperty.lpwstr = nullptr;
        }
        DWORD flags = 0;  // read as a number: a filter may set bits the enumeration lacks
        std::memcpy(&flags, &stat.flags, sizeof flags);
        if (sink != nullptr)
            sink->BeginChunk(chunk);
        const bool read = (flags & CHUNK_TEXT) == 0 ||
                          TakeText(filter.Pointer, sink, &chunk.Text, &document);
        if (sink != nullptr)
            sink->EndChunk(chunk);
        document.Chunks.push_back(std::move(chunk));
        if (!read)
            return document;
    }
}
