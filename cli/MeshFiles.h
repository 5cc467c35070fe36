// Mesh files the tool writes: binary STL through the library's writer, and a 3MF project that
// slicers open as one object made of coloured parts in register.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <orvane/OrvaneMesh.h>

#include "OutputFolder.h"

namespace orvane_cli {

struct ThreeMfPart {
    std::string name;  // shown by slicers
    const Orvanes::OrvaneMesh* mesh = nullptr;
    uint8_t red = 0, green = 0, blue = 0;
    int extruder = 1;  // from 1
};

// A filament change (M600) before the first layer in the new colour; printZ is that layer's top.
struct ColourChange {
    double printZ = 0;
    uint8_t red = 0, green = 0, blue = 0;
};

// A part in a palette entry's colour (entries hold blue, green, red, then opacity).
ThreeMfPart PartOf(const std::string& name, const Orvanes::OrvaneMesh* mesh, const Eigen::Vector4f& entry, int extruder);
// A filament change at printZ to a palette entry's colour.
ColourChange ChangeTo(double printZ, const Eigen::Vector4f& entry);

struct ThreeMfProject {
    std::string objectName;
    std::vector<ThreeMfPart> parts;           // in register, one object
    std::vector<ColourChange> colourChanges;  // single-extruder prints only
    double layerHeight = 0, firstLayerHeight = 0;  // 0: not stated
};

// Writes mesh as a binary STL file; returns the path. Taken by value: the library's writer takes
// its mesh by value too, so a mesh moved in is never copied.
std::string WriteStl(OutputFolder& folder, const std::string& name, Orvanes::OrvaneMesh mesh);

// The 3MF package (a ZIP archive). The 3D model holds one object whose mesh lists the parts'
// triangles part after part (unreferenced vertices left out, per-triangle base materials for
// readers of plain 3MF), lifted as a whole so its lowest point stands on the bed. PrusaSlicer's
// metadata beside it makes each part a volume on its extruder, gives every extruder the colour
// of its first part, states the layer heights and the colour changes. Parts without triangles
// are left out but still colour their extruder. Lengths are millimetres. Throws
// std::invalid_argument for a part without a mesh, an extruder below 1, or colour changes in a
// print on several extruders.
std::string ThreeMfPackage(const ThreeMfProject& project);

}  // namespace orvane_cli
