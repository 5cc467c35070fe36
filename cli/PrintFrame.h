// Meshes as they are printed: merged, and placed the way a slicer shows them.
#pragma once
#include <vector>

#include <orvane/OrvaneMesh.h>

namespace orvane_cli {

// The side a print is looked at from: a relief from above; a backlit print through the smooth
// face it was printed on, from below.
enum class ViewedFrom { kAbove, kBelow };

// Readies the meshes of one print for its files. Unless exact, each mesh's flat faces are merged
// (the same solid in far fewer triangles) and all of them are moved together: the library's
// meshes come turned by a half turn about y, so seen from above the picture stands upside down
// and the voxel meshes hang below z = 0. The picture is set upright and unmirrored for the side
// it is viewed from, and one shift puts the lowest point on z = 0 and the print's corner at
// x = y = 0. The meshes stay in register with one another. exact keeps the library's meshes as
// they are, byte for byte.
void PreparePrint(const std::vector<Orvanes::OrvaneMesh*>& meshes, bool exact, ViewedFrom side = ViewedFrom::kAbove);

// The placing half of PreparePrint, for meshes merged already.
void PlacePrint(const std::vector<Orvanes::OrvaneMesh*>& meshes, ViewedFrom side);

// Stretches a height-map body (the library's, before PreparePrint) over the whole picture,
// cols x rows pixels of pixelSize: the library puts its points at the pixels' centres, so
// the body falls a pixel short of the print's size and of the voxel meshes it lies on.
void FillPicture(Orvanes::OrvaneMesh& body, int cols, int rows, double pixelSize);

// Pointers to every mesh of meshes.
std::vector<Orvanes::OrvaneMesh*> Pointers(std::vector<Orvanes::OrvaneMesh>& meshes);

}  // namespace orvane_cli
