#include "registration/registration.h"

#include "registration/registry_keys.h"

// The scans go back to the first key after each deletion that changed what they enumerate. A
// deletion that fails changes nothing, so the scan moves past that key instead of meeting it
// again forever.

namespace {

const WCHAR ClassesPrefix[] = U16("CLSID\\");
constexpr unsigned ClassesPrefixLength = sizeof ClassesPrefix / sizeof(WCHAR) - 1;

// The first failure recorded; later ones never replace it.
void Record(LONG* recorded, LONG status)
{
    if (*recorded == ERROR_SUCCESS)
        *recorded = status;
}

LONG OpenClassesRoot(HKEY* root)
{
    return OpenClassesKey(nullptr, root);
}

LONG EnumerateName(HKEY key, DWORD index, WCHAR* name, DWORD room)
{
    DWORD length = room;
    return RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
}

// Removes the persistent handler from every class that names it: the outcome of opening and
// enumerating HKEY_CLASSES_ROOT\CLSID; failures about single classes go to *recorded.
LONG RemoveHandlerFromClasses(LONG* recorded)
{
    HKEY classes = NoKey;
    LONG status = OpenClassesKey(U16("CLSID"), &classes);
    if (status != ERROR_SUCCESS)
        return status;
    KeyPath path;
    SetPath(&path, ClassesPrefix);
    DWORD index = 0;
    for (;;) {
        // The name is read behind the prefix, so it is at most 253 characters (254 with its zero).
        status = EnumerateName(classes, index, path.Text + ClassesPrefixLength,
                               KeyPathSize - ClassesPrefixLength);
        ++index;
        if (status != ERROR_SUCCESS)
            break;
        path.Length = ClassesPrefixLength + TextLength(path.Text + ClassesPrefixLength);
        KeyPath classPath = path;
        // A class whose handler key would not fit the path cannot have been registered here.
        if (!AppendPath(&path, U16("\\PersistentHandler")))
            continue;

        HKEY handler = NoKey;
        if (OpenClassesKey(path.Text, &handler) != ERROR_SUCCESS)
            continue;
        DefaultText value;
        const LONG read = ReadDefaultText(handler, &value);
        CloseKey(&handler);
        if (read != ERROR_SUCCESS) {
            Record(recorded, read);
            continue;
        }
        if (!SameText(value.Text, PersistentHandlerEntry.ClassId))
            continue;

        HKEY classKey = NoKey;
        const LONG opened = OpenClassesKey(classPath.Text, &classKey);
        if (opened != ERROR_SUCCESS) {
            // The class keeps our handler: the module is not wholly unregistered.
            Record(recorded, opened);
            continue;
        }
        const LONG deleted = RegDeleteKeyW(classKey, U16("PersistentHandler"));
        if (deleted == ERROR_SUCCESS)
            index = 0;
        else
            Record(recorded, deleted);
        const LONG left = ProbeSubkeys(classKey);
        CloseKey(&classKey);
        if (left == ERROR_NO_MORE_ITEMS)
            RemoveClassAndProgIds(classPath.Text + ClassesPrefixLength);
    }
    CloseKey(&classes);
    return status == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : status;
}

}  // namespace

LONG UnregisterKeyChain(const LPCWSTR* chain, int count)
{
    KeyPath path;
    SetPath(&path, U16("CLSID"));
    int levels = 0;
    for (int index = 0; index < count; index += 2, ++levels)
        if (!AppendPath(&path, U16("\\")) || !AppendPath(&path, chain[index]))
            return ERROR_INSUFFICIENT_BUFFER;
    if (levels == 0)
        return ERROR_SUCCESS;

    // Deepest first: the first pass only shows that the whole chain is there.
    for (int level = levels - 1; level >= 0; --level) {
        HKEY key = NoKey;
        LONG status = OpenClassesKey(path.Text, &key);
        if (status != ERROR_SUCCESS)
            return status;
        if (level < levels - 1)
            status = RegDeleteKeyW(key, chain[2 * (level + 1)]);
        CloseKey(&key);
        if (status != ERROR_SUCCESS)
            return status;
        CutLastName(&path);
    }
    HKEY classes = NoKey;
    LONG status = OpenClassesKey(path.Text, &classes);
    if (status == ERROR_SUCCESS)
        status = RegDeleteKeyW(classes, chain[0]);
    CloseKey(&classes);
    return status;
}

void RemoveClassAndProgIds(LPCWSTR classId)
{
    HKEY classes = NoKey;
    if (OpenClassesKey(U16("CLSID"), &classes) != ERROR_SUCCESS)
        return;
    RegDeleteKeyW(classes, classId);
    CloseKey(&classes);

    HKEY root = NoKey;
    if (OpenClassesRoot(&root) != ERROR_SUCCESS)
        return;
    KeyPath path;
    for (DWORD index = 0;;) {
        if (EnumerateName(root, index, path.Text, KeyPathSize) != ERROR_SUCCESS)
            break;
        ++index;
        path.Length = TextLength(path.Text);
        KeyPath progId = path;
        // A name too long to take "\CLSID" cannot have been registered here.
        if (!AppendPath(&path, U16("\\CLSID")))
            continue;
        HKEY key = NoKey;
        if (OpenClassesKey(path.Text, &key) != ERROR_SUCCESS)
            continue;
        DefaultText value;
        const LONG read = ReadDefaultText(key, &value);
        CloseKey(&key);
        if (read != ERROR_SUCCESS || !SameText(value.Text, classId))
            continue;
        if (OpenClassesKey(progId.Text, &key) != ERROR_SUCCESS)
            continue;
        if (RegDeleteKeyW(key, U16("CLSID")) == ERROR_SUCCESS)
            index = 0;
        const LONG left = ProbeSubkeys(key);
        CloseKey(&key);
        if (left == ERROR_NO_MORE_ITEMS)
            RemoveProgId(progId.Text);
    }
    CloseKey(&root);
}

void RemoveProgId(LPCWSTR progId)
{
    HKEY root = NoKey;
    if (OpenClassesRoot(&root) != ERROR_SUCCESS)
        return;
    RegDeleteKeyW(root, progId);
    WCHAR name[KeyPathSize];
    for (DWORD index = 0;;) {
        if (EnumerateName(root, index, name, KeyPathSize) != ERROR_SUCCESS)
            break;
        ++index;
        HKEY key = NoKey;
        if (OpenClassesKey(name, &key) != ERROR_SUCCESS)
            continue;
        DefaultText value;
        if (ReadDefaultText(key, &value) != ERROR_SUCCESS || !SameText(value.Text, progId)) {
            CloseKey(&key);
            continue;
        }
        RegDeleteValueW(key, nullptr);
        const LONG left = ProbeSubkeys(key);
        CloseKey(&key);
        if (left == ERROR_NO_MORE_ITEMS && RegDeleteKeyW(root, name) == ERROR_SUCCESS)
            index = 0;
    }
    CloseKey(&root);
}

STDAPI DllUnregisterServer()
{
    LONG recorded = UnregisterKeyChain(HandlerChain, HandlerChainEntries);
    const LONG scan = RemoveHandlerFromClasses(&recorded);
    LONG outcome = scan != ERROR_SUCCESS ? scan : recorded;

    const LONG filter = UnregisterKeyChain(FilterChain, FilterChainEntries);
    if (outcome == ERROR_SUCCESS)
        outcome = filter;
    for (unsigned row = 0; row < DocumentTypeCount; ++row) {
        HKEY key = NoKey;
        LONG status = OpenClassesKey(DocumentTypeTable[row].Extension, &key);
        if (status == ERROR_SUCCESS)
            status = RegDeleteKeyW(key, U16("PersistentHandler"));
        CloseKey(&key);
        if (outcome == ERROR_SUCCESS)
            outcome = status;
    }
    return outcome == ERROR_SUCCESS ? S_OK : S_FALSE;
}
