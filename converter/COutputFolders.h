#pragma once

#include <set>
#include <string>
#include <vector>

// Gives each recording of one export a folder of its own. A recording's folder is named after
// its file name up to the first '.'; when an earlier recording of the export (or a folder
// reserved beforehand) already has that folder, the name without the extension is tried, then
// that name with "_2", "_3", ... appended.
class COutputFolders {
public:
    // Keeps a folder out of use, such as the folder of an entry converted earlier.
    void Reserve(const std::string& folder);
    // The recording's folder under `parent`, as parent + "/" + name + "/", now taken.
    std::string Claim(const std::string& parent, const std::string& recordingPath);

    // Removes the channel files (N.mp4) in `folder` that are not among `written`, so the folder
    // holds the files of one conversion only. Other files are left alone. Returns how many
    // files were removed.
    static int RemoveOtherChannelFiles(const std::string& folder, const std::vector<int>& written);

private:
    static std::string Key(const std::string& folder);
    bool Take(const std::string& folder);

    std::set<std::string> m_taken;
};
