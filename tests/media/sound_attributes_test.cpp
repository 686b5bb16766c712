// GetAttribute's rows of samples and music, asked through the attribute table as the graphics
// library asks them: a sample and a music under the same number each answer for themselves.
#include <gtest/gtest.h>

#include <string>

#include "base/errors.h"
#include "core/attribute_table.h"
#include "core/registry.h"
#include "media/pcm_sample.h"
#include "media/sound_objects.h"
#include "sound_fixture.h"

namespace qv {
namespace {

class SoundAttributes : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(OpenSoundObjects(), 0);
    // Sample 1: 160 frames of 8-bit mono at 8000 Hz; music 1: 220 frames of 16-bit mono at
    // 11025 Hz.
    qvPcmSample* pcm = nullptr;
    uint32_t bytes = 0;
    int32_t frequency = 0, code = 0;
    ASSERT_EQ(LoadSampleFile(SoundData("mono8.8svx").c_str(), &pcm, &bytes, &frequency, &code), 0);
    qvSample* sample = nullptr;
    ASSERT_EQ(AddSample(nullptr, {1, 0}, pcm, frequency, code, &sample), 0);
    qvMusic* music = nullptr;
    ASSERT_EQ(OpenMusic(nullptr, {1, 0}, SoundData("mono16.wav").c_str(), &music), 0);
  }
  void TearDown() override {
    FreeAllSounds(nullptr);
    FreeRegistries();
  }
  // The answer's values as numbers (a text as 0), or the error code alone (negated).
  std::vector<double> Ask(int32_t kind, qvObjectId id, int32_t attribute,
                          std::string* text = nullptr) {
    const qvAttrKind* row = FindAttributeKind(kind);
    if (row == nullptr) return {-1};
    qvAttrAnswer answer;
    int32_t code = row->answer({nullptr, kind, attribute, id, nullptr}, &answer);
    if (code != 0) return {-double(code)};
    std::vector<double> values;
    for (int32_t i = 0; i < answer.count; ++i) {
      const qvAttrValue& v = answer.values[i];
      values.push_back(v.type == qvAttrValue::kNumber ? v.number : 0);
      if (v.type == qvAttrValue::kText && text != nullptr) *text = v.text;
    }
    return values;
  }
};

using Values = std::vector<double>;

TEST_F(SoundAttributes, ASampleAndAMusicOfOneNumberAnswerEachForItself) {
  const qvObjectId one{1, nullptr};
  struct Case {
    const char* what;
    int32_t kind;
    int32_t attribute;
    Values want;
  };
  const Case cases[] = {
      {"sample format: MONO8", kObjectSample, attr::kType, {0}},
      {"sample frames", kObjectSample, attr::kNumFrames, {160}},
      {"sample duration in ms", kObjectSample, attr::kDuration, {20}},
      {"sample pitch", kObjectSample, attr::kPitch, {8000}},
      {"sample position and passes: playing nowhere", kObjectSample, attr::kPosition, {-1, -1}},
      {"a sample has no format name", kObjectSample, attr::kFormat, {-ERR_UNKNOWNATTR}},
      {"music format: MONO16", kObjectMusic, attr::kType, {1}},
      {"music length in ms, truncated", kObjectMusic, attr::kDuration, {19}},
      {"music pitch", kObjectMusic, attr::kPitch, {11025}},
      {"music position before playing", kObjectMusic, attr::kPosition, {0}},
      {"music bit rate", kObjectMusic, attr::kBitRate, {168}},
      {"music can seek", kObjectMusic, attr::kCanSeek, {1}},
      {"a music has no frame count", kObjectMusic, attr::kNumFrames, {-ERR_UNKNOWNATTR}},
  };
  for (const Case& c : cases) EXPECT_EQ(Ask(c.kind, one, c.attribute), c.want) << c.what;

  std::string name;
  EXPECT_EQ(Ask(kObjectMusic, one, attr::kFormat, &name), Values{0});
  EXPECT_EQ(name, "RIFF WAVE");
}

TEST_F(SoundAttributes, MissingObjectsGiveTheirKindsErrors) {
  EXPECT_EQ(Ask(kObjectSample, {7, nullptr}, attr::kPitch), Values{-ERR_FINDSAMPLE});
  EXPECT_EQ(Ask(kObjectMusic, {7, nullptr}, attr::kPitch), Values{-ERR_FINDMUSIC});
  int32_t somewhere = 0;
  EXPECT_EQ(Ask(kObjectSample, {0, &somewhere}, attr::kPitch), Values{-ERR_FINDARRAY});
  EXPECT_EQ(Ask(kObjectMusic, {0, &somewhere}, attr::kPitch), Values{-ERR_FINDARRAY});
}

}  // namespace
}  // namespace qv
