#include "registration/registration.h"

#include "registration/registry_keys.h"

const FilterClassFields FilterClassEntry = {
    U16("{6E1C2D47-A93B-4F20-9D84-5B7A0C3E61F9}"),
    U16("CorvanePro Filter"),
    U16("CVXFilter.dll"),
    U16("Both"),
};

// The filter's class id under the handler has a lower-case 'b'. Registrations in the field
// carry it so, and hosts compare class ids without regard to case.
const PersistentHandlerFields PersistentHandlerEntry = {
    U16("{2B5F8E10-7C34-4A9D-B1E6-93D0F4A7C258}"),
    U16("CorvanePro Persistent Handler"),
    U16("{6E1C2D47-A93b-4F20-9D84-5B7A0C3E61F9}"),
};

const DocumentTypeEntry DocumentTypeTable[DocumentTypeCount] = {
    {U16(".zcv"), U16("CorvanPro.Document"), U16("Corvane Pro Document"),
     U16("{A8D3C61E-5F02-4B7C-8E39-1C6B2F9D04E7}"), U16("Corvane Pro Document")},
};

const LPCWSTR HandlerChain[HandlerChainEntries] = {
    PersistentHandlerEntry.ClassId, PersistentHandlerEntry.Name,
    U16("PersistentAddinsRegistered"), nullptr,
    U16("{89BCB740-6119-101A-BCB7-00DD010655AF}"), PersistentHandlerEntry.FilterClassId,
};

const LPCWSTR FilterChain[FilterChainEntries] = {
    FilterClassEntry.ClassId, FilterClassEntry.Name,
    U16("InprocServer32"), FilterClassEntry.ServerModule,
};

namespace {

const WCHAR PersistentHandlerName[] = U16("PersistentHandler");

// Opens the key in open-only mode (a missing key is *missing, not a failure), else creates or
// opens it and reports whether it is new.
LONG OpenOrCreate(LPCWSTR path, bool openOnly, HKEY* key, bool* isNew, bool* missing)
{
    *isNew = false;
    *missing = false;
    if (openOnly) {
        const LONG status = OpenClassesKey(path, key);
        *missing = status == ERROR_FILE_NOT_FOUND;
        return *missing ? ERROR_SUCCESS : status;
    }
    DWORD disposition = 0;
    const LONG status = CreateClassesKey(path, key, &disposition);
    *isNew = status == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
    return status;
}

// None for an empty text.
LPCWSTR NoneIfEmpty(LPCWSTR text)
{
    return text[0] == 0 ? nullptr : text;
}

}  // namespace

LONG RegisterKeyChain(const LPCWSTR* chain, unsigned count)
{
    KeyPath path;
    SetPath(&path, U16("CLSID"));
    HKEY key = NoKey;
    LONG status = ERROR_SUCCESS;
    for (unsigned index = 0; index < count; index += 2) {
        CloseKey(&key);
        if (!AppendPath(&path, U16("\\")) || !AppendPath(&path, chain[index])) {
            status = ERROR_INSUFFICIENT_BUFFER;
            break;
        }
        status = CreateClassesKey(path.Text, &key, nullptr);
        if (status != ERROR_SUCCESS)
            break;
        if (index + 1 < count && chain[index + 1] != nullptr) {
            status = SetTextValue(key, nullptr, chain[index + 1]);
            if (status != ERROR_SUCCESS)
                break;
        }
    }
    CloseKey(&key);
    return status;
}

LONG SetThreadingModel()
{
    KeyPath path;
    SetPath(&path, U16("CLSID\\"));
    if (!AppendPath(&path, FilterClassEntry.ClassId) || !AppendPath(&path, U16("\\InprocServer32")))
        return ERROR_INSUFFICIENT_BUFFER;
    HKEY key = NoKey;
    LONG status = OpenClassesKey(path.Text, &key);
    if (status == ERROR_SUCCESS)
        status = SetTextValue(key, U16("ThreadingModel"), FilterClassEntry.ThreadingModel);
    CloseKey(&key);
    return status;
}

LONG RegisterClassHandler(const DocumentTypeEntry* entry, LPCWSTR handlerClassId, LPCWSTR classId,
                          bool openOnly)
{
    const bool ownClass = classId == nullptr;
    // The whole path, with the handler's subkey, must fit before anything is written.
    KeyPath path;
    SetPath(&path, U16("CLSID\\"));
    if (!AppendPath(&path, ownClass ? entry->ClassId : classId) ||
        path.Length + 1 + (sizeof PersistentHandlerName / sizeof(WCHAR) - 1) >= KeyPathSize)
        return ERROR_INSUFFICIENT_BUFFER;

    HKEY key = NoKey;
    bool isNew = false, missing = false;
    LONG status = OpenOrCreate(path.Text, openOnly, &key, &isNew, &missing);
    if (status != ERROR_SUCCESS || missing)
        return status;
    if (isNew && ownClass)
        status = SetTextValue(key, nullptr, entry->ClassDescription);
    CloseKey(&key);
    if (status != ERROR_SUCCESS)
        return status;

    AppendPath(&path, U16("\\"));
    AppendPath(&path, PersistentHandlerName);
    status = CreateClassesKey(path.Text, &key, nullptr);
    if (status == ERROR_SUCCESS)
        status = SetTextValue(key, nullptr, handlerClassId);
    CloseKey(&key);
    return status;
}

LONG RegisterProgIdHandler(const DocumentTypeEntry* entry, LPCWSTR handlerClassId,
                           LPCWSTR progId, bool openOnly)
{
    const bool ownProgId = progId == nullptr;
    // ProgID + "\CLSID" must fit: this refuses ProgIDs of 254 characters or more, those of 260
    // or more among them.
    KeyPath path;
    if (!SetPath(&path, ownProgId ? entry->ProgId : progId) || !AppendPath(&path, U16("\\CLSID")))
        return ERROR_INSUFFICIENT_BUFFER;
    CutLastName(&path);

    HKEY key = NoKey;
    bool isNew = false, missing = false;
    LONG status = OpenOrCreate(path.Text, openOnly, &key, &isNew, &missing);
    if (status != ERROR_SUCCESS || missing)
        return status;
    if (isNew && ownProgId)
        status = SetTextValue(key, nullptr, entry->ProgIdDescription);
    CloseKey(&key);
    if (status != ERROR_SUCCESS)
        return status;

    AppendPath(&path, U16("\\CLSID"));
    status = OpenOrCreate(path.Text, openOnly, &key, &isNew, &missing);
    if (status != ERROR_SUCCESS || missing)
        return status;
    DefaultText classId;
    LPCWSTR followed = nullptr;
    status = ReadDefaultText(key, &classId);
    if (status == ERROR_SUCCESS) {
        // A class id with a backslash would lead the handler's key outside its class: refused
        // as a value of the wrong type is.
        if (classId.Type != REG_SZ || !IsKeyName(classId.Text))
            status = E_FAIL;
        followed = NoneIfEmpty(classId.Text);
    } else if (status == ERROR_FILE_NOT_FOUND) {
        if (openOnly) {
            CloseKey(&key);
            return ERROR_SUCCESS;
        }
        status = SetTextValue(key, nullptr, entry->ClassId);
    }
    CloseKey(&key);
    if (status != ERROR_SUCCESS)
        return status;
    return RegisterClassHandler(entry, handlerClassId, followed, openOnly);
}

LONG RegisterExtensionHandler(const DocumentTypeEntry* entry, LPCWSTR handlerClassId,
                              bool openOnly, bool alwaysSetHandler)
{
    if (TextLength(entry->Extension) >= KeyPathSize)
        return ERROR_INSUFFICIENT_BUFFER;
    HKEY key = NoKey;
    DWORD disposition = 0;
    LONG status = CreateClassesKey(entry->Extension, &key, &disposition);
    if (status != ERROR_SUCCESS)
        return status;

    DefaultText progId;
    progId.Text[0] = 0;
    bool writeProgId = true;
    LONG outcome = ERROR_SUCCESS;
    if (disposition == REG_OPENED_EXISTING_KEY) {
        const LONG read = ReadDefaultText(key, &progId);
        if (read == ERROR_SUCCESS) {
            writeProgId = false;
            // A ProgID with a backslash names no single key: refused, and kept, as a value of
            // the wrong type is.
            if (progId.Type != REG_SZ || !IsKeyName(progId.Text))
                outcome = E_FAIL;
        } else if (read != ERROR_FILE_NOT_FOUND) {
            // A value too long to be a ProgID is replaced in create mode. One that could not be
            // read for another reason (access denied, out of memory) may be the user's own
            // association: it is kept, and registration fails.
            outcome = read;
            writeProgId = read == ERROR_MORE_DATA;
        }
    }
    if (writeProgId && !openOnly) {
        outcome = SetTextValue(key, nullptr, entry->ProgId);
        progId.Text[0] = 0;
    }
    if (outcome != ERROR_SUCCESS) {
        CloseKey(&key);
        return outcome;
    }

    HKEY handler = NoKey;
    DWORD created = 0;
    status = RegCreateKeyExW(key, PersistentHandlerName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &handler, &created);
    if (status != ERROR_SUCCESS) {
        CloseKey(&key);
        return status;
    }
    if (alwaysSetHandler || created == REG_CREATED_NEW_KEY)
        status = SetTextValue(handler, nullptr, handlerClassId);
    CloseKey(&handler);
    CloseKey(&key);
    if (status != ERROR_SUCCESS)
        return status;

    if (openOnly && progId.Text[0] == 0)
        return ERROR_SUCCESS;
    return RegisterProgIdHandler(entry, handlerClassId, NoneIfEmpty(progId.Text), openOnly);
}

bool RegistrationOpenOnly()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
           version.dwMajorVersion >= 5;
}

STDAPI DllRegisterServer()
{
    LONG status = RegisterKeyChain(HandlerChain, HandlerChainEntries);
    const bool openOnly = RegistrationOpenOnly();
    if (status == ERROR_SUCCESS) {
        status = RegisterKeyChain(FilterChain, FilterChainEntries);
        if (status == ERROR_SUCCESS)
            status = SetThreadingModel();
    }
    const LPCWSTR handler = PersistentHandlerEntry.ClassId;
    for (unsigned row = 0; row < DocumentTypeCount && status == ERROR_SUCCESS; ++row)
        status = RegisterClassHandler(&DocumentTypeTable[row], handler, nullptr, openOnly);
    for (unsigned row = 0; row < DocumentTypeCount && status == ERROR_SUCCESS; ++row)
        status = RegisterProgIdHandler(&DocumentTypeTable[row], handler, nullptr, openOnly);
    for (unsigned row = 0; row < DocumentTypeCount && status == ERROR_SUCCESS; ++row)
        status = RegisterExtensionHandler(&DocumentTypeTable[row], handler, openOnly, true);
    return status == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}
