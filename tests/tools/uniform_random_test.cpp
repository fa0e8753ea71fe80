#include "tools/uniform_random.h"

#include <gtest/gtest.h>

#include <set>

namespace tarrowin {
namespace {

// The generator written the plain way: 64-bit products and remainders instead of the
// overflow-free splitting, seeded from a positive S.
class ReferenceRandom {
   public:
    explicit ReferenceRandom(int64_t s) : seed_(s), second_(s) {
        for (int j = 39; j >= 0; --j) {
            seed_ = seed_ * 40014 % 2147483563;
            if (j < 32) table_[j] = seed_;
        }
        y_ = table_[0];
    }
    float next() {
        seed_ = seed_ * 40014 % 2147483563;
        second_ = second_ * 40692 % 2147483399;
        const int64_t j = y_ / 67108862;
        y_ = table_[j] - second_;
        table_[j] = seed_;
        if (y_ < 1) y_ += 2147483562;
        const float u = static_cast<float>(y_ * 4.656613e-10);
        return u > 0.99999988f ? 0.99999988f : u;
    }

   private:
    int64_t seed_, second_, y_ = 0;
    int64_t table_[32] = {};
};

TEST(UniformRandomTest, FollowsThePlainArithmeticForEverySeed) {
    for (int64_t s : std::initializer_list<int64_t>{1, 2, 53668, 12345, 1700000000, UniformRandom::kMaxSeed}) {
        UniformRandom random(s);
        ReferenceRandom reference(s);
        for (int i = 0; i < 5000; ++i) ASSERT_EQ(random(), reference.next()) << "seed " << s << " draw " << i;
    }
}

TEST(UniformRandomTest, SeedingStoresTheNegatedSeedSoTheFirstDrawInitialises) {
    UniformRandom random(42);
    EXPECT_EQ(random.seed(), -42);
    EXPECT_EQ(random.second(), UniformRandom::kInitialSecond);
    EXPECT_EQ(random.lastOutput(), 0);
    random();
    EXPECT_GT(random.seed(), 0);
    for (int32_t t : random.table()) EXPECT_NE(t, 0);
}

TEST(UniformRandomTest, EverySeedGivesItsOwnFirstDraws) {
    std::set<float> firsts;
    for (int64_t s = 1; s <= 200; ++s) {
        UniformRandom random(s);
        firsts.insert(random());
    }
    EXPECT_EQ(firsts.size(), 200u);
    // Time seeds one second apart differ in their first eight draws too.
    UniformRandom a(1700000000), b(1700000001);
    int same = 0;
    for (int i = 0; i < 8; ++i) same += a() == b() ? 1 : 0;
    EXPECT_LT(same, 8);
}

TEST(UniformRandomTest, SeedsBelowOneCountAsOne) {
    UniformRandom one(1), zero(0), negative(-5), unseeded;
    for (int i = 0; i < 50; ++i) {
        const float u = one();
        EXPECT_EQ(zero(), u);
        EXPECT_EQ(negative(), u);
        EXPECT_EQ(unseeded(), u);
    }
}

TEST(UniformRandomTest, ValuesStayInsideTheOpenUnitInterval) {
    UniformRandom random(7);
    for (int i = 0; i < 200000; ++i) {
        const float u = random();
        ASSERT_GT(u, 0.0f);
        ASSERT_LE(u, 0.99999988f);
    }
}

}  // namespace
}  // namespace tarrowin
