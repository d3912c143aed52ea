// A fresh temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <string>

namespace GAME::Test {

class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, without a trailing slash.
    const std::string& Path() const { return m_path; }
    // Path() + "/" + relative.
    std::string File(const std::string& relative) const { return m_path + "/" + relative; }
    // Writes a file (making its folders) and answers whether it worked.
    bool Write(const std::string& relative, const std::string& bytes) const;
    std::string Read(const std::string& relative) const;

private:
    std::string m_path;
};

} // namespace GAME::Test
