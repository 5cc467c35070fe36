// A reporter that keeps every value it is sent, for checking progress sequences.
#pragma once
#include <vector>

#include "OrvaneMesh.h"

namespace orvane_test {

class RecordingProgress : public Orvanes::PhotosProgressBar {
public:
    void SetProgress(int percent) override { values.push_back(percent); }
    std::vector<int> values;
};

}  // namespace orvane_test
