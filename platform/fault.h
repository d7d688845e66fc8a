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

// The version the stand-in's GetVersionExW reports (platform, major and minor version); NT 6.1
// after a reset. False, changing nothing, where GetVersionExW is the real one.
bool SetReportedVersion(DWORD platformId, DWORD major, DWORD minor);
bool ReportedVersion(DWORD* platformId, DWORD* major, DWORD* minor);
