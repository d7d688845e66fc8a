#include "platform/posix/com.h"

#include <cstdlib>
#include <cstring>

#include "platform/fault.h"
#include "platform/posix/system_errors.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IPersist = {0x0000010c, 0x0000, 0x0000, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IPersistFile = {0x0000010b, 0x0000, 0x0000, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IFilter = {0x89bcb740, 0x6119, 0x101a, {0xbc, 0xb7, 0x00, 0xdd, 0x01, 0x06, 0x55, 0xaf}};

LPVOID WINAPI CoTaskMemAlloc(SIZE_T size)
{
    DWORD error = 0;
    if (TakeFault(FaultTaskAllocate, &error))
        return nullptr;
    // The task allocator answers a request of 0 bytes with a valid block.
    void* block = std::malloc(size == 0 ? 1 : size);
    CountAllocation(block, size == 0 ? 1 : size);
    return block;
}

void WINAPI CoTaskMemFree(LPVOID pointer)
{
    CountRelease(pointer);
    std::free(pointer);
}

LONG WINAPI InterlockedIncrement(LONG volatile* addend)
{
    return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedDecrement(LONG volatile* addend)
{
    return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedCompareExchange(LONG volatile* destination, LONG exchange, LONG comparand)
{
    __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

namespace {

struct LocaleName {
    const char* Name;  // language, or language_TERRITORY
    LCID Locale;
};

// Checked in order: a territory match first, then the language alone.
const LocaleName KnownLocales[] = {
    {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0c09}, {"en_CA", 0x1009},
    {"en_NZ", 0x1409}, {"en_IE", 0x1809}, {"en_ZA", 0x1c09}, {"en_IN", 0x4009},
    {"de_DE", 0x0407}, {"de_CH", 0x0807}, {"de_AT", 0x0c07}, {"de_LU", 0x1007},
    {"fr_FR", 0x040c}, {"fr_BE", 0x080c}, {"fr_CA", 0x0c0c}, {"fr_CH", 0x100c},
    {"fr_LU", 0x140c}, {"es_ES", 0x0c0a}, {"es_MX", 0x080a}, {"es_AR", 0x2c0a},
    {"it_IT", 0x0410}, {"it_CH", 0x0810}, {"nl_NL", 0x0413}, {"nl_BE", 0x0813},
    {"pt_BR", 0x0416}, {"pt_PT", 0x0816}, {"sv_SE", 0x041d}, {"sv_FI", 0x081d},
    {"zh_CN", 0x0804}, {"zh_TW", 0x0404}, {"zh_HK", 0x0c04}, {"zh_SG", 0x1004},
    {"en", 0x0409}, {"de", 0x0407}, {"fr", 0x040c}, {"es", 0x0c0a}, {"it", 0x0410},
    {"nl", 0x0413}, {"pt", 0x0816}, {"sv", 0x041d}, {"zh", 0x0804}, {"da", 0x0406},
    {"nb", 0x0414}, {"no", 0x0414}, {"nn", 0x0814}, {"fi", 0x040b}, {"is", 0x040f},
    {"pl", 0x0415}, {"cs", 0x0405}, {"sk", 0x041b}, {"sl", 0x0424}, {"hu", 0x040e},
    {"ro", 0x0418}, {"hr", 0x041a}, {"bg", 0x0402}, {"ru", 0x0419}, {"uk", 0x0422},
    {"el", 0x0408}, {"tr", 0x041f}, {"he", 0x040d}, {"ar", 0x0401}, {"ja", 0x0411},
    {"ko", 0x0412}, {"th", 0x041e}, {"vi", 0x042a}, {"id", 0x0421}, {"ca", 0x0403},
    {"et", 0x0425}, {"lv", 0x0426}, {"lt", 0x0427}, {"ga", 0x083c}, {"eu", 0x042d},
};

const LCID DefaultLocale = 0x0409;

const char* EnvironmentLocale()
{
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0')
            return value;
    }
    return nullptr;
}

}  // namespace

LCID WINAPI GetSystemDefaultLCID()
{
    const char* value = EnvironmentLocale();
    if (value == nullptr)
        return DefaultLocale;
    // language[_TERRITORY][.codeset][@modifier]
    std::size_t language = std::strcspn(value, "_.@");
    std::size_t full = language;
    if (value[language] == '_')
        full += 1 + std::strcspn(value + language + 1, ".@");
    for (std::size_t length : {full, language}) {
        for (const LocaleName& known : KnownLocales) {
            if (std::strlen(known.Name) == length && std::strncmp(known.Name, value, length) == 0)
                return known.Locale;
        }
    }
    return DefaultLocale;
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE module)
{
    if (module == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
