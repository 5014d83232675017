// What a run's textures hold and how the map is read for them: the choices of TextureOutput
// (texture_job.h) met with what the map's file holds.
//
// The texels' type is the one asked for, or the map's own (Auto); the map is read at 8 bits
// when the texels are 8-bit (16-bit samples keep their high byte, as GDI+ gives them, so
// that every 8-bit texture comes of 8-bit samples by the same arithmetic), else at its own
// depth. Its channels: grey where the map or the texels are grey, colour otherwise, alpha
// where both have it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "samples.h"
#include "texture_job.h"

struct TexturePlan {
    SampleLayout output;             // the texels, as the writer takes them
    bool half = false;               // OpenEXR's half floats, of float texels
    SampleLayout working;            // the map's samples as the filters read them
    bool words = true;               // the default: 8-bit RGB words in, a TGA's texels out
    std::vector<std::string> warnings;  // what the default output drops of the map
};

// The plan for a map whose file holds `map` samples, width × height; null, or the message
// that refuses it.
const char* planTextures(const TextureOutput& output, TextureFilter filter, SampleLayout map, std::uint32_t width,
                         std::uint32_t height, TexturePlan& plan);

// The 8-bit RGB words the design reads every map as: what planTextures asks for the
// dialog's output, and what a backend that cannot keep a map's samples gives.
constexpr SampleLayout kWordLayout{SampleType::U8, 3};
