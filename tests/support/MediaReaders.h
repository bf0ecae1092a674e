#pragma once

#include <optional>
#include <string>
#include <vector>

// How independent programs present a written MP4, edit lists applied: every function runs one
// reader's command-line program on the file. A reader that cannot be run, fails or prints nothing
// usable gives an empty result (read stays false), never a guess.
//
// What the readers are known to do, so that a test compares only where they agree:
// - A leading empty edit delays the track in all of them.
// - Samples before an edit's media time are dropped by ffprobe and GStreamer (AAC priming too).
//   mkvmerge keeps every sample: it places each by the edit (empty edit added, media time taken
//   off), then shifts all tracks alike until the earliest timestamp is 0, so the leading samples
//   come first and the presented ones move later (by the priming's 23 ms in a plain file). Its
//   times are whole milliseconds.
// - When a media time falls inside a picture, ffprobe moves the edit back to that picture's
//   start (all pictures come earlier by the remainder); GStreamer shows it shortened at the
//   edit's start and the others at their exact times.
// - GStreamer stops a track whose edit starts at a media time > 0 at the first sync sample whose
//   media time reaches the movie's duration: every AAC frame is one, so the last media-time's
//   worth of audio is missing there.
// - ffprobe's movie source leaves an audio frame that an edit cuts into at the time of its whole
//   packet: the audio start then reads up to one frame (about 23 ms) early.

// Times in seconds, as the reader presents them.
struct PresentedTimes {
    bool read = false;
    // The video pictures the reader shows, in the order it shows them.
    std::vector<double> videoTimes;
    // The first audio it presents; absent when the file has no audio or the reader does not say.
    std::optional<double> audioStart;
};

// ffprobe on libavfilter's movie source, which decodes as a player does.
PresentedTimes PresentedByFfprobe(const std::string& path);
// gst-launch-1.0, qtdemux and a decodebin per stream: the stream time of each buffer its sinks
// render. Which streams there are comes from ffprobe, since a branch for a missing one would wait.
PresentedTimes PresentedByGstreamer(const std::string& path);
// mkvmerge remuxes into a Matroska file in the folder (removed afterwards), mkvextract lists its
// timestamps.
PresentedTimes PresentedByMkvmerge(const std::string& path, const std::string& folder);

// One track as mediainfo describes it.
struct MediaInfoTrack {
    std::string kind; // "Video", "Audio" or "Other" (a tmcd timecode track)
    // Delay: given only when there is a tmcd track, and then on every video and audio track: the
    // timecode of the first frame (an audio track's Source_Delay has the timecode added as well).
    std::optional<double> delay;
    std::string delaySource;
    // Source_Delay: mediainfo's reading of the edit list. The length of a leading empty edit
    // (the media time after it ignored), or minus the media time of a single edit shorter than
    // the media; absent otherwise, and whenever the edits do not add up to the track's duration.
    std::optional<double> sourceDelay;
    // FrameCount follows the presented duration (empty edits included); Source_FrameCount counts
    // the samples, and mediainfo gives it only when the two differ.
    long long frameCount = -1;
    long long sourceFrameCount = -1;
    std::optional<double> duration;
    std::string firstTimecode; // TimeCode_FirstFrame of a tmcd track, ';' when drop-frame
};

// mediainfo's video tracks, then audio, then timecode; empty when it cannot read the file.
std::vector<MediaInfoTrack> MediaInfoTracks(const std::string& path);
