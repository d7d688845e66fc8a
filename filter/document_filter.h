// The filter object: the host names a document through IPersistFile and takes its text through
// IFilter, one chunk per text story, in pieces of the host's buffer size.
#pragma once

#include "platform/platform.h"

class DocumentFilter final : public IFilter, public IPersistFile {
public:
    // Makes an object with one reference, counted in ModuleObjectCount; null when out of
    // memory. Release the last reference to tear it down.
    static DocumentFilter* Create();
    // Tears down an object and frees its memory without going through Release (for an object
    // whose first QueryInterface failed).
    static void Discard(DocumentFilter* filter);

    // IUnknown, shared by both interfaces.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IFilter
    SCODE STDMETHODCALLTYPE Init(ULONG grfFlags, ULONG cAttributes,
                                 const FULLPROPSPEC* aAttributes, ULONG* pFlags) override;
    SCODE STDMETHODCALLTYPE GetChunk(STAT_CHUNK* pStat) override;
    SCODE STDMETHODCALLTYPE GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) override;
    SCODE STDMETHODCALLTYPE GetValue(PROPVARIANT** ppPropValue) override;
    SCODE STDMETHODCALLTYPE BindRegion(FILTERREGION origPos, REFIID riid, void** ppunk) override;

    // IPersistFile
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR pszFileName, DWORD dwMode) override;
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR pszFileName, BOOL fRemember) override;
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR pszFileName) override;
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* ppszFileName) override;

private:
    DocumentFilter();
    ~DocumentFilter();
    DocumentFilter(const DocumentFilter&) = delete;
    DocumentFilter& operator=(const DocumentFilter&) = delete;

    void DropText();

    HANDLE DocumentHandle;
    LONG volatile RefCount;
    WCHAR* FileName;
    DWORD TextLength;
    DWORD ReadPosition;
    DWORD NextChunkId;
    BOOL ContentsRequested;
    WCHAR* TextBuffer;
};
