#pragma once

// H.265 and H.264 NAL unit types the muxer looks at.
enum HevcNal {
    kHevcVps = 32,
    kHevcSps = 33,
    kHevcPps = 34,
    kHevcPrefixSei = 39,
    kHevcLastVcl = 31,
    kHevcFirstBla = 16,
    kHevcIdrWRadl = 19,
    kHevcIdrNLp = 20,
    kHevcLastIdr = 20,
    kHevcCra = 21,
    kHevcLastIrap = 23,
    kHevcRadlN = 6,
    kHevcRadlR = 7,
    kHevcRaslN = 8,
    kHevcRaslR = 9,
    kHevcSuffixSei = 40
};
enum H264Nal { kH264Idr = 5, kH264Sps = 7, kH264Pps = 8 };
