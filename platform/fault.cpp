#include "platform/fault.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_map>

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
std::atomic<ULONG> Fired{0};
bool HaveFiredCounts = false;  // guarded by FaultLock, as FiredCounts
ULONG FiredCounts[FaultPointCount];

// Byte accounting: the size of every block held, by address.
std::mutex BytesLock;
std::unordered_map<void*, SIZE_T> HeldBlocks;
SIZE_T BytesHeld = 0, BytesPeak = 0, BytesTotal = 0;

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
    Fired = 0;
    HaveFiredCounts = false;
    Largest = 0;
    ReadLimit = 0;
    Reported = DefaultVersion;
    ResetAllocationCounts();
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
    Fired.fetch_add(1, std::memory_order_relaxed);
    for (int other = 0; other < FaultPointCount; ++other)
        FiredCounts[other] = CallCounts[other].load(std::memory_order_relaxed);
    HaveFiredCounts = true;
    return true;
}

ULONG FaultsFired()
{
    return Fired.load(std::memory_order_relaxed);
}

bool CallCountsAtLastFault(ULONG counts[FaultPointCount])
{
    std::lock_guard<std::mutex> guard(FaultLock);
    if (!HaveFiredCounts)
        return false;
    for (int point = 0; point < FaultPointCount; ++point)
        counts[point] = FiredCounts[point];
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
    void* block = std::calloc(1, size);
    CountAllocation(block, size);
    return block;
}

void ZeroedFree(void* block)
{
    CountRelease(block);
    std::free(block);
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
    void* block = ::operator new(size, std::nothrow);
    CountAllocation(block, size);
    return block;
}

void ObjectFree(void* pointer)
{
    CountRelease(pointer);
    ::operator delete(pointer);
}

void CountAllocation(void* block, SIZE_T size)
{
    if (block == nullptr)
        return;
    std::lock_guard<std::mutex> guard(BytesLock);
    SIZE_T& held = HeldBlocks[block];
    // An address handed out again was released without being counted.
    BytesHeld = BytesHeld - held + size;
    held = size;
    BytesTotal += size;
    if (BytesHeld > BytesPeak)
        BytesPeak = BytesHeld;
}

void CountRelease(void* block)
{
    if (block == nullptr)
        return;
    std::lock_guard<std::mutex> guard(BytesLock);
    auto found = HeldBlocks.find(block);
    if (found == HeldBlocks.end())
        return;  // allocated before the last reset
    BytesHeld -= found->second;
    HeldBlocks.erase(found);
}

SIZE_T AllocatedBytesTotal()
{
    std::lock_guard<std::mutex> guard(BytesLock);
    return BytesTotal;
}

SIZE_T AllocatedBytesPeak()
{
    std::lock_guard<std::mutex> guard(BytesLock);
    return BytesPeak;
}

SIZE_T AllocatedBytesHeld()
{
    std::lock_guard<std::mutex> guard(BytesLock);
    return BytesHeld;
}

void ResetAllocationCounts()
{
    std::lock_guard<std::mutex> guard(BytesLock);
    HeldBlocks.clear();
    BytesHeld = BytesPeak = BytesTotal = 0;
}

#ifdef _WIN32

// GetVersionExW is the system's.
bool SetReportedVersion(DWORD, DWORD, DWORD) { return false; }
bool ReportedVersion(DWORD*, DWORD*, DWORD*) { return false; }

// The system's handles are not ours to count.
ULONG OpenFileHandles() { return 0; }
ULONG OpenKeyHandles() { return 0; }

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
