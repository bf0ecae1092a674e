#include "COutputFolders.h"

#include "CFolderLock.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <unistd.h>

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

// The n-th name the naming rule tries for a recording, or "" when that one is passed over.
std::string Candidate(const std::string& recordingPath, int n) {
    const std::string name = FileName(recordingPath);
    const std::string base = name.substr(0, name.find('.'));
    std::string stem = name.substr(0, name.rfind('.'));
    if (!UsableName(stem))
        stem = UsableName(name) ? name : "recording";
    if (n == 0)
        return UsableName(base) ? base : "";
    if (n == 1)
        return stem == base ? "" : stem;
    return stem + "_" + std::to_string(n);
}

// Each channel (N.mp4) in the folder, handed to `visit` until it returns true. Returns the
// errno of a failed read of the folder; a missing folder holds nothing.
template <typename Visit> int ForEachChannelFile(const std::string& folder, Visit visit) {
    std::error_code error;
    fs::directory_iterator entry(folder, error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        const int channel = ChannelOf(entry->path().filename().string());
        if (channel >= 0 && visit(*entry, channel))
            return 0;
    }
    return error && error != std::errc::no_such_file_or_directory ? error.value() : 0;
}

// A temporary file a conversion writes before it names it: ".N.mp4.part", ".N.mp4.XXXXXX.part"
// or the owner file's ".vyrk-source.part".
bool IsTemporaryName(const std::string& name) {
    const std::string part = ".part";
    if (name.size() <= part.size() + 1 || name[0] != '.' ||
        name.compare(name.size() - part.size(), part.size(), part) != 0)
        return false;
    const std::string inner = name.substr(1, name.size() - 1 - part.size());
    if (inner == COutputFolders::kOwnerFile + 1)
        return true;
    const size_t mp4 = inner.find(".mp4");
    return mp4 != std::string::npos && ChannelOf(inner.substr(0, mp4 + 4)) >= 0 &&
           (mp4 + 4 == inner.size() || inner[mp4 + 4] == '.');
}

// Removes what conversions that were killed left behind: with the folder's lock held, no
// other conversion is writing there.
void RemoveStaleTemporaries(const std::string& folder) {
    std::error_code error;
    fs::directory_iterator entry(folder, error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        std::error_code ignored;
        if (IsTemporaryName(entry->path().filename().string()) && entry->is_regular_file(ignored))
            fs::remove(entry->path(), ignored);
    }
}

bool HasChannelFiles(const std::string& folder, int& error) {
    bool found = false;
    error =
        ForEachChannelFile(folder, [&](const fs::directory_entry&, int) { return found = true; });
    return found;
}

// Writes all of `text` to a new file: 0, or the errno.
int WriteNewFile(const std::string& path, const std::string& text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    int error = 0;
    for (size_t done = 0; done < text.size() && error == 0;) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n == 0 || errno != EINTR)
            error = n == 0 ? EIO : errno;
    }
    if (close(fd) != 0 && error == 0)
        error = errno;
    return error;
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
    const std::string recording = Key(recordingPath);
    for (int n = 0;; ++n) {
        const std::string name = Candidate(recordingPath, n);
        const std::string folder = parent + "/" + name + "/";
        const std::string key = Key(folder);
        int unreadable = 0; // taking it will say what is wrong with it
        if (name.empty() || m_taken.count(key) ||
            HoldsOtherRecording(folder, recording, unreadable))
            continue;
        m_taken.insert(key);
        return folder;
    }
}

COutputFolders::Take COutputFolders::ClaimAndTake(const std::string& parent,
                                                  const std::string& recordingPath,
                                                  CFolderLock& lock, std::string& folder,
                                                  int& error) {
    for (int n = 0;; ++n) {
        const std::string name = Candidate(recordingPath, n);
        folder = parent + "/" + name + "/";
        const std::string key = Key(folder);
        if (name.empty() || m_taken.count(key))
            continue;
        const Take take = TakeFolder(folder, recordingPath, lock, error);
        if (take == Take::InUse || take == Take::Foreign)
            continue;
        m_taken.insert(key);
        return take;
    }
}

COutputFolders::Take COutputFolders::TakeFolder(const std::string& folder,
                                                const std::string& recordingPath, CFolderLock& lock,
                                                int& error) {
    error = lock.Acquire(folder);
    if (error == EWOULDBLOCK)
        return Take::InUse;
    if (error != 0)
        return Take::CannotOpen;
    Take take = Take::Taken;
    if (HoldsOtherRecording(folder, Key(recordingPath), error))
        take = Take::Foreign;
    else if (error != 0)
        take = Take::CannotOpen;
    else if ((error = MarkOwner(folder, recordingPath)) != 0)
        take = Take::CannotMark;
    else
        RemoveStaleTemporaries(folder);
    if (take != Take::Taken) {
        if (lock.Created())
            rmdir(folder.c_str());
        lock.Release();
    }
    return take;
}

bool COutputFolders::HoldsOtherRecording(const std::string& folder, const std::string& recording,
                                         int& error) {
    if (!HasChannelFiles(folder, error))
        return false;
    std::ifstream owner(fs::path(folder) / kOwnerFile);
    std::string line;
    return !std::getline(owner, line) || line != recording;
}

void COutputFolders::RecordConversion(const std::string& folder, const std::vector<int>& written,
                                      bool complete) {
    if (complete)
        RemoveOtherChannelFiles(folder, written);
    int unreadable = 0;
    if (!written.empty() || HasChannelFiles(folder, unreadable) || unreadable != 0)
        return;
    unlink((fs::path(folder) / kOwnerFile).c_str());
    rmdir(folder.c_str()); // a folder with anything else in it stays
}

int COutputFolders::MarkOwner(const std::string& folder, const std::string& recordingPath) {
    const std::string path = (fs::path(folder) / kOwnerFile).string();
    const std::string temporary = path + ".part";
    int error = WriteNewFile(temporary, Key(recordingPath) + "\n");
    if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0)
        unlink(temporary.c_str());
    return error;
}

int COutputFolders::RemoveOtherChannelFiles(const std::string& folder,
                                            const std::vector<int>& written) {
    int removed = 0;
    ForEachChannelFile(folder, [&](const fs::directory_entry& entry, int channel) {
        std::error_code ignored;
        if (std::find(written.begin(), written.end(), channel) == written.end() &&
            entry.is_regular_file(ignored) && fs::remove(entry.path(), ignored))
            ++removed;
        return false;
    });
    return removed;
}
