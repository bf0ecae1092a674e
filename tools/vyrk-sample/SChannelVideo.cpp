#include "SChannelVideo.h"

#include "CAnnexBSource.h"
#include "CVideoEncoder.h"
#include "FindNalUnit.h"
#include "NalUnitTypes.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

namespace {

constexpr int kAccessUnitDelimiter = 35;
constexpr int kLastIrap = 23; // IRAP types run from BLA (16) to the reserved 23

// The channel's access units in decode order, and for encoded ones their picture indices.
bool LoadUnits(const SSampleOptions& o, int channel, Units& units,
               std::vector<int64_t>& pictureIndices, std::string& error) {
    auto input = o.hevcInputs.find(channel);
    if (input != o.hevcInputs.end())
        return CAnnexBSource::Load(input->second, units, error);
    CVideoEncoder::Settings settings = o.video;
    settings.firstPicture = static_cast<int>(o.FirstPicture(channel));
    const int total = static_cast<int>(o.TotalPictures()) - settings.firstPicture;
    // Repeating would repeat the undecodable pictures of a cut too.
    const bool repeat =
        o.uniquePictures > 0 && o.flashSeconds.empty() && o.cutsBeforeIrap.count(channel) == 0;
    const int pictures = repeat ? std::min(o.uniquePictures, total) : total;
    CVideoEncoder encoder(settings, channel);
    return encoder.Open(error) && encoder.Encode(pictures, units, pictureIndices, error);
}

int NalType(const uint8_t* nal) {
    return (nal[0] >> 1) & 0x3F;
}

template <typename F> void ForEachNal(const std::vector<uint8_t>& unit, F&& f) {
    ForEachNalUnit(unit.data(), static_cast<int32_t>(unit.size()), std::forward<F>(f));
}

bool IsIrap(const std::vector<uint8_t>& unit) {
    int sliceType = -1;
    ForEachNal(unit, [&](const uint8_t* nal, int32_t) {
        if (sliceType < 0 && NalType(nal) <= kHevcLastVcl)
            sliceType = NalType(nal);
    });
    return sliceType >= kHevcFirstBla && sliceType <= kLastIrap;
}

// The VPS, SPS, PPS and prefix SEI in front of the access unit's first slice, each behind a
// four-byte start code.
std::vector<uint8_t> LeadingParameterSets(const std::vector<uint8_t>& unit) {
    static const uint8_t kStartCode[] = {0, 0, 0, 1};
    std::vector<uint8_t> sets;
    bool sliceSeen = false;
    ForEachNal(unit, [&](const uint8_t* nal, int32_t length) {
        const int type = NalType(nal);
        sliceSeen = sliceSeen || type <= kHevcLastVcl;
        if (!sliceSeen &&
            (type == kHevcVps || type == kHevcSps || type == kHevcPps || type == kHevcPrefixSei)) {
            sets.insert(sets.end(), kStartCode, kStartCode + 4);
            sets.insert(sets.end(), nal, nal + length);
        }
    });
    return sets;
}

// Puts the parameter sets at the front of the access unit, behind its delimiter when it starts
// with one, as the delimiter has to stay first.
void InsertParameterSets(std::vector<uint8_t>& unit, const std::vector<uint8_t>& sets) {
    size_t at = 0;
    bool first = true;
    ForEachNal(unit, [&](const uint8_t* nal, int32_t length) {
        if (first && NalType(nal) == kAccessUnitDelimiter)
            at = static_cast<size_t>(nal + length - unit.data());
        first = false;
    });
    unit.insert(unit.begin() + static_cast<long>(at), sets.begin(), sets.end());
}

} // namespace

SChannelVideo::Result SChannelVideo::Load(const SSampleOptions& o, int channel) {
    std::string error;
    Units units;
    firstPosition = o.FirstPicture(channel);
    Result result = LoadUnits(o, channel, units, pictures, error) ? Result::Loaded : Result::Failed;
    const auto cut = o.cutsBeforeIrap.find(channel);
    if (result == Result::Loaded && cut != o.cutsBeforeIrap.end() &&
        !CutBeforeIrap(cut->second, units, error))
        result = Result::Uncuttable;
    if (result != Result::Loaded) {
        fprintf(stderr, "vyrk-sample: channel %d: %s\n", channel, error.c_str());
        return result;
    }
    const CAccessUnitCutter cutter(o.paramsRecord, o.mixedStartCodes);
    records.reserve(units.size());
    for (std::vector<uint8_t>& unit : units)
        records.push_back(cutter.Cut(std::move(unit)));
    return Result::Loaded;
}

// Keeps the first random-access picture's parameter sets, moved onto the count access units in
// front of the second one, and everything from there on; the kept units keep their positions.
bool SChannelVideo::CutBeforeIrap(int count, Units& units, std::string& error) {
    std::vector<size_t> iraps;
    for (size_t k = 0; k < units.size() && iraps.size() < 2; ++k)
        if (IsIrap(units[k]))
            iraps.push_back(k);
    if (iraps.size() < 2) {
        error = "--cut-before-irap: the video has no second random-access picture";
        return false;
    }
    if (iraps[1] - iraps[0] <= static_cast<size_t>(count)) {
        error = "--cut-before-irap: only " + std::to_string(iraps[1] - iraps[0] - 1) +
                " access units lie between the first two random-access pictures";
        return false;
    }
    const size_t first = iraps[1] - static_cast<size_t>(count);
    const std::vector<uint8_t> sets = LeadingParameterSets(units[iraps[0]]);
    units.erase(units.begin(), units.begin() + static_cast<long>(first));
    InsertParameterSets(units.front(), sets);
    if (!pictures.empty())
        pictures.erase(pictures.begin(), pictures.begin() + static_cast<long>(first));
    firstPosition += static_cast<int64_t>(first);
    return true;
}
