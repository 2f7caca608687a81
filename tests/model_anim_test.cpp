// tests/model_anim_test.cpp: sequence stepping, controllers, run decoding,
// interpolation, blending and bone transforms of the studio model.
#include "StudioFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ostream>
#include <string>

using namespace studio;

namespace {

constexpr float EPS = 1e-4f;

// A run chain as bytes: {valid, total, values...} per run.
std::vector<uint8_t> chain(const std::vector<std::vector<int>>& runs)
{
    std::vector<uint8_t> bytes;
    for (const std::vector<int>& run : runs) {
        bytes.push_back(static_cast<uint8_t>(run[0]));
        bytes.push_back(static_cast<uint8_t>(run[1]));
        for (size_t i = 2; i < run.size(); ++i) {
            const int16_t v = static_cast<int16_t>(run[i]);
            bytes.push_back(static_cast<uint8_t>(v & 0xff));
            bytes.push_back(static_cast<uint8_t>((v >> 8) & 0xff));
        }
    }
    return bytes;
}

Float3 transformed(const StudioModel& m, int bone, const Float3& v)
{
    Float3 out;
    transformByMatrix(v, m.boneTransforms[bone], out);
    return out;
}

} // namespace

TEST(StudioAnimation, OneFrameSequenceStaysAtFrameZero)
{
    LoadedStudio s(writeStudioModel(tinyModelDesc(1, 1)));
    ASSERT_EQ(s.opened, 1);
    EXPECT_EQ(s.model.stepAnimation(0.5f), 0);
    EXPECT_FLOAT_EQ(s.model.frame, 0.0f);
}

TEST(StudioAnimation, StepWrapsOnceByFrameCountMinusTwo)
{
    LoadedStudio s(writeStudioModel(tinyModelDesc(1, 10, 10.0f)));
    ASSERT_EQ(s.opened, 1);
    EXPECT_EQ(s.model.stepAnimation(0.5f), 0);
    EXPECT_FLOAT_EQ(s.model.frame, 6.0f);
    s.model.frame = 1.0f;
    EXPECT_EQ(s.model.stepAnimation(0.85f), 1);
    EXPECT_FLOAT_EQ(s.model.frame, 1.5f);
    // A huge step wraps once only.
    s.model.frame = 1.0f;
    EXPECT_EQ(s.model.stepAnimation(10.0f), 1);
    EXPECT_FLOAT_EQ(s.model.frame, 93.0f);
}

TEST(StudioAnimation, SelectSequenceWrapsByCountAndResetsFrame)
{
    LoadedStudio s(writeStudioModel(tinyModelDesc(3)));
    ASSERT_EQ(s.opened, 1);
    s.model.frame = 4.0f;
    EXPECT_EQ(s.model.selectSequence(7), 1);
    EXPECT_EQ(s.model.sequence, 1);
    EXPECT_FLOAT_EQ(s.model.frame, 1.0f);
    EXPECT_EQ(s.model.selectSequence(-1), 2);   // never a negative sequence
}

TEST(StudioAnimation, UnloadedModelDoesNothing)
{
    StudioModel m;
    m.frame = 3.0f;
    EXPECT_EQ(m.stepAnimation(1.0f), 0);
    EXPECT_EQ(m.selectSequence(5), 0);
    EXPECT_FLOAT_EQ(m.frame, 3.0f);
    EXPECT_FLOAT_EQ(m.setControllerValue(0, 12.0f), 12.0f);
    EXPECT_FLOAT_EQ(m.setMouthValue(3.0f), 3.0f);
    float box[6] = { 1, 1, 1, 1, 1, 1 };
    m.sequenceBox(box);
    for (float v : box)
        EXPECT_EQ(v, 0.0f);
    RecordingSink sink;
    m.buildBoneTransforms();
    m.render(sink);
    EXPECT_TRUE(sink.primitives.empty());
    EXPECT_TRUE(sink.textures.empty());
}

TEST(StudioAnimation, RotationControllerMapsIntoByteRange)
{
    LoadedStudio s(writeStudioModel(tinyModelDesc()));
    ASSERT_EQ(s.opened, 1);
    EXPECT_EQ(s.model.controllerBytes[0], 0);   // value 0 at load
    EXPECT_NEAR(s.model.setControllerValue(0, 45.0f), 44.82353f, 1e-4f);
    EXPECT_EQ(s.model.controllerBytes[0], 127);
    EXPECT_FLOAT_EQ(s.model.setControllerValue(0, 100.0f), 90.0f);
    EXPECT_EQ(s.model.controllerBytes[0], 255);
    EXPECT_FLOAT_EQ(s.model.setControllerValue(0, -10.0f), 0.0f);
    EXPECT_EQ(s.model.controllerBytes[0], 0);
    // Channels without a controller record give the value back.
    EXPECT_FLOAT_EQ(s.model.setControllerValue(2, 33.0f), 33.0f);
    EXPECT_FLOAT_EQ(s.model.setMouthValue(5.0f), 5.0f);
}

TEST(StudioAnimation, DegenerateControllerRangeDoesNotBreakTheByte)
{
    StudioModelDesc desc = tinyModelDesc();
    desc.controllers[0].start = desc.controllers[0].end = 10.0f;
    desc.controllers[0].channel = 4;
    LoadedStudio s(writeStudioModel(desc));
    ASSERT_EQ(s.opened, 1);
    s.model.setMouthValue(10.0f);   // 0/0: NaN, clamped to 0
    EXPECT_EQ(s.model.mouthByte, 0);
    s.model.setMouthValue(20.0f);   // +inf: 64
    EXPECT_EQ(s.model.mouthByte, 64);
}

namespace {

// One controller record on channel 0 and one on the mouth channel, both with
// the same type and range: the value is brought into the range the same way
// for both before it is scaled to 255 or to 64 steps.
struct ControllerRangeCase {
    const char* name;
    int         type;
    float       start, end;
    float       value;
    int         controllerByte;   // trunc((wrapped - start) * 255 / (end - start)), clamped
    int         mouthByte;        // trunc((wrapped - start) * 64 / (end - start)), clamped
};

void PrintTo(const ControllerRangeCase& c, std::ostream* os)
{
    *os << c.name;
}

class StudioControllerRange : public testing::TestWithParam<ControllerRangeCase> {};

} // namespace

TEST_P(StudioControllerRange, ControllerAndMouthWrapRotationsAlike)
{
    const ControllerRangeCase& c = GetParam();
    StudioModelDesc desc = tinyModelDesc();
    desc.controllers[0].type = c.type;
    desc.controllers[0].start = c.start;
    desc.controllers[0].end = c.end;
    StudioControllerDesc mouth = desc.controllers[0];
    mouth.channel = MOUTH_CHANNEL;
    desc.controllers.push_back(mouth);
    LoadedStudio s(writeStudioModel(desc));
    ASSERT_EQ(s.opened, 1);

    const float range = c.end - c.start;
    const float controller = s.model.setControllerValue(0, c.value);
    EXPECT_EQ(s.model.controllerBytes[0], c.controllerByte);
    EXPECT_FLOAT_EQ(controller, c.start + static_cast<float>(c.controllerByte) * (1.0f / 255.0f) * range);
    const float mouthValue = s.model.setMouthValue(c.value);
    EXPECT_EQ(s.model.mouthByte, c.mouthByte);
    EXPECT_FLOAT_EQ(mouthValue, c.start + static_cast<float>(c.mouthByte) * 0.015625f * range);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, StudioControllerRange,
    testing::Values(
        // start > end: 30 is taken as -30, which lies inside 0..-90.
        ControllerRangeCase{ "BackwardsRangeNegates", CHANNEL_ZR, 0.0f, -90.0f, 30.0f, 85, 21 },
        // Middle 0: 300 is more than half a turn above it, taken as -60.
        ControllerRangeCase{ "FarAboveTheMiddleTurnsDown", CHANNEL_ZR, -90.0f, 90.0f, 300.0f, 42, 10 },
        // -300 is more than half a turn below it, taken as 60.
        ControllerRangeCase{ "FarBelowTheMiddleTurnsUp", CHANNEL_XR, -90.0f, 90.0f, -300.0f, 212, 53 },
        // A full-turn range: 800 taken as 80, -30 as 330.
        ControllerRangeCase{ "FullTurnTakesLargeValuesInto0To360", CHANNEL_YR, 0.0f, 360.0f, 800.0f, 56, 14 },
        ControllerRangeCase{ "FullTurnTakesNegativeValuesInto0To360", CHANNEL_YR, 0.0f, 360.0f, -30.0f, 233, 58 },
        // Translations are neither negated nor wrapped: both clamp.
        ControllerRangeCase{ "BackwardsTranslationIsNotNegated", CHANNEL_X, 0.0f, -90.0f, 30.0f, 0, 0 },
        ControllerRangeCase{ "TranslationIsNotWrapped", CHANNEL_X, -90.0f, 90.0f, 300.0f, 255, 64 }),
    [](const testing::TestParamInfo<ControllerRangeCase>& info) { return std::string(info.param.name); });

TEST(StudioAnimation, RunWithOneStoredValueRepeatsItThenMovesOn)
{
    const std::vector<uint8_t> bytes = chain({ { 1, 5, 7 }, { 1, 3, 20 } });
    const uint8_t* end = bytes.data() + bytes.size();
    for (int k = 0; k < 4; ++k) {
        float raw[2];
        decodeRotationRuns(bytes.data(), end, k, raw);
        EXPECT_FLOAT_EQ(raw[0], 7.0f) << k;
        EXPECT_FLOAT_EQ(raw[1], 7.0f) << k;
        EXPECT_FLOAT_EQ(decodePositionRuns(bytes.data(), end, k, 0.5f), 7.0f) << k;
    }
    float raw[2];
    decodeRotationRuns(bytes.data(), end, 4, raw);
    EXPECT_FLOAT_EQ(raw[0], 7.0f);
    EXPECT_FLOAT_EQ(raw[1], 20.0f);
    EXPECT_FLOAT_EQ(decodePositionRuns(bytes.data(), end, 4, 0.5f), 13.5f);
    // Frame 5 is in the second run.
    decodeRotationRuns(bytes.data(), end, 5, raw);
    EXPECT_FLOAT_EQ(raw[0], 20.0f);
}

TEST(StudioAnimation, FullyStoredRunEndDiffersForRotationAndPosition)
{
    const std::vector<uint8_t> bytes = chain({ { 3, 3, 1, 2, 3 }, { 1, 1, 10 } });
    const uint8_t* end = bytes.data() + bytes.size();
    float raw[2];
    decodeRotationRuns(bytes.data(), end, 1, raw);
    EXPECT_FLOAT_EQ(raw[0], 2.0f);
    EXPECT_FLOAT_EQ(raw[1], 3.0f);
    EXPECT_FLOAT_EQ(decodePositionRuns(bytes.data(), end, 1, 0.25f), 2.25f);
    decodeRotationRuns(bytes.data(), end, 2, raw);
    EXPECT_FLOAT_EQ(raw[0], 3.0f);
    EXPECT_FLOAT_EQ(raw[1], 10.0f);   // rotation looks into the next run
    EXPECT_FLOAT_EQ(decodePositionRuns(bytes.data(), end, 2, 0.5f), 3.0f);   // position does not
}

TEST(StudioAnimation, DecodingNeverReadsPastTheImage)
{
    // The next run is cut off: hold the last value. A frame past the chain: 0.
    const std::vector<uint8_t> bytes = chain({ { 1, 2, 9 } });
    const uint8_t* end = bytes.data() + bytes.size();
    float raw[2];
    decodeRotationRuns(bytes.data(), end, 1, raw);
    EXPECT_FLOAT_EQ(raw[0], 9.0f);
    EXPECT_FLOAT_EQ(raw[1], 9.0f);
    EXPECT_FLOAT_EQ(decodePositionRuns(bytes.data(), end, 1, 0.5f), 9.0f);
    decodeRotationRuns(bytes.data(), end, 2, raw);
    EXPECT_FLOAT_EQ(raw[0], 0.0f);
    EXPECT_FLOAT_EQ(decodePositionRuns(bytes.data(), end, 7, 0.5f), 0.0f);
    // A run claiming more values than the image holds.
    const std::vector<uint8_t> cut = chain({ { 4, 4, 1 } });
    decodeRotationRuns(cut.data(), cut.data() + cut.size(), 0, raw);
    EXPECT_FLOAT_EQ(raw[0], 0.0f);
}

TEST(StudioAnimation, EncoderStoresFewerValuesThanFramesForRepeats)
{
    const std::vector<int16_t> items = encodeChannelRuns({ 1, 2, 3, 3, 3, 4, 5 });
    // {3 valid, 5 total: 1 2 3}, {2 valid, 2 total: 4 5}, hold {1, 1: 5}.
    const std::vector<int16_t> expected = { 3 | (5 << 8), 1, 2, 3, 2 | (2 << 8), 4, 5, 1 | (1 << 8), 5 };
    EXPECT_EQ(items, expected);
    // Decoding gives the frames back.
    std::vector<uint8_t> bytes(items.size() * 2);
    std::memcpy(bytes.data(), items.data(), bytes.size());
    const int16_t frames[] = { 1, 2, 3, 3, 3, 4, 5 };
    for (int k = 0; k < 7; ++k)
        EXPECT_FLOAT_EQ(decodePositionRuns(bytes.data(), bytes.data() + bytes.size(), k, 0.0f), frames[k]) << k;
}

TEST(StudioAnimation, TwoBoneChainGivesKnownWorldPositions)
{
    // Root: x = 2 * frame, z rotation 0.1 rad * frame; child 10 along x,
    // turned by the controller (value 0 at load: adjustment 0).
    LoadedStudio s(writeStudioModel(tinyModelDesc(1, 10)));
    ASSERT_EQ(s.opened, 1);
    StudioModel& m = s.model;
    m.frame = 5.0f;
    m.buildBoneTransforms();
    const float a = 0.5f;
    const Float3 root = transformed(m, 0, Float3());
    EXPECT_NEAR(root.x, 10.0f, EPS);
    EXPECT_NEAR(root.y, 0.0f, EPS);
    const Float3 child = transformed(m, 1, Float3());
    EXPECT_NEAR(child.x, 10.0f + 10.0f * std::cos(a), EPS);
    EXPECT_NEAR(child.y, 10.0f * std::sin(a), EPS);
    const Float3 tip = transformed(m, 1, Float3(5.0f, 0.0f, 0.0f));
    EXPECT_NEAR(tip.x, 10.0f + 15.0f * std::cos(a), EPS);
    EXPECT_NEAR(tip.y, 15.0f * std::sin(a), EPS);

    // Controller at 90 degrees bends the child a further quarter turn.
    m.setControllerValue(0, 90.0f);
    m.buildBoneTransforms();
    const Float3 bent = transformed(m, 1, Float3(5.0f, 0.0f, 0.0f));
    EXPECT_NEAR(bent.x, 10.0f + 10.0f * std::cos(a) + 5.0f * std::cos(a + 1.5707964f), EPS);
    EXPECT_NEAR(bent.y, 10.0f * std::sin(a) + 5.0f * std::sin(a + 1.5707964f), EPS);
}

TEST(StudioAnimation, FractionInterpolatesPositionAndRotation)
{
    LoadedStudio s(writeStudioModel(tinyModelDesc(1, 10)));
    ASSERT_EQ(s.opened, 1);
    StudioModel& m = s.model;
    m.frame = 2.5f;
    m.buildBoneTransforms();
    EXPECT_NEAR(m.boneTransforms[0].m[0][3], 5.0f, EPS);
    // Slerp half-way between 0.2 and 0.3 rad about z: 0.25 rad.
    EXPECT_NEAR(m.boneTransforms[0].m[1][0], std::sin(0.25f), EPS);
    EXPECT_NEAR(m.boneTransforms[0].m[0][0], std::cos(0.25f), EPS);
}

TEST(StudioAnimation, FramePositionOutsideTheSequenceIsClamped)
{
    LoadedStudio s(writeStudioModel(tinyModelDesc(1, 10)));
    ASSERT_EQ(s.opened, 1);
    StudioModel& m = s.model;
    m.frame = 1e9f;
    m.buildBoneTransforms();
    EXPECT_NEAR(m.boneTransforms[0].m[0][3], 18.0f, EPS);   // last frame
    m.frame = -4.0f;
    m.buildBoneTransforms();
    EXPECT_NEAR(m.boneTransforms[0].m[0][3], 0.0f, EPS);
    m.frame = std::nanf("");
    m.buildBoneTransforms();
    EXPECT_NEAR(m.boneTransforms[0].m[0][3], 0.0f, EPS);
}

TEST(StudioAnimation, MotionTypeZeroesTheMotionBonePosition)
{
    StudioModelDesc desc = tinyModelDesc(1, 10);
    desc.sequences[0].motionType = CHANNEL_X;
    desc.sequences[0].motionBone = 0;
    LoadedStudio s(writeStudioModel(desc));
    ASSERT_EQ(s.opened, 1);
    s.model.frame = 5.0f;
    s.model.buildBoneTransforms();
    EXPECT_FLOAT_EQ(s.model.boneTransforms[0].m[0][3], 0.0f);
}

TEST(StudioAnimation, UnanimatedChannelKeepsBaseValuePlusController)
{
    StudioModelDesc desc = tinyModelDesc(1, 10);
    desc.bones[1].values[2] = 3.0f;   // child z, not animated
    desc.bones[1].controllers[5] = -1;
    desc.bones[1].controllers[2] = 0;   // the controller now moves z
    desc.controllers[0].type = CHANNEL_Z;
    desc.controllers[0].start = 0.0f;
    desc.controllers[0].end = 51.0f;
    LoadedStudio s(writeStudioModel(desc));
    ASSERT_EQ(s.opened, 1);
    StudioModel& m = s.model;
    for (float f : { 1.0f, 4.0f, 8.5f }) {
        m.frame = f;
        m.buildBoneTransforms();
        Float3 local;
        const Float3 origin = transformed(m, 1, Float3());
        const Float3 rootOrigin = transformed(m, 0, Float3());
        EXPECT_NEAR(origin.z - rootOrigin.z, 3.0f, EPS) << f;
        (void)local;
    }
    m.setControllerValue(0, 10.0f);   // setting 50: 50/255 * 51 = 10
    m.frame = 4.0f;
    m.buildBoneTransforms();
    EXPECT_NEAR(transformed(m, 1, Float3()).z, 13.0f, EPS);
}

TEST(StudioAnimation, BlendOfTwoBlocksAtZeroEqualsTheFirstBlock)
{
    StudioModelDesc one = tinyModelDesc(1, 10);
    StudioModelDesc two = one;
    StudioAnimBlock other = two.sequences[0].blocks[0];
    for (auto& channel : other.bones[0])
        for (int16_t& v : channel)
            v = static_cast<int16_t>(v * 3 + 40);
    two.sequences[0].blocks.push_back(other);
    LoadedStudio a(writeStudioModel(one));
    LoadedStudio b(writeStudioModel(two));
    ASSERT_EQ(a.opened, 1);
    ASSERT_EQ(b.opened, 1);
    a.model.frame = b.model.frame = 3.25f;
    a.model.buildBoneTransforms();
    b.model.buildBoneTransforms();
    for (int bone = 0; bone < 2; ++bone)
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c)
                EXPECT_FLOAT_EQ(a.model.boneTransforms[bone].m[r][c], b.model.boneTransforms[bone].m[r][c]);
    // Fully towards block two: its values.
    b.model.blendBytes[0] = 255;
    b.model.buildBoneTransforms();
    EXPECT_NEAR(b.model.boneTransforms[0].m[0][3], (6.0f * 3.0f + 40.0f) * 1.0f + (2.0f * 3.0f) * 0.25f, 1e-3f);
}

TEST(StudioAnimation, FourBlocksBlendInTwoSteps)
{
    StudioModelDesc desc = tinyModelDesc(1, 10);
    StudioAnimBlock base = desc.sequences[0].blocks[0];
    for (int k = 1; k < 4; ++k) {
        StudioAnimBlock block = base;
        for (int16_t& v : block.bones[0][0])
            v = static_cast<int16_t>(100 * k);
        desc.sequences[0].blocks.push_back(block);
    }
    LoadedStudio s(writeStudioModel(desc));
    ASSERT_EQ(s.opened, 1);
    StudioModel& m = s.model;
    m.frame = 1.0f;
    m.blendBytes[1] = 255;   // pose = blend(block 3, block 4, blend 0) = block 3
    m.buildBoneTransforms();
    EXPECT_NEAR(m.boneTransforms[0].m[0][3], 200.0f, 1e-3f);
    m.blendBytes[0] = 255;   // block 4
    m.buildBoneTransforms();
    EXPECT_NEAR(m.boneTransforms[0].m[0][3], 300.0f, 1e-3f);
}

TEST(StudioAnimation, SequenceBoxComesInAxisPairs)
{
    LoadedStudio s(writeStudioModel(tinyModelDesc()));
    ASSERT_EQ(s.opened, 1);
    float box[6];
    s.model.sequenceBox(box);
    const float expected[6] = { -1, 4, -2, 5, -3, 6 };
    for (int i = 0; i < 6; ++i)
        EXPECT_FLOAT_EQ(box[i], expected[i]);
}

TEST(StudioAnimation, OutOfRangeSequenceFallsBackToZero)
{
    LoadedStudio s(writeStudioModel(tinyModelDesc(2)));
    ASSERT_EQ(s.opened, 1);
    s.model.sequence = 9;
    s.model.frame = 1.0f;
    s.model.buildBoneTransforms();
    EXPECT_EQ(s.model.sequence, 0);
    s.model.sequence = -3;
    s.model.buildBoneTransforms();
    EXPECT_EQ(s.model.sequence, 0);
}

// The last frame of a sequence of n frames has no stored frame after it: it
// moves towards frame 0 when the sequence loops and holds when it does not.
// Read past the sequence's runs, a pose lands far outside its stored box.
struct LastFrameCase {
    int  frames;
    bool looping;
};

class StudioLastFrame : public testing::TestWithParam<LastFrameCase> {};

int32_t intAt(const std::vector<uint8_t>& file, size_t at)
{
    int32_t v;
    std::memcpy(&v, &file[at], 4);
    return v;
}

// The writer ends every chain with a run repeating the last value; a model
// from elsewhere need not, and what follows its runs is other data. This
// makes that value of the root's x and z-turn chains 30000, so that a pose
// reading past the sequence's frames shows.
void poisonRunEnds(std::vector<uint8_t>& file, int frames)
{
    const size_t seq = size_t(intAt(file, HEADER_SEQUENCE_OFFSET));
    const size_t group = size_t(intAt(file, HEADER_GROUP_OFFSET));
    const size_t record = size_t(intAt(file, group + GROUP_DATA_OFFSET)) + size_t(intAt(file, seq + SEQUENCE_ANIM_OFFSET));
    for (const int channel : { 0, 5 }) {
        uint16_t offset;
        std::memcpy(&offset, &file[record + 2 * size_t(channel)], 2);
        const size_t end = record + offset + 2 * size_t(frames + 1) + 2;   // one run of n values, then the end run
        const int16_t poison = 30000;
        std::memcpy(&file[end], &poison, 2);
    }
}

TEST_P(StudioLastFrame, StaysInsideTheSequenceBoxAndMovesTowardsWhatItsLoopingDefines)
{
    const LastFrameCase c = GetParam();
    StudioModelDesc desc = tinyModelDesc(1, c.frames);
    StudioSequenceDesc& seq = desc.sequences[0];
    seq.flags = c.looping ? SEQUENCE_LOOPING : 0;
    seq.boxMin = Float3(0.0f, -1.0f, -1.0f);   // the root's x runs 0, 2, 4, ...
    seq.boxMax = Float3(2.0f * float(c.frames - 1), 1.0f, 1.0f);
    StudioFiles files = writeStudioModel(desc);
    poisonRunEnds(files.model, c.frames);
    LoadedStudio s(files);
    ASSERT_EQ(s.opened, 1);
    StudioModel& m = s.model;
    float box[6];
    m.sequenceBox(box);

    const float n = float(c.frames);
    const float last = 2.0f * (n - 1.0f);   // the root's x and, in tenths of a radian, its z turn
    for (const float frame : { n - 1.0f, n - 0.5f, n }) {
        m.frame = frame;
        m.buildBoneTransforms();
        const float x = m.boneTransforms[0].m[0][3];
        const float turn = std::atan2(m.boneTransforms[0].m[1][0], m.boneTransforms[0].m[0][0]);
        EXPECT_GE(x, box[0] - EPS) << "frame " << frame;
        EXPECT_LE(x, box[1] + EPS) << "frame " << frame;
        const float towards = (c.looping && frame == n - 0.5f) ? 0.5f : 0.0f;   // half-way back to frame 0
        EXPECT_NEAR(x, last * (1.0f - towards), EPS) << "frame " << frame;
        EXPECT_NEAR(turn, 0.05f * last * (1.0f - towards), EPS) << "frame " << frame;
    }
}

INSTANTIATE_TEST_SUITE_P(OneTwoAndThreeFrames, StudioLastFrame,
                         testing::Values(LastFrameCase{ 1, false }, LastFrameCase{ 1, true },
                                         LastFrameCase{ 2, false }, LastFrameCase{ 2, true },
                                         LastFrameCase{ 3, false }, LastFrameCase{ 3, true }),
                         [](const testing::TestParamInfo<LastFrameCase>& info) {
                             return std::to_string(info.param.frames) + (info.param.looping ? "Looping" : "Held");
                         });
