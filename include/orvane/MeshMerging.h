// The same solids in far fewer triangles: coplanar neighbouring faces of lattice meshes merged.
#pragma once
#include "OrvaneExport.h"
#include "OrvaneMesh.h"

namespace Orvanes {

// Merges the flat, axis-aligned faces of a lattice mesh (the voxel meshes CreateMeshFromVox
// makes, and the height-map bodies CreateMeshByHeightMap makes) and triangulates each flat
// region again with vertices only where the surface turns: no point inside a flat region or
// along a straight crease between two keeps a vertex, unless a kept triangle or two solids
// touching there need it, so a closed surface comes out with about two triangles per vertex it
// must have. The solid, its volume and every cross-section stay as they were: every vertex
// keeps the coordinates of an input vertex (in
// meshes whose faces are not all unit cells of the lattice, a point no input vertex stands on
// takes its coordinates from input vertices on each axis).
//
// A face takes part when it is an axis-aligned rectangle split into two triangles; every other
// triangle (the sloped tops and walls of a height map) is kept as it is. The result is closed
// and wound like the input, and has no T-junction: every vertex that lies on an edge is an end of
// that edge. Where two solids of the input touch only along an edge or at a corner, each gets its
// own vertices there, so every edge of the result belongs to exactly two triangles; where the
// two meet again around both ends of such an edge, each gets its own vertex in the edge's middle
// (the one kind of point the input does not have). At such edges the triangles of one solid
// follow each other, so readers that pair triangles by position in file order (STL) pair them
// as the mesh does.
//
// Coordinates within a millionth of the largest coordinate of each other count as one (the
// meshers' turn leaks a few parts in 10^8 of one coordinate into another): a mesh whose distinct
// points lie closer than that, such as a few millimetres of picture under kilometre-high tops,
// is outside what the merge keeps closed.
//
// Throws std::invalid_argument for a face index outside the vertices or a face on a vertex
// that is not finite, and std::length_error when an axis has more than 2^19 distinct coordinates.
ORVANE_EXPORT OrvaneMesh MergeCoplanarFaces(const OrvaneMesh& mesh);

}  // namespace Orvanes
