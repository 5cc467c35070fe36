#include "OrvaneMesh.h"

namespace Orvanes {

// Defined out of line so the vtable has one home, inside the library.
PhotosProgressBar::~PhotosProgressBar() = default;

}  // namespace Orvanes
