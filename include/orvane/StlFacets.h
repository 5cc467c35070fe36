// The facet records of a binary STL file, a range at a time: GetSTLStream writes its file with
// this, and a host may fill one file's ranges on several threads (the bytes do not depend on
// how the faces are split).
#pragma once
#include <cstddef>

#include "OrvaneExport.h"
#include "OrvaneMesh.h"

namespace Orvanes {

// Writes the 84 bytes that open GetSTLStream's file: its 80-byte header and the face count (the
// low 32 bits of faceCount).
ORVANE_EXPORT void WriteStlHeader(std::size_t faceCount, char* out);

// Writes the 50-byte records of mesh.faces[first, last) to out, which holds 50 * (last - first)
// bytes: the unit normal (zero for a degenerate face), the three corners, two zero bytes; floats
// little-endian. Throws std::out_of_range, naming the first such face of the range, for a face
// with an index outside the vertices (out then holds the records before it), and
// std::invalid_argument unless first <= last <= the face count.
ORVANE_EXPORT void WriteStlFacets(const OrvaneMesh& mesh, std::size_t first, std::size_t last, char* out);

}  // namespace Orvanes
