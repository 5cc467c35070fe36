#include <gtest/gtest.h>

#include "FlatBuffers.h"

using Orvanes::LayerEntry;
using Orvanes::detail::LayerListFromFloats;

TEST(FlatLayerList, ReordersEachGroupToBlueFirstAndDropsTheIncompleteTail)
{
    const float colours[10] = {255, 0, 0, 1, 10, 20, 30, 0.5f, 99, 99};
    const std::vector<LayerEntry> entries = LayerListFromFloats(colours, 10);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], LayerEntry(0, 0, 255, 1));
    EXPECT_EQ(entries[1], LayerEntry(30, 20, 10, 0.5f));
}

TEST(FlatLayerList, IsEmptyForShortNegativeOrMissingInput)
{
    const float colours[4] = {1, 2, 3, 4};
    EXPECT_TRUE(LayerListFromFloats(colours, 3).empty());
    EXPECT_TRUE(LayerListFromFloats(colours, 0).empty());
    EXPECT_TRUE(LayerListFromFloats(colours, -8).empty());
    // A count with no array must not be read.
    EXPECT_TRUE(LayerListFromFloats(nullptr, 400).empty());
}
