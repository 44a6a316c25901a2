// Wavetables: the shapes, the phase, the measures, additive synthesis, pitch ranges and families.
#include "Sonora/AudioFiles/AVAudioFileUtilities.h"
#include "Sonora/AudioFiles/BufferFixtures.h"
#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Internals/Table/Table.h"
#include "Sonora/Internals/Table/TableAdditiveSynthesis.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/foundation/OSLog.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace sonora;
namespace LogSink = platform::LogSink;
using testsupport::ScratchDir;
using V = std::vector<float>;

TEST(Table, ShapesOfFourSamples) {
    const struct {
        TableType::Case type;
        float phase;
        V samples;
    } cases[] = {
        {TableType::square, 0, {-1, -1, 1, 1}},
        {TableType::square, 0.25f, {-1, 1, 1, -1}},
        {TableType::sawtooth, 0, {-1, -0.5f, 0, 0.5f}},
        {TableType::sawtooth, 0.25f, {-0.5f, 0, 0.5f, -1}},
        {TableType::triangle, 0, {-1, 0, 1, 0}},
        {TableType::triangle, 0.25f, {0, 1, 0, -1}},
        {TableType::reverseSawtooth, 0, {1, 0.5f, 0, -0.5f}},
        {TableType::positiveSawtooth, 0, {0, 0.25f, 0.5f, 0.75f}},
        {TableType::positiveReverseSawtooth, 0, {1, 0.75f, 0.5f, 0.25f}},
        {TableType::positiveTriangle, 0, {0, 0.5f, 1, 0.5f}},
        {TableType::positiveSquare, 0.25f, {0, 1, 1, 0}},
        {TableType::zero, 0.25f, {0, 0, 0, 0}},
        {TableType::custom, 0, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        const Table table(c.type, c.phase, 4);
        EXPECT_EQ(table.content(), c.samples) << TableType(c.type).name() << " phase " << c.phase;
        EXPECT_EQ(table.type().kind(), c.type);
    }
}

TEST(Table, SinesUseTheSinglePrecisionCycleAndAnUnreducedIndex) {
    const Table sine(TableType::sine, 0.5f, 8);
    const Table positive(TableType::positiveSine, 0.5f, 8);
    // The partial number multiplies the index but not the offset.
    const Table harmonic(TableType::harmonicPartials({0.5f, 0.25f}), 0.5f, 8);
    const int64_t s = 4;
    for (int64_t i = 0; i < 8; ++i) {
        const float fundamental = std::sin(float(i + s) * 6.2831855f / 8.0f);
        EXPECT_EQ(sine.content()[size_t(i)], fundamental) << i;
        EXPECT_EQ(positive.content()[size_t(i)], fundamental * 0.5f + 0.5f) << i;
        const float expected = fundamental + 0.5f * std::sin(float(2 * i + s) * 6.2831855f / 8.0f) +
                               0.25f * std::sin(float(3 * i + s) * 6.2831855f / 8.0f);
        EXPECT_EQ(harmonic.content()[size_t(i)], expected) << i;
    }
    EXPECT_EQ(harmonic.type().partials(), (V{0.5f, 0.25f}));
    EXPECT_EQ(Table().count(), 4096u);
    EXPECT_EQ(Table().type().kind(), TableType::sine);
    EXPECT_TRUE(Table(TableType::sine, 0, 0).content().empty());
}

TEST(Table, NegativeStoredPhaseKeepsTheRemaindersSign) {
    // −0.25 of four samples is an offset of −1: index 0 maps to −1, which the shapes take as is.
    EXPECT_EQ(Table(TableType::sawtooth, -0.25f, 4).content(), (V{-1.5f, -1, -0.5f, 0}));
    EXPECT_EQ(Table(TableType::square, -0.25f, 4).content(), (V{-1, -1, -1, 1}));
}

TEST(Table, PhaseSetterClampsButInitialisersKeepTheValue) {
    Table table(TableType::sine, 0, 4);
    const struct {
        float set;
        float stored;
    } cases[] = {{1.5f, 1}, {-0.2f, 0}, {0.3f, 0.3f}, {-0.0f, 0}, {1, 1}};
    for (const auto& c : cases) {
        table.setPhase(c.set);
        EXPECT_EQ(table.phase(), c.stored) << c.set;
    }
    table.setPhase(std::nanf(""));
    EXPECT_TRUE(std::isnan(table.phase()));
    EXPECT_EQ(Table(V{1, 2}, 1.5f).phase(), 1.5f);
    EXPECT_EQ(Table(V{1, 2}, 1.5f).type().kind(), TableType::custom);
    EXPECT_EQ(Table(TableType::square, 1.5f, 4).phase(), 1.5f);
}

TEST(Table, MisuseThrows) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_THROW(Table(TableType::square, inf, 4), std::invalid_argument);
    EXPECT_THROW(Table(TableType::sine, std::nanf(""), 4), std::invalid_argument);
    EXPECT_THROW(Table(TableType::sawtooth, 3e18f, 4), std::invalid_argument);
    EXPECT_THROW(Table(TableType::square, 0, -1), std::invalid_argument);
    // Shapes that use no offset, and empty tables, do not form one.
    EXPECT_NO_THROW(Table(TableType::zero, inf, 4));
    EXPECT_NO_THROW(Table(TableType::square, inf, 0));

    Table table(V{1, 2, 3});
    EXPECT_THROW(table[3], std::out_of_range);
    EXPECT_THROW(std::as_const(table)[size_t(-1)], std::out_of_range);
    EXPECT_THROW(table.slice(2, 4), std::out_of_range);
    EXPECT_THROW(table.replaceSubrange(0, 2, {9}), std::invalid_argument);
    EXPECT_THROW(table.addSawtoothHarmonics(0), std::invalid_argument);
    EXPECT_THROW(table.setPulseHarmonics(-1, 0.5f), std::invalid_argument);
    EXPECT_THROW(table.difference(Table(V{1, 2})), std::invalid_argument);
    EXPECT_THROW(Table::split({1, 2, 3}, 0), std::invalid_argument);
    const auto one = std::make_shared<Table>(V{1, 2});
    EXPECT_THROW(Table::interpolateFamily({one}, 4), std::invalid_argument);
    EXPECT_THROW(Table::interpolateFamily({one, one}, 0), std::invalid_argument);
    EXPECT_THROW(Table::interpolateFamily({one, std::make_shared<Table>(V{1, 2, 3})}, 4), std::invalid_argument);
    EXPECT_THROW(Table::downsampleFamily({one}, 3), std::invalid_argument);
    EXPECT_THROW(Table::downsampleFamily({std::make_shared<Table>(V(8)), one}, 4), std::invalid_argument);
}

TEST(Table, CollectionAccess) {
    Table table(V{1, 2, 3, 4});
    EXPECT_EQ(table.startIndex(), 0u);
    EXPECT_EQ(table.endIndex(), 4u);
    table[1] = 7;
    EXPECT_EQ(std::as_const(table)[1], 7);
    EXPECT_EQ(table.slice(1, 3), (V{7, 3}));
    table.replaceSubrange(2, 4, {8, 9});
    EXPECT_EQ(V(table.begin(), table.end()), (V{1, 7, 8, 9}));
}

TEST(Table, NormalizeDividesByTheLargestMagnitudeAndLogsEitherWay) {
    const bool logging = Settings::enableLogging();
    Settings::setEnableLogging(true);
    LogSink::clear();
    Table loud(V{0, -2, 1});
    loud.normalize();
    EXPECT_EQ(loud.content(), (V{0, -1, 0.5f}));
    Table silent(V{0, 0, 0});
    silent.normalize();
    EXPECT_EQ(silent.content(), (V{0, 0, 0}));
    const auto entries = LogSink::entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_NE(entries[0].message.find(":absMax = 2.0: NOW NORMALIZED ("), std::string::npos) << entries[0].message;
    EXPECT_NE(entries[1].message.find(":absMax = 0.0: NOT NORMALIZED ("), std::string::npos) << entries[1].message;
    for (const auto& e : entries) {
        EXPECT_EQ(e.type, platform::OSLogType::info);
        EXPECT_EQ(e.category, "general");
    }
    Settings::setEnableLogging(logging);
}

TEST(Table, ReverseInvertExtremesAndDifference) {
    Table table(V{1, -3, 2});
    table.reverse();
    EXPECT_EQ(table.content(), (V{2, -3, 1}));
    table.invert();
    EXPECT_EQ(table.content(), (V{-2, 3, -1}));
    EXPECT_EQ(table.extremes(), std::make_pair(-2.0f, 3.0f));
    // √(Σ d²) ÷ N, not the root of the mean: √(1 + 0 + 16) ÷ 3.
    EXPECT_FLOAT_EQ(table.difference(Table(V{-1, 3, 3, 100})), std::sqrt(17.0f) / 3);

    const Table empty(V{});
    EXPECT_EQ(empty.extremes(), std::make_pair(999999.0f, -999999.0f));
    EXPECT_TRUE(std::isnan(empty.difference(empty)));
}

TEST(Table, HarmonicBuildersSumTheSeries) {
    const size_t n = 64;
    Table saw(TableType::square, 0.5f, int64_t(n));
    saw.addSawtoothHarmonics(3);
    EXPECT_EQ(saw.phase(), 0);
    Table square(V(n, 1.0f));
    square.addSquareHarmonics(4, false);  // adds to what is there
    Table triangle{V(n)};
    triangle.addTriangleHarmonics(5);
    for (size_t i = 0; i < n; ++i) {
        const auto h = [&](int k) { return std::sin(float(i) * ((float(k) + float(k)) * 3.1415927f) / float(n)); };
        EXPECT_NEAR(saw[i], h(1) + h(2) / 2 + h(3) / 3, 1e-6) << i;
        EXPECT_NEAR(square[i], 1 + h(1) + h(3) / 3, 1e-6) << i;
        EXPECT_NEAR(triangle[i], h(1) - h(3) / 9 + h(5) / 25, 1e-6) << i;
    }

    // A pulse stays within its rails and spends about `width` of the cycle high.
    Table pulse{V(1024)};
    pulse.setPulseHarmonics(64, 0.25f);
    const auto [low, high] = pulse.extremes();
    EXPECT_GT(low, -1.3f);
    EXPECT_LT(high, 1.3f);
    int above = 0;
    for (const float v : pulse) above += v > 0;
    EXPECT_NEAR(above / 1024.0, 0.25, 0.02);
    // Widths outside 0 ... 1 wrap around the table instead of reading outside it.
    Table odd{V(16)};
    EXPECT_NO_THROW(odd.setPulseHarmonics(3, -0.7f));
    EXPECT_THROW(odd.setPulseHarmonics(3, std::numeric_limits<float>::infinity()), std::invalid_argument);
}

TEST(Table, HarmonicRanges) {
    using R = std::vector<HarmonicRange>;
    EXPECT_EQ(harmonicRanges(5000, 1), (R{{22050.0f / 4, 4}, {11025, 2}, {22050, 1}}));
    EXPECT_EQ(harmonicRanges(11025, 1), (R{{22050, 1}}));
    EXPECT_EQ(harmonicRanges(22050, 1), R{});
    EXPECT_EQ(harmonicRanges(std::nanf(""), 1), R{});
    // Frequencies that never reach the limit are refused rather than looped over.
    EXPECT_THROW(harmonicRanges(0, 1), std::invalid_argument);
    EXPECT_THROW(harmonicRanges(100, 0), std::invalid_argument);

    // Evenly spaced: 5000, 12500, 20000, 27500 → 4, 1, 1 (left out), 1 (left out).
    EXPECT_EQ(harmonicRanges(4, 5000, 27500), (R{{22050.0f / 4, 4}, {22050, 1}}));
    EXPECT_EQ(harmonicRanges(0, 5000, 27500), R{});
    EXPECT_EQ(harmonicRanges(1, 7000, 9000), (R{{22050.0f / 3, 3}}));
    EXPECT_THROW(harmonicRanges(2, 0, 100), std::invalid_argument);
}

TEST(Table, Families) {
    std::vector<float> signal(4096 * 3 + 10);
    for (size_t i = 0; i < signal.size(); ++i) signal[i] = float(i / 4096);
    const auto pieces = Table::split(signal, 4096);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[2]->content(), V(4096, 2.0f));
    EXPECT_EQ(pieces[0]->type().kind(), TableType::custom);

    // Two tables into 9: step ceil(9 / 1) = 9, x = 0, 1/9, ..., 8/9. Near 0 the first table itself,
    // near 1 the second, blends between.
    const auto family = Table::interpolateFamily({pieces[0], pieces[1]}, 9);
    ASSERT_EQ(family.size(), 9u);
    EXPECT_EQ(family[0], pieces[0]);
    for (size_t n = 1; n < 9; ++n) {
        EXPECT_NE(family[n], pieces[0]);
        EXPECT_NE(family[n], pieces[1]);
        EXPECT_FLOAT_EQ(family[n]->content()[100], float(n) / 9) << n;
    }
    // 150 tables: the threshold 1.5 exceeds 1 − f everywhere, so every step takes table i + 1.
    const std::vector<std::shared_ptr<Table>> many(150, pieces[1]);
    for (const auto& t : Table::interpolateFamily(many, 3)) EXPECT_EQ(t, pieces[1]);

    // 4096 samples down to 256: a decimation of 16 and (4096 − 2) ÷ 16 = 255 samples, each the
    // average of a sample and its neighbour.
    auto ramp = std::make_shared<Table>(V(4096));
    for (size_t i = 0; i < 4096; ++i) (*ramp)[i] = float(i);
    const auto down = Table::downsampleFamily({ramp, pieces[2]}, 256);
    ASSERT_EQ(down.size(), 2u);
    EXPECT_EQ(down[0]->count(), 255u);
    EXPECT_EQ((*down[0])[0], 0.5f);
    EXPECT_EQ((*down[0])[254], 254 * 16 + 0.5f);
    EXPECT_EQ(down[1]->content(), V(255, 2.0f));
    EXPECT_TRUE(Table::downsampleFamily({}, 256).empty());
}

TEST(Table, FromFiles) {
    ScratchDir dir;
    const auto buffer = fixtures::floatBuffer(2, 44100, 300, [](unsigned c, uint32_t i) {
        return c == 0 ? float(i) / 300 : -1.0f;
    });
    const platform::URL url((dir / "cycle.wav").string());
    sonora::makeAudioFile(url, *buffer)->close();

    const auto fromURL = Table::make(url);
    ASSERT_TRUE(fromURL);
    EXPECT_EQ(fromURL->count(), 300u);
    EXPECT_EQ(fromURL->type().kind(), TableType::sine);
    for (uint32_t i = 0; i < 300; ++i) ASSERT_EQ((*fromURL)[i], float(i) / 300) << i;

    const auto file = platform::AVAudioFile::forReading(url);
    const auto fromFile = Table::make(*file);
    ASSERT_TRUE(fromFile);
    EXPECT_EQ(fromFile->content(), fromURL->content());

    // Two tables of 128 and a dropped tail, interpolated to 256.
    const auto family = Table::family(url, 128);
    ASSERT_EQ(family.size(), 256u);
    EXPECT_EQ(family.front()->content(), fromURL->slice(0, 128));

    // Missing, empty and damaged files give nothing.
    testsupport::writeFile(dir / "empty.wav", "");
    testsupport::writeFile(dir / "bad.wav", std::string("RIFF\x24\0\0\0WAVEjunkjunk", 20));
    for (const char* name : {"missing.wav", "empty.wav", "bad.wav"}) {
        const platform::URL bad((dir / name).string());
        EXPECT_FALSE(Table::make(bad)) << name;
        EXPECT_TRUE(Table::family(bad, 128).empty()) << name;
    }
    // A file too short for two tables gives no family either.
    EXPECT_TRUE(Table::family(url, 200).empty());
}

TEST(TableType, NamesRoundTrip) {
    for (int c = TableType::harmonic; c <= TableType::custom; ++c) {
        const TableType type{TableType::Case(c)};
        EXPECT_EQ(TableType::named(type.name()), type) << type.name();
    }
    EXPECT_EQ(TableType(TableType::positiveReverseSawtooth).name(), "positiveReverseSawtooth");
    EXPECT_FALSE(TableType::named("Square"));
}
