#include <gtest/gtest.h>

#include "asio/asio.h"

TEST(AsioDeclarations, HaveTwentyFourSlots) { EXPECT_EQ(tavro::asio::kIAsioSlotCount, 24); }
