#pragma once

// How a muxer lays out its file, beyond what the recording decides.
struct SOutputOptions {
    // The index (moov box) at the front of the file, so players can start before they have the
    // whole file. The writer moves it there when the file is finished, reading the file again.
    bool faststart = false;
    // Sample entry `hvc1` instead of `hev1` for H.265, as Apple's players require.
    bool hvc1Tag = false;
};
