// GetAttribute's rows of samples and music: the attributes are the words of the runtime's
// attribute hook (GetSoundAttribute), so that both ways of asking give the same answer.
#include <cstdint>

#include "base/errors.h"
#include "core/attribute_table.h"
#include "media/sound_objects.h"

namespace qv {

namespace {

// The hook's tags.
enum : uint32_t {
  kTagSampleFormat = 8,
  kTagSampleDuration = 9,
  kTagSampleFrequency = 10,
  kTagMusicLength = 15,
  kTagMusicPosition = 16,
  kTagSamplePosition = 17,
  kTagMusicFormatName = 18,
  kTagMusicBitRate = 20,
  kTagMusicFrequency = 21,
  kTagMusicFormat = 22,
  kTagSampleFrames = 25,
  kTagMusicSeekable = 26,
};

struct TagOf {
  int32_t attribute;
  uint32_t tag;
};
constexpr TagOf kSampleTags[] = {
    {attr::kType, kTagSampleFormat},       {attr::kNumFrames, kTagSampleFrames},
    {attr::kDuration, kTagSampleDuration}, {attr::kPitch, kTagSampleFrequency},
    {attr::kPosition, kTagSamplePosition},
};
constexpr TagOf kMusicTags[] = {
    {attr::kType, kTagMusicFormat},       {attr::kDuration, kTagMusicLength},
    {attr::kPitch, kTagMusicFrequency},   {attr::kPosition, kTagMusicPosition},
    {attr::kFormat, kTagMusicFormatName}, {attr::kBitRate, kTagMusicBitRate},
    {attr::kCanSeek, kTagMusicSeekable},
};

template <size_t N, typename Record>
int32_t Answer(const TagOf (&tags)[N], int (*wordsOf)(const Record*, uint32_t, intptr_t*),
               const Record* record, int32_t attribute, qvAttrAnswer* out) {
  for (const TagOf& t : tags) {
    if (t.attribute != attribute) continue;
    intptr_t words[2] = {0, 0};
    if (!wordsOf(record, t.tag, words)) return ERR_UNKNOWNATTR;
    if (t.tag == kTagMusicFormatName) {
      const char* name = reinterpret_cast<const char*>(words[1]);
      if (name != nullptr) {
        out->Text(name);
      } else {
        out->Nil();
      }
    } else {
      out->Number(static_cast<double>(words[0]));
      // The position in the current pass comes with the passes done.
      if (t.tag == kTagSamplePosition) out->Number(static_cast<double>(words[1]));
    }
    return 0;
  }
  return ERR_UNKNOWNATTR;
}

int32_t SampleAttribute(const qvAttrQuery& q, qvAttrAnswer* out) {
  qvSample* sample = nullptr;
  int32_t code = FindSampleOrError(q.id, &sample);
  return code != 0 ? code : Answer(kSampleTags, SampleAttributeWords, sample, q.attribute, out);
}

int32_t MusicAttribute(const qvAttrQuery& q, qvAttrAnswer* out) {
  qvMusic* music = nullptr;
  int32_t code = FindMusicOrError(q.id, &music);
  return code != 0 ? code : Answer(kMusicTags, MusicAttributeWords, music, q.attribute, out);
}

const qvAttrKind kRows[] = {
    {kObjectSample, qvAttrIdForm::kObject, SampleAttribute},
    {kObjectMusic, qvAttrIdForm::kObject, MusicAttribute},
    {0, qvAttrIdForm::kObject, nullptr},
};

}  // namespace

int32_t RegisterSoundAttributes() { return RegisterAttributeKinds(kRows); }

}  // namespace qv
