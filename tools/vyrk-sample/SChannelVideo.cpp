#include "SChannelVideo.h"

#include "CAnnexBSource.h"
#include "CVideoEncoder.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

namespace {

// The channel's access units in decode order, and for encoded ones their picture indices.
bool LoadUnits(const SSampleOptions& o, int channel, Units& units,
               std::vector<int64_t>& pictureIndices, std::string& error) {
    auto input = o.hevcInputs.find(channel);
    if (input != o.hevcInputs.end())
        return CAnnexBSource::Load(input->second, units, error);
    CVideoEncoder::Settings settings = o.video;
    settings.firstPicture = static_cast<int>(o.FirstPicture(channel));
    const int total = static_cast<int>(o.TotalPictures()) - settings.firstPicture;
    const bool repeat = o.uniquePictures > 0 && o.flashSeconds.empty();
    const int pictures = repeat ? std::min(o.uniquePictures, total) : total;
    CVideoEncoder encoder(settings, channel);
    return encoder.Open(error) && encoder.Encode(pictures, units, pictureIndices, error);
}

} // namespace

bool SChannelVideo::Load(const SSampleOptions& o, int channel) {
    std::string error;
    Units units;
    if (!LoadUnits(o, channel, units, pictures, error)) {
        fprintf(stderr, "vyrk-sample: channel %d: %s\n", channel, error.c_str());
        return false;
    }
    firstPosition = o.FirstPicture(channel);
    const CAccessUnitCutter cutter(o.paramsRecord, o.mixedStartCodes);
    records.reserve(units.size());
    for (std::vector<uint8_t>& unit : units)
        records.push_back(cutter.Cut(std::move(unit)));
    return true;
}
