#include <gtest/gtest.h>

#include <cmath>

#include "engine/tuning.h"
#include "support/tuning_files.h"

namespace tarrowin {
namespace {

using testing::tuningFile;

double hz(const Tuning& t, int key) { return 440.0 * std::pow(2.0, (t.key(key).pitch - 69.0) / 12.0); }
double centsBetween(double a, double b) { return 1200.0 * std::log2(a / b); }

struct KeyCase {
    const char* scale;
    const char* map;
    int key;
    double hz;  // 0: the key is not mapped
};

TEST(ScalaFiles, TuneEachKeyToItsFrequency) {
    const double c4 = 440.0 * std::pow(2.0, -9.0 / 12.0);
    const double dJust = 293.6648, cJust = dJust * 8.0 / 9.0;
    const KeyCase cases[] = {
        // Without a map, degree 0 is middle C at its equal-tempered frequency.
        {"12edo.scl", "", 69, 440.0},
        {"12edo.scl", "", 0, 440.0 * std::pow(2.0, -69.0 / 12.0)},
        {"19edo.scl", "", 61, c4 * std::pow(2.0, 1.0 / 19.0)},
        {"19edo.scl", "", 79, 2.0 * c4},
        {"19edo.scl", "", 41, c4 / 2.0},
        {"31edo.scl", "", 62, c4 * std::pow(2.0, 2.0 / 31.0)},
        {"31edo.scl", "", 91, 2.0 * c4},
        {"ji-major.scl", "", 61, c4 * 9.0 / 8.0},
        {"ji-major.scl", "", 64, c4 * std::pow(2.0, 701.955 / 1200.0)},
        {"ji-major.scl", "", 67, 2.0 * c4},
        {"ji-major.scl", "", 53, c4 / 2.0},
        // White keys of the just scale with D tuned to 293.6648 Hz; black keys play nothing.
        {"ji-major.scl", "white-keys-d.kbm", 62, dJust},
        {"ji-major.scl", "white-keys-d.kbm", 60, cJust},
        {"ji-major.scl", "white-keys-d.kbm", 64, cJust * 5.0 / 4.0},
        {"ji-major.scl", "white-keys-d.kbm", 71, cJust * 15.0 / 8.0},
        {"ji-major.scl", "white-keys-d.kbm", 72, 2.0 * cJust},
        {"ji-major.scl", "white-keys-d.kbm", 47, cJust * 15.0 / 32.0},
        {"ji-major.scl", "white-keys-d.kbm", 61, 0},
        {"ji-major.scl", "white-keys-d.kbm", 70, 0},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(std::string(c.scale) + " " + c.map + " key " + std::to_string(c.key));
        const TuningRead<Tuning> t = Tuning::fromText(tuningFile(c.scale), *c.map ? tuningFile(c.map) : "");
        ASSERT_TRUE(t.ok()) << t.error;
        if (c.hz == 0) {
            EXPECT_FALSE(t.value->key(c.key).mapped);
            continue;
        }
        EXPECT_TRUE(t.value->key(c.key).mapped);
        EXPECT_NEAR(centsBetween(hz(*t.value, c.key), c.hz), 0.0, 0.01);
    }
}

TEST(ScalaFiles, DegreesWithinThePeriodAndDeviations) {
    const TuningRead<Tuning> t = Tuning::fromText(tuningFile("19edo.scl"));
    ASSERT_TRUE(t.ok());
    EXPECT_EQ(t.value->degreeInPeriod(60), 0);
    EXPECT_EQ(t.value->degreeInPeriod(59), 18);
    EXPECT_EQ(t.value->degreeInPeriod(80), 1);
    EXPECT_NEAR(t.value->deviationCents(61), 1200.0 / 19 - 100.0, 1e-3);
    // Equal temperament leaves every key where it is.
    const Tuning equal;
    for (int k : {0, 60, 69, 127}) EXPECT_NEAR(equal.key(k).pitch, k, 1e-9);
    EXPECT_TRUE(equal.isEqualTemperament());
}

struct Malformed {
    const char* text;
    const char* message;  // a part of the refusal
};

TEST(ScalaReader, RefusesMalformedScalesNamingTheLine) {
    const Malformed cases[] = {
        {"", "the file ends before its description"},
        {"! only a comment\n", "the file ends before its description"},
        {"name\n", "the file ends before the number of notes"},
        {"name\n three\n", "line 2: the number of notes must be a whole number"},
        {"name\n-2\n", "line 2: the number of notes must be a whole number"},
        {"name\n0\n", "line 2: the scale has no notes"},
        {"name\n2\n100.0\n", "the file ends before degree 2 of 2"},
        {"name\n2\n100.0\n\n2/1\n", "line 4: degree 2 is missing: the line is empty"},
        {"name\n1\n-3/2\n", "line 3: degree 1 is a negative ratio"},
        {"name\n1\n3/0\n", "line 3: degree 1 has a term of 0"},
        {"name\n1\n3/2/1\n", "line 3: degree 1 is neither a ratio nor cents"},
        {"name\n1\nabc\n", "line 3: degree 1 is neither a ratio nor cents"},
        {"name\n1\n2147483648/1\n", "line 3: degree 1 has a term above 2147483647"},
        {"name\n1\n1.2.3\n", "line 3: degree 1 is not a number of cents"},
        {"name\n1\n1e3.\n", "line 3: degree 1 is not a number of cents"},
        {"name\n1\n2000000.0\n", "line 3: degree 1 lies more than 1000000 cents"},
        {"name\r\n2\r\n3/2\r\n1/1\r\n", "line 4: the last degree is the period"},
        {"name\n2\n3/2\n-100.0\n", "line 4: the last degree is the period"},
        {"name\n1\n2/1\n3/2\n", "line 4: the scale has 1 notes, but more follow"},
    };
    for (const Malformed& c : cases) {
        SCOPED_TRACE(c.text);
        const TuningRead<ScalaScale> r = readScalaScale(c.text);
        EXPECT_FALSE(r.ok());
        EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
    }
}

TEST(ScalaReader, AcceptsTheFormatsLiberties) {
    // An empty description, blanks around values, labels after them, CRLF, negative cents
    // before the period, and comments and blank lines at the end.
    const TuningRead<ScalaScale> r = readScalaScale("!c\n\n 3 \n\t-50.0 down\n 3/2\r\n2  octave\n\n! end\n");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value->description, "");
    ASSERT_EQ(r.value->degrees(), 3);
    EXPECT_NEAR(r.value->cents[0], -50.0, 1e-12);
    EXPECT_NEAR(r.value->cents[1], 701.955, 1e-3);
    EXPECT_NEAR(r.value->degreeCents(-1), 701.955 - 1200.0, 1e-3);  // degree 2, a period down
}

TEST(KeyboardMapReader, RefusesMalformedMapsNamingTheLine) {
    const std::string head = "12\n0\n127\n60\n69\n440.0\n12\n";
    const std::string entries = "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n";
    const std::string cases[][2] = {
        {"", "the file ends before the size of the map"},
        {"12\n0\n128\n", "line 3: the last key to retune must be a whole number from 0 to 127"},
        {"12\n64\n60\n", "line 3: the last key to retune (60) lies below the first (64)"},
        {"12\n0\n127\n60\n69\n-440\n", "line 6: the reference frequency must be a number of Hz above 0"},
        {"12\n0\n127\n60\n69\n0.0\n", "line 6: the reference frequency must be a number of Hz above 0"},
        {"12\n0\n127\n60\n69\n440.0\n", "the file ends before the octave degree"},
        {head + "0\n1\ny\n", "line 10: entry 2 of the map (a scale degree or x) must be a whole number"},
        {head + entries + "12\n", "line 20: the map has 12 entries, but more follow"},
        {"12\n0\n127\n60\n70\n440.0\n12\n0\nx\n1\nx\n2\n3\nx\n4\nx\n5\nx\n6\n",
         "line 5: the reference key 70 falls on a key the map leaves unmapped"},
        {"12\n0\n127\n60\n69\n440.0\n12\n0\n1\n", "line 5: the reference key 69 falls on a key the map leaves unmapped"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        const TuningRead<KeyboardMap> r = readKeyboardMap(c[0]);
        EXPECT_FALSE(r.ok());
        EXPECT_NE(r.error.find(c[1]), std::string::npos) << r.error;
    }
}

TEST(KeyboardMapReader, LinearMapAndEntriesLeftOut) {
    const TuningRead<KeyboardMap> linear = readKeyboardMap("0\n0\n127\n60\n69\n440\n0\n");
    ASSERT_TRUE(linear.ok()) << linear.error;
    EXPECT_EQ(linear.value->degreeOf(75, 19), 15);
    // Entries left out at the end are unmapped; keys outside the range keep their pitch.
    const TuningRead<Tuning> t = Tuning::fromText("equal\n12\n" + [] {
        std::string s;
        for (int i = 1; i <= 12; ++i) s += std::to_string(100 * i) + ".0\n";
        return s;
    }(), "12\n48\n72\n60\n60\n261.6255653\n12\n0\n1\n2\n");
    ASSERT_TRUE(t.ok()) << t.error;
    EXPECT_TRUE(t.value->key(62).mapped);
    EXPECT_FALSE(t.value->key(63).mapped);
    EXPECT_TRUE(t.value->key(40).mapped);
    EXPECT_NEAR(t.value->key(40).pitch, 40.0, 1e-6);
    EXPECT_FALSE(t.value->key(40).degree.has_value());
}

TEST(TuningText, Latin1BecomesUtf8AndUtf8StaysAsItIs) {
    EXPECT_EQ(tuningTextAsUtf8("Ptolem\xE4us"), "Ptolem\xC3\xA4us");
    EXPECT_EQ(tuningTextAsUtf8("Ptolem\xC3\xA4us"), "Ptolem\xC3\xA4us");
    EXPECT_FALSE(isUtf8("\xC0\xAF"));  // an overlong "/"
    EXPECT_FALSE(isUtf8("\xED\xA0\x80"));  // a surrogate
    EXPECT_FALSE(isUtf8("ab\xE2\x82"));  // cut short
}

}  // namespace
}  // namespace tarrowin
