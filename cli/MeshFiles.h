// Mesh files the tool writes: binary STL through the library's writer, and a 3MF package that
// holds several meshes as separate objects, each with its display colour.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <orvane/OrvaneMesh.h>

#include "OutputFolder.h"

namespace orvane_cli {

struct ColouredMesh {
    std::string name;                   // object and material name shown by slicers
    const Orvanes::OrvaneMesh* mesh = nullptr;
    uint8_t red = 0, green = 0, blue = 0;
};

// Writes mesh as a binary STL file; returns the path. Taken by value: the library's writer takes
// its mesh by value too, so a mesh moved in is never copied.
std::string WriteStl(OutputFolder& folder, const std::string& name, Orvanes::OrvaneMesh mesh);

// The 3D model part of the package: one base material per mesh and one object per mesh that
// has triangles (unreferenced vertices are left out), all placed in the build unmoved so the
// objects stay in register. Lengths are millimetres.
std::string ThreeMfModelXml(const std::vector<ColouredMesh>& meshes);

// The whole 3MF package (a ZIP archive) around ThreeMfModelXml.
std::string ThreeMfPackage(const std::vector<ColouredMesh>& meshes);

}  // namespace orvane_cli
