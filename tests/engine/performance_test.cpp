#include <gtest/gtest.h>

#include "engine/performance.h"

namespace tarrowin {
namespace {
TEST(PerformancePlaceholder, Builds) { SUCCEED(); }
}  // namespace
}  // namespace tarrowin
