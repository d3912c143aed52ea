#include "common/TempDir.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

namespace GAME::Test {

TempDir::TempDir()
{
    static std::atomic<int> counter{0};
    std::random_device device;
    fs::path base = fs::temp_directory_path();
    for (;;) {
        fs::path candidate = base / ("engine-test-" + std::to_string(device()) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            m_path = candidate.string();
            break;
        }
    }
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

bool TempDir::Write(const std::string& relative, const std::string& bytes) const
{
    fs::path path = fs::path(m_path) / relative;
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string TempDir::Read(const std::string& relative) const
{
    std::ifstream in(fs::path(m_path) / relative, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace GAME::Test
