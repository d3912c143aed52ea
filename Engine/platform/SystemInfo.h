// Facts about the machine and the user: GUIDs, processor cores, memory, user folders and the
// user's language. Safe to call from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace GAME::Platform {

struct Guid
{
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};
};

// A random GUID, never all zero.
Guid CreateGuid();

// Physical processor cores from the operating system's topology (logical siblings of one core
// count once); at least 1.
uint32_t GetPhysicalCoreCount();
uint32_t GetLogicalProcessorCount();

struct MemoryStatus
{
    uint64_t totalPhysical = 0;
    uint64_t availablePhysical = 0;
    uint64_t totalVirtual = 0;
    uint64_t availableVirtual = 0;
};
MemoryStatus GetMemoryStatus();
// The process's id, as the system and its tools (ps, kill) name it.
uint32_t GetCurrentProcessId();
// Resident set size of this process in bytes, 0 when it cannot be read.
uint64_t GetProcessWorkingSetBytes();
// Bytes of the process's heap in live allocations (taken and not yet freed), by the allocator's
// own books: unlike the resident size, it drops as soon as a block is freed, whatever the
// allocator keeps of the freed memory.
uint64_t GetProcessHeapBytes();
// Gives the pages of freed heap blocks back to the system. The allocator keeps what is freed in
// the middle of its heaps (a level's ground, its entities) and reuses it for the blocks that fit.
// Takes each of the allocator's arenas in turn and holds its lock while it walks it: 15 ms on a
// quiet machine's heap of 350 MB, 20 to 400 ms on a busy one, and every thread that allocates
// from that arena meanwhile waits. Nothing under the sanitizers' allocators, which keep their own.
void ReleaseFreeHeapMemory();
// How many times ReleaseFreeHeapMemory was called, by any thread (under the sanitizers too).
uint64_t GetHeapReleaseCount();
// Has the allocator give back, as they are freed, blocks of 4 MiB and more (each mapped on its
// own) and the free top of a heap beyond 4 MiB. Left to itself, it raises both limits as large
// blocks are freed (up to 32 and 64 MiB), so that a process that loads and frees levels in turn
// keeps what they freed until ReleaseFreeHeapMemory, which stops every thread that allocates.
// Process-wide; nothing under the sanitizers' allocators.
void LimitKeptHeapMemory();

// The user's home folder from the password database (no environment variables are read),
// without a trailing slash; "/tmp" when there is none.
std::string GetUserHomeFolder();
// The user's documents folder: home + "/Documents".
std::string GetUserDocumentsFolder();
// The temporary folder, with a trailing slash.
std::string GetTempFolder();

// The user's language as a Windows-style language identifier. Fixed to English (United States),
// 0x0409, unless the host sets another.
uint32_t GetUserLanguageId();
void SetUserLanguageId(uint32_t languageId);

// Folder of the shared object that holds the engine library, with a trailing slash; empty when
// unknown.
std::string GetLibraryFolder();

} // namespace GAME::Platform
