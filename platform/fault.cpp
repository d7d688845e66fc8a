#include "platform/fault.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>

namespace {

struct ArmedFault {
    bool Armed;
    DWORD Error;
    ULONG Skip;
    ULONG Count;
};

std::mutex FaultLock;
ArmedFault Faults[FaultPointCount];
std::atomic<bool> AnyArmed{false};
std::atomic<ULONG> CallCounts[FaultPointCount];
std::atomic<SIZE_T> Largest{0};
std::atomic<DWORD> ReadLimit{0};

struct Version {
    DWORD PlatformId, Major, Minor;
};
const Version DefaultVersion{2, 6, 1};  // VER_PLATFORM_WIN32_NT 6.1, as Wine reports by default
Version Reported = DefaultVersion;

}  // namespace

void ArmFault(FaultPoint point, DWORD error, ULONG skip, ULONG count)
{
    std::lock_guard<std::mutex> guard(FaultLock);
    Faults[point] = ArmedFault{count > 0, error, skip, count};
    AnyArmed = true;
}

void ResetFaults()
{
    std::lock_guard<std::mutex> guard(FaultLock);
    for (int point = 0; point < FaultPointCount; ++point) {
        Faults[point] = ArmedFault{};
        CallCounts[point] = 0;
    }
    AnyArmed = false;
    Largest = 0;
    ReadLimit = 0;
    Reported = DefaultVersion;
}

bool FaultInjectable(FaultPoint point)
{
#ifdef _WIN32
    return point == FaultAllocate || point == FaultObjectAllocate;
#else
    (void)point;
    return true;
#endif
}

bool TakeFault(FaultPoint point, DWORD* error)
{
    CallCounts[point].fetch_add(1, std::memory_order_relaxed);
    if (!AnyArmed.load(std::memory_order_relaxed))
        return false;
    std::lock_guard<std::mutex> guard(FaultLock);
    ArmedFault& fault = Faults[point];
    if (!fault.Armed)
        return false;
    if (fault.Skip > 0) {
        --fault.Skip;
        return false;
    }
    if (--fault.Count == 0)
        fault.Armed = false;
    *error = fault.Error;
    return true;
}

ULONG FaultCallCount(FaultPoint point)
{
    return CallCounts[point].load(std::memory_order_relaxed);
}

void LimitReadSize(DWORD bytes)
{
    ReadLimit = bytes;
}

DWORD ReadSizeLimit()
{
    return ReadLimit.load(std::memory_order_relaxed);
}

void* ZeroedAllocate(SIZE_T size)
{
    SIZE_T seen = Largest.load(std::memory_order_relaxed);
    while (size > seen && !Largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
    DWORD error = 0;
    if (TakeFault(FaultAllocate, &error))
        return nullptr;
    return std::calloc(1, size);
}

SIZE_T LargestAllocation()
{
    return Largest.load(std::memory_order_relaxed);
}

void* ObjectAllocate(SIZE_T size)
{
    DWORD error = 0;
    if (TakeFault(FaultObjectAllocate, &error))
        return nullptr;
    return ::operator new(size, std::nothrow);
}

void ObjectFree(void* pointer)
{
    ::operator delete(pointer);
}

#ifdef _WIN32

// GetVersionExW is the system's.
bool SetReportedVersion(DWORD, DWORD, DWORD) { return false; }
bool ReportedVersion(DWORD*, DWORD*, DWORD*) { return false; }

#else

bool SetReportedVersion(DWORD platformId, DWORD major, DWORD minor)
{
    std::lock_guard<std::mutex> guard(FaultLock);
    Reported = Version{platformId, major, minor};
    return true;
}

bool ReportedVersion(DWORD* platformId, DWORD* major, DWORD* minor)
{
    std::lock_guard<std::mutex> guard(FaultLock);
    *platformId = Reported.PlatformId;
    *major = Reported.Major;
    *minor = Reported.Minor;
    return true;
}

#endif
