#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

bool FileExists(const std::string& path);
long long FileSize(const std::string& path);
std::string ReadWholeFile(const std::string& path);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
