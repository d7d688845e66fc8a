#include "filter/document_filter.h"

#include <cstring>
#include <new>

#include "errors/file_helpers.h"
#include "filter/class_id.h"
#include "filter/module.h"
#include "platform/fault.h"
#include "reader/document_scan.h"

namespace {

const GUID StoragePropertySet = PSGUID_STORAGE;

bool NamesContents(const FULLPROPSPEC& attribute)
{
    return IsEqualGUID(attribute.guidPropSet, StoragePropertySet) &&
           attribute.psProperty.propid == PID_STG_CONTENTS;
}

SIZE_T NameLength(LPCOLESTR name)
{
    SIZE_T length = 0;
    while (name[length] != 0)
        ++length;
    return length;
}

}  // namespace

DocumentFilter* DocumentFilter::Create()
{
    void* memory = ObjectAllocate(sizeof(DocumentFilter));
    if (memory == nullptr)
        return nullptr;
    return new (memory) DocumentFilter();
}

void DocumentFilter::Discard(DocumentFilter* filter)
{
    filter->~DocumentFilter();
    ObjectFree(filter);
}

DocumentFilter::DocumentFilter()
    : DocumentHandle(INVALID_HANDLE_VALUE),
      RefCount(1),
      FileName(nullptr),
      TextLength(0),
      ReadPosition(0),
      NextChunkId(1),
      ContentsRequested(FALSE),
      TextBuffer(nullptr)
{
    InterlockedIncrement(&ModuleObjectCount);
}

DocumentFilter::~DocumentFilter()
{
    ObjectFree(FileName);
    FileName = nullptr;
    if (DocumentHandle != INVALID_HANDLE_VALUE)
        CloseHandle(DocumentHandle);
    FreeAndClear(&TextBuffer);
    InterlockedDecrement(&ModuleObjectCount);
}

// IUnknown asked of either interface answers with the IPersistFile one, so that both give the
// same identity.
HRESULT STDMETHODCALLTYPE DocumentFilter::QueryInterface(REFIID riid, void** ppv)
{
    IUnknown* found = nullptr;
    if (IsEqualGUID(riid, IID_IFilter))
        found = static_cast<IFilter*>(this);
    else if (IsEqualGUID(riid, IID_IPersistFile) || IsEqualGUID(riid, IID_IPersist) ||
             IsEqualGUID(riid, IID_IUnknown))
        found = static_cast<IPersistFile*>(this);
    *ppv = found;
    if (found == nullptr)
        return E_NOINTERFACE;
    found->AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE DocumentFilter::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&RefCount));
}

ULONG STDMETHODCALLTYPE DocumentFilter::Release()
{
    const LONG count = InterlockedDecrement(&RefCount);
    if (count == 0)
        Discard(this);
    return static_cast<ULONG>(count);
}

void DocumentFilter::DropText()
{
    FreeAndClear(&TextBuffer);
    TextLength = 0;
    ReadPosition = 0;
}

SCODE STDMETHODCALLTYPE DocumentFilter::Init(ULONG grfFlags, ULONG cAttributes,
                                             const FULLPROPSPEC* aAttributes, ULONG* pFlags)
{
    if (cAttributes > 0) {
        if (aAttributes == nullptr)
            return E_INVALIDARG;
        bool wanted = false;
        for (ULONG index = 0; index < cAttributes && !wanted; ++index)
            wanted = NamesContents(aAttributes[index]);
        ContentsRequested = wanted;
    } else {
        ContentsRequested = grfFlags == 0 || (grfFlags & IFILTER_INIT_APPLY_INDEX_ATTRIBUTES) != 0;
    }

    if (FileName == nullptr)
        return E_FAIL;

    if (DocumentHandle != INVALID_HANDLE_VALUE) {
        CloseDocument(DocumentHandle);
        DocumentHandle = INVALID_HANDLE_VALUE;
    }
    // Starting over also ends the chunk in hand: its text belongs to the document just closed.
    DropText();

    OpenDocument(&DocumentHandle, FileName);
    if (DocumentHandle == INVALID_HANDLE_VALUE)
        return FILTER_E_ACCESS;

    *pFlags = IFILTER_FLAGS_OLE_PROPERTIES;
    NextChunkId = 1;
    return S_OK;
}

SCODE STDMETHODCALLTYPE DocumentFilter::GetChunk(STAT_CHUNK* pStat)
{
    if (DocumentHandle == INVALID_HANDLE_VALUE)
        return FILTER_E_ACCESS;
    if (!ContentsRequested)
        return FILTER_E_END_OF_CHUNKS;

    DropText();
    bool atEnd = false;
    // A failed call leaves no text and length 0: no chunk is left with a length and no text.
    if (ReadNextStoryText(DocumentHandle, &atEnd, &TextBuffer, &TextLength)) {
        // Out of memory for one story passes that story over, and the next call goes on with
        // the next one. A document the scan cannot read on is closed, so that every later call
        // answers the same.
        if (!atEnd)
            return E_OUTOFMEMORY;
        CloseDocument(DocumentHandle);
        DocumentHandle = INVALID_HANDLE_VALUE;
        return FILTER_E_ACCESS;
    }
    if (atEnd)
        return FILTER_E_END_OF_CHUNKS;

    pStat->idChunk = NextChunkId;
    pStat->breakType = CHUNK_NO_BREAK;
    pStat->flags = CHUNK_TEXT;
    pStat->locale = GetSystemDefaultLCID();
    pStat->attribute.guidPropSet = StoragePropertySet;
    pStat->attribute.psProperty.ulKind = PRSPEC_PROPID;
    pStat->attribute.psProperty.propid = PID_STG_CONTENTS;
    pStat->idChunkSource = NextChunkId;
    pStat->cwcStartSource = 0;
    pStat->cwcLenSource = 0;
    ReadPosition = 0;
    ++NextChunkId;
    return S_OK;
}

SCODE STDMETHODCALLTYPE DocumentFilter::GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer)
{
    if (!ContentsRequested || TextLength == 0) {
        *pcwcBuffer = 0;
        return FILTER_E_NO_MORE_TEXT;
    }
    const DWORD remaining = TextLength - ReadPosition;
    const DWORD count = *pcwcBuffer < remaining ? *pcwcBuffer : remaining;
    std::memcpy(awcBuffer, TextBuffer + ReadPosition, static_cast<SIZE_T>(count) * sizeof(WCHAR));
    ReadPosition += count;
    *pcwcBuffer = count;
    if (ReadPosition == TextLength) {
        ReadPosition = 0;
        TextLength = 0;
        return FILTER_S_LAST_TEXT;
    }
    return S_OK;
}

SCODE STDMETHODCALLTYPE DocumentFilter::GetValue(PROPVARIANT** /*ppPropValue*/)
{
    return FILTER_E_NO_VALUES;
}

SCODE STDMETHODCALLTYPE DocumentFilter::BindRegion(FILTERREGION /*origPos*/, REFIID /*riid*/,
                                                   void** /*ppunk*/)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DocumentFilter::GetClassID(CLSID* pClassID)
{
    *pClassID = FilterClassId;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DocumentFilter::IsDirty()
{
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE DocumentFilter::Load(LPCOLESTR pszFileName, DWORD /*dwMode*/)
{
    const SIZE_T length = NameLength(pszFileName);
    ObjectFree(FileName);
    FileName = static_cast<WCHAR*>(ObjectAllocate((length + 1) * sizeof(WCHAR)));
    if (FileName == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(FileName, pszFileName, (length + 1) * sizeof(WCHAR));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DocumentFilter::Save(LPCOLESTR /*pszFileName*/, BOOL /*fRemember*/)
{
    return E_FAIL;
}

HRESULT STDMETHODCALLTYPE DocumentFilter::SaveCompleted(LPCOLESTR /*pszFileName*/)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DocumentFilter::GetCurFile(LPOLESTR* ppszFileName)
{
    if (FileName == nullptr)
        return E_FAIL;
    const SIZE_T bytes = (NameLength(FileName) + 1) * sizeof(WCHAR);
    *ppszFileName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (*ppszFileName == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(*ppszFileName, FileName, bytes);
    return S_OK;
}
