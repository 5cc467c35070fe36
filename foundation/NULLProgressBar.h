// The do-nothing reporter that stands in wherever a host passes none.
#pragma once
#include "OrvaneMesh.h"

class NULLProgressBar final : public Orvanes::PhotosProgressBar {
public:
    void SetProgress(int) override {}
};

namespace Orvanes::detail {

// Reports percent when a reporter is present: a host that passes no reporter wants no reports.
inline void Report(PhotosProgressBar* progress, int percent)
{
    if (progress) progress->SetProgress(percent);
}

}  // namespace Orvanes::detail
