#pragma once

#include <set>
#include <string>
#include <vector>

// Gives each recording of one export a folder of its own, and never one holding the channel
// files of another recording.
//
// A recording's folder is named after its file name up to the first '.'; when that folder is
// taken, the name without the extension is tried, then that name with "_2", "_3", ...
// appended. A folder is taken when an earlier recording of the export (or Reserve) has it, or
// when it holds channel files (N.mp4) that, by its owner file, are not this recording's.
class COutputFolders {
public:
    // The file naming, in its first line, the recording whose files a folder holds.
    static constexpr const char* kOwnerFile = ".vyrk-source";

    // Keeps a folder out of use, such as the folder of an entry converted earlier.
    void Reserve(const std::string& folder);
    // The recording's folder under `parent`, as parent + "/" + name + "/", now taken.
    std::string Claim(const std::string& parent, const std::string& recordingPath);

    // After a conversion into `folder`: a folder that received files is marked as the
    // recording's, and once the conversion is complete the channel files it did not write
    // are removed.
    static void RecordConversion(const std::string& folder, const std::string& recordingPath,
                                 const std::vector<int>& written, bool complete);
    // Records that `folder` holds files of the recording; call once a file is written there.
    static bool MarkOwner(const std::string& folder, const std::string& recordingPath);
    // Removes the channel files (N.mp4) in `folder` that are not among `written`, so the folder
    // holds the files of one conversion only. Other files are left alone. Returns how many
    // files were removed.
    static int RemoveOtherChannelFiles(const std::string& folder, const std::vector<int>& written);

private:
    static std::string Key(const std::string& folder);
    static bool HoldsOtherRecording(const std::string& folder, const std::string& recording);
    bool Take(const std::string& folder, const std::string& recording);

    std::set<std::string> m_taken;
};
