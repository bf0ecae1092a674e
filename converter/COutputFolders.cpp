#include "COutputFolders.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string FileName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The channel number of a file the converter writes ("0.mp4", "12.mp4"), or -1.
int ChannelOf(const std::string& name) {
    const size_t dot = name.find('.');
    if (dot == 0 || dot == std::string::npos || name.substr(dot) != ".mp4" || dot > 4)
        return -1;
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!std::all_of(name.begin(), name.begin() + static_cast<long>(dot), digit) ||
        (name[0] == '0' && dot > 1))
        return -1;
    return std::stoi(name.substr(0, dot));
}

// A name that is no folder of its own: empty, "." or "..", or dots alone.
bool UsableName(const std::string& name) {
    return name.find_first_not_of('.') != std::string::npos;
}

bool HasChannelFiles(const std::string& folder) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error))
        if (ChannelOf(entry.path().filename().string()) >= 0)
            return true;
    return false;
}

} // namespace

std::string COutputFolders::Key(const std::string& folder) {
    std::error_code error;
    fs::path path = fs::weakly_canonical(fs::absolute(fs::path(folder), error), error);
    if (error)
        path = fs::absolute(fs::path(folder), error).lexically_normal();
    std::string key = path.string();
    while (key.size() > 1 && key.back() == '/')
        key.pop_back();
    return key;
}

void COutputFolders::Reserve(const std::string& folder) {
    m_taken.insert(Key(folder));
}

std::string COutputFolders::Claim(const std::string& parent, const std::string& recordingPath) {
    const std::string name = FileName(recordingPath);
    const std::string base = name.substr(0, name.find('.'));
    std::string stem = name.substr(0, name.rfind('.'));
    if (!UsableName(stem))
        stem = UsableName(name) ? name : "recording";
    const std::string recording = Key(recordingPath);
    for (const std::string& candidate : {base, stem})
        if (UsableName(candidate) && Take(parent + "/" + candidate + "/", recording))
            return parent + "/" + candidate + "/";
    for (int n = 2;; ++n) {
        const std::string folder = parent + "/" + stem + "_" + std::to_string(n) + "/";
        if (Take(folder, recording))
            return folder;
    }
}

bool COutputFolders::Take(const std::string& folder, const std::string& recording) {
    const std::string key = Key(folder);
    if (m_taken.count(key) || HoldsOtherRecording(folder, recording))
        return false;
    m_taken.insert(key);
    return true;
}

bool COutputFolders::HoldsOtherRecording(const std::string& folder, const std::string& recording) {
    if (!HasChannelFiles(folder))
        return false;
    std::ifstream owner(fs::path(folder) / kOwnerFile);
    std::string line;
    return !std::getline(owner, line) || line != recording;
}

void COutputFolders::RecordConversion(const std::string& folder, const std::string& recordingPath,
                                      const std::vector<int>& written, bool complete) {
    if (!written.empty())
        MarkOwner(folder, recordingPath);
    if (complete)
        RemoveOtherChannelFiles(folder, written);
}

bool COutputFolders::MarkOwner(const std::string& folder, const std::string& recordingPath) {
    const fs::path path = fs::path(folder) / kOwnerFile;
    const fs::path temporary = fs::path(folder) / (std::string(kOwnerFile) + ".part");
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << Key(recordingPath) << "\n";
        if (!out.flush())
            return false;
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    return !error;
}

int COutputFolders::RemoveOtherChannelFiles(const std::string& folder,
                                            const std::vector<int>& written) {
    std::error_code error;
    int removed = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const int channel = ChannelOf(entry.path().filename().string());
        if (channel < 0 || std::find(written.begin(), written.end(), channel) != written.end())
            continue;
        std::error_code ignored;
        if (entry.is_regular_file(ignored) && fs::remove(entry.path(), ignored))
            ++removed;
    }
    return removed;
}
