#include "platform/SystemInfo.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <malloc.h>
#include <pwd.h>
#include <random>
#include <set>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>
#include <utility>
#include <vector>

// The sanitizers' allocators keep their own books (and hold freed blocks for a while).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ENGINE_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ENGINE_SANITIZER_ALLOCATOR 1
#endif
#endif
#ifdef ENGINE_SANITIZER_ALLOCATOR
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace GAME::Platform {

namespace {

std::atomic<uint32_t> g_languageId{0x0409};

bool FillRandom(void* buffer, size_t size)
{
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < size) {
        ssize_t got = getrandom(bytes + done, size - done, 0);
        if (got <= 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

bool ReadFirstLine(const std::string& path, std::string& line)
{
    std::ifstream in(path);
    return static_cast<bool>(std::getline(in, line));
}

} // namespace

Guid CreateGuid()
{
    Guid guid;
    uint8_t bytes[16];
    if (!FillRandom(bytes, sizeof(bytes))) {
        std::random_device device;
        for (auto& b : bytes)
            b = static_cast<uint8_t>(device());
    }
    // Version 4, variant 1 like any random GUID.
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
    std::memcpy(&guid.data1, bytes, 4);
    std::memcpy(&guid.data2, bytes + 4, 2);
    std::memcpy(&guid.data3, bytes + 6, 2);
    std::memcpy(guid.data4, bytes + 8, 8);
    return guid; // the version bits make it non-zero
}

uint32_t GetPhysicalCoreCount()
{
    std::set<std::pair<std::string, std::string>> cores;
    DIR* dir = opendir("/sys/devices/system/cpu");
    if (dir) {
        while (dirent* entry = readdir(dir)) {
            const char* name = entry->d_name;
            if (std::strncmp(name, "cpu", 3) != 0 || name[3] < '0' || name[3] > '9')
                continue;
            std::string base = "/sys/devices/system/cpu/";
            base.append(name);
            base.append("/topology/");
            std::string core, package, die;
            if (!ReadFirstLine(base + "core_id", core))
                continue;
            if (!ReadFirstLine(base + "physical_package_id", package))
                package.assign(1, '0');
            // Core ids repeat on each die of a multi-die package.
            if (ReadFirstLine(base + "die_id", die))
                package += ":" + die;
            cores.emplace(package, core);
        }
        closedir(dir);
    }
    if (!cores.empty())
        return static_cast<uint32_t>(cores.size());
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<uint32_t>(online) : 1u;
}

uint32_t GetLogicalProcessorCount()
{
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<uint32_t>(online) : 1u;
}

MemoryStatus GetMemoryStatus()
{
    MemoryStatus status;
    struct sysinfo info;
    if (sysinfo(&info) == 0) {
        status.totalPhysical = static_cast<uint64_t>(info.totalram) * info.mem_unit;
        status.availablePhysical = static_cast<uint64_t>(info.freeram + info.bufferram) * info.mem_unit;
    }
    // Virtual memory: the address-space limit of the process and what it has not used.
    rlimit limit;
    uint64_t total = UINT64_MAX;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        total = limit.rlim_cur;
    uint64_t used = 0;
    std::ifstream statm("/proc/self/statm");
    uint64_t sizePages = 0;
    if (statm >> sizePages)
        used = sizePages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    status.totalVirtual = total;
    status.availableVirtual = total > used ? total - used : 0;
    return status;
}

uint32_t GetCurrentProcessId()
{
    return static_cast<uint32_t>(::getpid());
}

uint64_t GetProcessWorkingSetBytes()
{
    std::ifstream statm("/proc/self/statm");
    uint64_t sizePages = 0, residentPages = 0;
    if (!(statm >> sizePages >> residentPages))
        return 0;
    return residentPages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

uint64_t GetProcessHeapBytes()
{
#ifdef ENGINE_SANITIZER_ALLOCATOR
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return static_cast<uint64_t>(info.uordblks) + info.hblkhd;
#endif
}

namespace {
std::atomic<uint64_t> g_heapReleases{0};
}

void ReleaseFreeHeapMemory()
{
    g_heapReleases.fetch_add(1, std::memory_order_relaxed);
#ifndef ENGINE_SANITIZER_ALLOCATOR
    malloc_trim(0);
#endif
}

uint64_t GetHeapReleaseCount()
{
    return g_heapReleases.load(std::memory_order_relaxed);
}

void LimitKeptHeapMemory()
{
#ifndef ENGINE_SANITIZER_ALLOCATOR
    // Either setting fixes both: the allocator no longer moves them itself.
    constexpr int limit = 4 << 20;
    mallopt(M_MMAP_THRESHOLD, limit);
    mallopt(M_TRIM_THRESHOLD, limit);
#endif
}

std::string GetUserHomeFolder()
{
    long bufferSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(bufferSize > 0 ? static_cast<size_t>(bufferSize) : 16384u);
    passwd entry;
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_dir &&
        result->pw_dir[0]) {
        std::string home = result->pw_dir;
        while (home.size() > 1 && home.back() == '/')
            home.pop_back();
        return home;
    }
    return "/tmp";
}

std::string GetUserDocumentsFolder() { return GetUserHomeFolder() + "/Documents"; }

std::string GetTempFolder() { return "/tmp/"; }

uint32_t GetUserLanguageId() { return g_languageId.load(); }

void SetUserLanguageId(uint32_t languageId) { g_languageId.store(languageId); }

std::string GetLibraryFolder()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&GetLibraryFolder), &info) == 0 || !info.dli_fname)
        return std::string();
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return path.substr(0, slash + 1);
}

} // namespace GAME::Platform
