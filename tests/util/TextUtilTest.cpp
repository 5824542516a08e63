#include "util/TextUtil.h"
#include <gtest/gtest.h>
TEST(TextUtil, Placeholder) {
    EXPECT_EQ(GetFileSizeString(1023), "1023 Bytes");
}
