// Fault injection and call accounting, so that tests can reach every failure path.
//
// Allocation faults work in every build, since zero-filled allocations and object allocations
// go through ZeroedAllocate and ObjectAllocate below. Faults in the system calls work where the calls are our own stand-in;
// FaultInjectable tells a test whether the current build can arm a given point.
#pragma once

#include "platform/platform.h"

enum FaultPoint {
    FaultCreateFile,
    FaultReadFile,
    FaultSetFilePointer,
    FaultGetFileSize,
    FaultCloseHandle,
    FaultFormatMessage,
    FaultAllocate,
    FaultObjectAllocate,
    FaultTaskAllocate,
    FaultRegCreateKey,
    FaultRegOpenKey,
    FaultRegSetValue,
    FaultRegQueryValue,
    FaultRegEnumKey,
    FaultRegEnumValue,
    FaultRegDeleteKey,
    FaultRegDeleteValue,
    FaultRegCloseKey,
    FaultGetVersion,
    FaultPointCount
};

// Arms a fault: after letting `skip` calls through, the next `count` calls at `point` fail and
// leave `error` as the thread's last system error (0 makes a failure that sets no error).
void ArmFault(FaultPoint point, DWORD error, ULONG skip = 0, ULONG count = 1);

// Disarms every fault and resets the call counts, the allocation record, the read limit and the
// reported version.
void ResetFaults();

bool FaultInjectable(FaultPoint point);

// Called by the stand-in and by ZeroedAllocate: counts the call, and returns true with the error
// to report when an armed fault fires.
bool TakeFault(FaultPoint point, DWORD* error);

// Calls seen at a point since the last reset (stand-in calls and allocations only).
ULONG FaultCallCount(FaultPoint point);

// Armed faults that have fired since the last reset.
ULONG FaultsFired();
// The call counts of every point as they stood just after the latest fault that fired since the
// last reset; false when none has fired. Tells which calls were made after a failure.
bool CallCountsAtLastFault(ULONG counts[FaultPointCount]);

// Caps the bytes one stand-in ReadFile call returns (0: no cap), to exercise read loops.
void LimitReadSize(DWORD bytes);
DWORD ReadSizeLimit();

// Zero-filled allocation through the standard library, failing when FaultAllocate fires.
// Records the largest size asked for since the last reset.
void* ZeroedAllocate(SIZE_T size);
SIZE_T LargestAllocation();

// Memory for objects and the names they keep, from the global allocation operators; null when
// out of memory or when FaultObjectAllocate fires. Release it with ObjectFree.
void* ObjectAllocate(SIZE_T size);
void ObjectFree(void* pointer);

// Releases a block from ZeroedAllocate (null is ignored), as std::free does, counting it.
void ZeroedFree(void* block);

// Bytes asked of ZeroedAllocate, ObjectAllocate and the stand-in's CoTaskMemAlloc since the last
// reset: in all, and the most held at once. A block is held from its allocation until it is
// released through ZeroedFree, ObjectFree or CoTaskMemFree, or until the allocator hands its
// address out again (it was then released some other way, as std::free); a block released
// otherwise and not yet reused still counts as held, so the peak never reads low.
SIZE_T AllocatedBytesTotal();
SIZE_T AllocatedBytesPeak();
SIZE_T AllocatedBytesHeld();
// Starts the byte counts afresh (ResetFaults does too); blocks held before are forgotten.
void ResetAllocationCounts();
// Bookkeeping behind the counts, for the stand-in's task allocator.
void CountAllocation(void* block, SIZE_T size);
void CountRelease(void* block);

// Handles the stand-in holds open: files, and registry keys other than the predefined one. Both
// 0 where the calls are the system's.
ULONG OpenFileHandles();
ULONG OpenKeyHandles();

// The version the stand-in's GetVersionExW reports (platform, major and minor version); NT 6.1
// after a reset. False, changing nothing, where GetVersionExW is the real one.
bool SetReportedVersion(DWORD platformId, DWORD major, DWORD minor);
bool ReportedVersion(DWORD* platformId, DWORD* major, DWORD* minor);
