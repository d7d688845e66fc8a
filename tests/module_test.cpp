// The class factory and the module's entry points: what DllGetClassObject hands out, what
// CreateInstance makes, reference counts, LockServer and DllCanUnloadNow. Runs against the
// linked filter and, on Windows, against the real CVXFilter.dll.
#include "filter/class_id.h"
#include "filter/module.h"
#include "platform/fault.h"
#include "tests/support/filter_host.h"

#include <gtest/gtest.h>

namespace {

void* const Untouched = reinterpret_cast<void*>(0x1234);

class ModuleTest : public ::testing::TestWithParam<FilterModule> {
protected:
    void SetUp() override
    {
        ASSERT_NE(Module().GetClassObject, nullptr) << "the module did not load";
        ASSERT_EQ(Idle(), S_OK) << "an earlier test left objects alive";
    }
    void TearDown() override
    {
        if (Module().CanUnloadNow != nullptr) {
            EXPECT_EQ(Idle(), S_OK) << "objects outlived their last Release";
        }
    }
    const FilterModule& Module() const { return GetParam(); }
    HRESULT Idle() const { return Module().CanUnloadNow(); }
    IClassFactory* Factory()
    {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(Module().GetClassObject(FilterClassId, IID_IClassFactory,
                                          reinterpret_cast<void**>(&factory)),
                  S_OK);
        return factory;
    }
};

TEST_P(ModuleTest, ServesOnlyTheFilterClass)
{
    const CLSID other = {0x6e1c2d47, 0xa93b, 0x4f20, {0x9d, 0x84, 0x5b, 0x7a, 0x0c, 0x3e, 0x61, 0xf8}};
    void* result = Untouched;
    EXPECT_EQ(Module().GetClassObject(other, IID_IClassFactory, &result), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(result, Untouched);
    EXPECT_EQ(Module().GetClassObject(IID_IFilter, IID_IClassFactory, &result),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(Idle(), S_OK);
}

TEST_P(ModuleTest, FactoryKeepsTheModuleBusyUntilReleased)
{
    for (const IID* iid : {&IID_IClassFactory, &IID_IUnknown}) {
        IUnknown* factory = nullptr;
        ASSERT_EQ(Module().GetClassObject(FilterClassId, *iid, reinterpret_cast<void**>(&factory)),
                  S_OK);
        EXPECT_EQ(Idle(), S_FALSE);
        // The caller holds the only reference.
        EXPECT_EQ(factory->AddRef(), 2u);
        EXPECT_EQ(factory->Release(), 1u);
        EXPECT_EQ(factory->Release(), 0u);
        EXPECT_EQ(Idle(), S_OK);
    }
    // Every call makes a fresh factory.
    IClassFactory* first = Factory();
    IClassFactory* second = Factory();
    EXPECT_NE(first, second);
    first->Release();
    EXPECT_EQ(Idle(), S_FALSE);
    second->Release();
}

TEST_P(ModuleTest, FactoryForAnInterfaceItLacksIsDiscarded)
{
    for (const IID* iid : {&IID_IFilter, &IID_IPersistFile}) {
        void* result = Untouched;
        EXPECT_EQ(Module().GetClassObject(FilterClassId, *iid, &result), E_UNEXPECTED);
        EXPECT_EQ(result, nullptr);
        EXPECT_EQ(Idle(), S_OK);
    }
}

TEST_P(ModuleTest, FactoryInterfaces)
{
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown*>(factory));
    EXPECT_EQ(unknown->Release(), 1u);
    void* result = Untouched;
    EXPECT_EQ(factory->QueryInterface(IID_IFilter, &result), E_NOINTERFACE);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(factory->Release(), 0u);
}

TEST_P(ModuleTest, CreateInstanceHandsOutTheRequestedInterface)
{
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    struct Case {
        const IID* Asked;
        const IID* Expected;  // the interface the answer must be
    };
    const Case cases[] = {{&IID_IPersistFile, &IID_IPersistFile},
                          {&IID_IUnknown, &IID_IPersistFile},
                          {&IID_IPersist, &IID_IPersistFile},
                          {&IID_IFilter, &IID_IFilter}};
    for (const Case& c : cases) {
        IUnknown* object = nullptr;
        ASSERT_EQ(factory->CreateInstance(nullptr, *c.Asked, reinterpret_cast<void**>(&object)), S_OK);
        IUnknown* expected = nullptr;
        ASSERT_EQ(object->QueryInterface(*c.Expected, reinterpret_cast<void**>(&expected)), S_OK);
        EXPECT_EQ(object, expected);
        expected->Release();
        EXPECT_EQ(object->AddRef(), 2u) << "the caller holds the only reference";
        object->Release();
        EXPECT_EQ(object->Release(), 0u);
    }
    // A filter object keeps the module busy, even with its factory gone.
    IFilter* filter = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IFilter, reinterpret_cast<void**>(&filter)), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(Idle(), S_FALSE);
    EXPECT_EQ(filter->Release(), 0u);
}

TEST_P(ModuleTest, CreateInstanceRefusals)
{
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    void* result = Untouched;
    EXPECT_EQ(factory->CreateInstance(factory, IID_IFilter, &result), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(result, Untouched);
    // An interface the filter lacks discards the new object: the result is not E_NOINTERFACE.
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &result), E_UNEXPECTED);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(factory->Release(), 0u);
}

TEST_P(ModuleTest, LockServerCountsLocksAndUnlocks)
{
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(2), S_OK);
    factory->Release();
    factory = Factory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(Idle(), S_FALSE);
    factory = Factory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(Idle(), S_OK);

    // An unlock without a lock is not refused; it only makes the module look idle early.
    factory = Factory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(Idle(), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(Idle(), S_FALSE);
    factory->Release();
}

TEST_P(ModuleTest, NothingIsMadeWithoutMemory)
{
    if (!Module().Linked)
        GTEST_SKIP() << "faults reach only the filter linked into the test program";
    void* result = Untouched;
    ArmFault(FaultObjectAllocate, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(Module().GetClassObject(FilterClassId, IID_IClassFactory, &result), E_OUTOFMEMORY);
    EXPECT_EQ(result, Untouched);
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    ArmFault(FaultObjectAllocate, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IFilter, &result), E_OUTOFMEMORY);
    EXPECT_EQ(result, Untouched);
    EXPECT_EQ(ModuleObjectCount, 1);
    factory->Release();
    EXPECT_EQ(ModuleObjectCount, 0);
}

TEST_P(ModuleTest, EntryRoutineAgreesToEveryReason)
{
    if (!Module().Linked)
        GTEST_SKIP() << "the loaded module's entry routine ran when it was loaded";
#ifdef _WIN32
    HINSTANCE self = GetModuleHandleW(nullptr);
#else
    HINSTANCE self = reinterpret_cast<HINSTANCE>(0x1000);
#endif
    for (DWORD reason : {DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH})
        EXPECT_EQ(DllMain(self, reason, nullptr), TRUE) << reason;
}

INSTANTIATE_TEST_SUITE_P(Modules, ModuleTest, ::testing::ValuesIn(FilterModules()),
                         [](const auto& info) { return info.param.Name; });

}  // namespace
