#pragma once

#include <set>
#include <string>
#include <vector>

class CFolderLock;

// Gives each recording of one export a folder of its own, and never one holding the channel
// files of another recording, nor one another conversion is writing into.
//
// A recording's folder is named after its file name up to the first '.'; when that folder is
// taken, the name without the extension is tried, then that name with "_2", "_3", ...
// appended. A folder is taken when an earlier recording of the export (or Reserve) has it, when
// it holds channel files (N.mp4) that, by its owner file, are not this recording's, or (for
// ClaimAndTake) while another conversion holds its lock.
class COutputFolders {
public:
    // The file naming, in its first line, the recording whose files a folder holds.
    static constexpr const char* kOwnerFile = ".vyrk-source";

    // How taking a folder for a conversion ended.
    enum class Take {
        Taken,      // locked, and named the recording's in its owner file
        InUse,      // another conversion holds its lock
        Foreign,    // it holds channel files of another recording
        CannotOpen, // it cannot be made or read as a folder (error: errno)
        CannotMark, // its owner file cannot be written (error: errno)
    };

    // Keeps a folder out of use, such as the folder of an entry converted earlier.
    void Reserve(const std::string& folder);
    // The recording's folder under `parent`, as parent + "/" + name + "/", now taken within
    // this object. It is named in advance only: take it with TakeFolder when its conversion
    // starts.
    std::string Claim(const std::string& parent, const std::string& recordingPath);
    // As Claim, but each candidate is taken at once with TakeFolder, and one in use by another
    // conversion or holding another recording's files is passed over. `folder` is the folder
    // taken, or the one that failed.
    Take ClaimAndTake(const std::string& parent, const std::string& recordingPath,
                      CFolderLock& lock, std::string& folder, int& error);

    // Takes `folder` for converting the recording: creates it (one level) and locks it with
    // `lock`, which the caller holds until the conversion has ended and RecordConversion has
    // settled the folder. Under the lock it checks that the folder holds no other recording's
    // channel files and writes the owner file. Unless Taken, the lock is given up again and a
    // folder created for it removed.
    static Take TakeFolder(const std::string& folder, const std::string& recordingPath,
                           CFolderLock& lock, int& error);
    // After a conversion into `folder`, its lock still held: once complete (read to its end)
    // the channel files it did not write are removed; when it wrote none and the folder holds
    // no channel files, the owner file goes, and the folder too if nothing else is in it.
    static void RecordConversion(const std::string& folder, const std::vector<int>& written,
                                 bool complete);
    // Names the recording in the folder's owner file, replacing it whole. Returns 0, or the
    // errno of the step that failed; nothing of the new file is then left.
    static int MarkOwner(const std::string& folder, const std::string& recordingPath);
    // Removes the channel files (N.mp4) in `folder` that are not among `written`, so the folder
    // holds the files of one conversion only. Other files are left alone. Returns how many
    // files were removed.
    static int RemoveOtherChannelFiles(const std::string& folder, const std::vector<int>& written);

private:
    static std::string Key(const std::string& folder);
    // error: why the folder could not be read (0 when it is readable or missing).
    static bool HoldsOtherRecording(const std::string& folder, const std::string& recording,
                                    int& error);

    std::set<std::string> m_taken;
};
