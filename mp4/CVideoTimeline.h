#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <set>
#include <vector>

// Gives the pictures of one video stream, handed in decode order with the time of their record
// and their picture order count, presentation and decode times in the stream's time base.
//
// The record times of a reorder window are the window's presentation times, in whatever order
// the camera stamped them (in decode order, or each picture with its own capture time): the
// smallest time of the window goes to the picture that is output first, the picture with the
// smallest order count. A picture is output once more pictures wait than the stream's reorder
// depth, or when a picture starts a new sequence (its order count starts again). Decode times run
// that many pictures behind: the i-th picture in decode order is decoded at the presentation time
// of the (i - depth)-th picture in output order. So decode times rise strictly, and no picture is
// presented before it is decoded.
class CVideoTimeline {
public:
    struct STimes {
        int64_t pts = 0;
        int64_t dts = 0;
        int64_t duration = 0;
    };

    static constexpr int kMaxReorderDepth = 16;

    // reorderDepth: pictures that may precede a picture in output order while following it in
    // decode order (the sequence parameter set's max_num_reorder_pics). frameDuration: a
    // picture's duration where the times do not tell it yet.
    CVideoTimeline(int reorderDepth, int64_t frameDuration);

    // The next picture in decode order. startsSequence: its order count starts again (an IDR or
    // BLA picture, or a CRA after an end of sequence), so every picture before it is output first.
    void Add(int64_t stamp, int64_t orderCount, bool startsSequence);
    // Times of the oldest picture not yet taken, in decode order; false while they are not known.
    bool Next(STimes& times);
    // No picture follows: every waiting picture gets its times.
    void Flush();

    int ReorderDepth() const { return m_nDepth; }

private:
    struct SPicture {
        int64_t index;
        int64_t orderCount;
        int64_t pts;
        bool hasPts;
    };

    void OutputOne();
    void OutputAll();
    bool OutputTime(int64_t position, int64_t& pts) const;
    bool IsFrameSpacing(__int128 spacing) const;
    int64_t AfterGap(int64_t dts) const;

    int m_nDepth;
    int64_t m_nNominalDuration;
    int64_t m_nFrameDuration;        // the last spacing of presentation times that was a frame's
    std::deque<SPicture> m_pictures; // handed in and not yet taken, in decode order
    std::multiset<int64_t> m_stamps; // record times of the pictures still waiting for output
    std::deque<int64_t> m_outputPts; // presentation times in output order, from m_nOutputBase
    int64_t m_nOutputBase = 0;       // output position of m_outputPts.front()
    int64_t m_nFirstPts = 0;         // presentation time of the first picture output
    int64_t m_nAdded = 0;            // pictures handed in
    int64_t m_nTaken = 0;            // pictures taken by Next
    int64_t m_nLastOutputOrder = 0;  // order count of the last picture output in this sequence
    bool m_bSequenceOutput = false;  // a picture of the current sequence has been output
    int64_t m_nLastPts = INT64_MIN;
    int64_t m_nLastDts = INT64_MIN;
};
