// A benchmark run's own folder under the system's temporary folder, holding the game data it
// writes; while it exists it is the working folder, since the engine writes its settings beside the
// data it reads. The earlier working folder comes back and the folder goes when it ends.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

class BenchFolder
{
public:
    // Makes the folder "<program>_<ticks>", writes the data into it and enters it; Ready() says
    // whether all went well (otherwise a line on standard output says why).
    BenchFolder(const char* program, const std::function<bool(const std::filesystem::path&)>& writeData)
    {
        std::error_code error;
        m_previous = std::filesystem::current_path(error);
        m_path = std::filesystem::temp_directory_path() /
                 (std::string(program) + "_" +
                  std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(m_path, error);
        if (error || !writeData(m_path)) {
            std::printf("%s: cannot write the game data to %s\n", program, m_path.string().c_str());
            return;
        }
        std::filesystem::current_path(m_path, error);
        m_ready = !error;
    }
    ~BenchFolder()
    {
        std::error_code error;
        std::filesystem::current_path(m_previous, error);
        std::filesystem::remove_all(m_path, error);
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    bool Ready() const { return m_ready; }
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_previous, m_path;
    bool m_ready = false;
};
