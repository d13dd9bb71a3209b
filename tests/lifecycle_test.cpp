// lifecycle_test.cpp - loading and releasing the one global song.
#include <gtest/gtest.h>

#include "zelto.h"

TEST(Lifecycle, NullPathAndMissingFileFail) {
    ZELTO_Init();
    EXPECT_EQ(ZELTO_Load(nullptr), 0);
    EXPECT_EQ(ZELTO_Load("/nonexistent/song.gp4"), 0);
    ZELTO_Unload();
    ZELTO_Free();
    ZELTO_Free();
}
