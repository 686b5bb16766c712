// The sound library's table: samples and music; the format constants and the object types.
#include "libs/libraries.h"
#include "libs/sound/commands.h"
#include "media/sound_objects.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"FreeSample", cmd::FreeSample},
    {"LoadSample", cmd::LoadSample},
    {"IsSound", cmd::IsSound},
    {"GetPatternPosition", cmd::GetPatternPosition},
    {"GetSongPosition", cmd::GetSongPosition},
    {"PlaySubsong", cmd::PlaySubsong},
    {"WaitPatternPosition", cmd::WaitPatternPosition},
    {"WaitSongPosition", cmd::WaitSongPosition},
    {"WaitSampleEnd", cmd::WaitSampleEnd},
    {"IsSamplePlaying", cmd::IsSamplePlaying},
    {"SetVolume", cmd::SetVolume},
    {"SetPitch", cmd::SetPitch},
    {"SetPanning", cmd::SetPanning},
    {"StopSample", cmd::StopSample},
    {"PlaySample", cmd::PlaySample},
    {"SetMasterVolume", cmd::SetMasterVolume},
    {"IsSample", cmd::IsSample},
    {"CreateSample", cmd::CreateSample},
    {"OpenMusic", cmd::OpenMusic},
    {"LoadModule", cmd::OpenMusic},
    {"CloseMusic", cmd::CloseMusic},
    {"FreeModule", cmd::CloseMusic},
    {"PlayMusic", cmd::PlayMusic},
    {"PlayModule", cmd::PlayMusic},
    {"StopMusic", cmd::StopMusic},
    {"StopModule", cmd::StopMusic},
    {"PauseMusic", cmd::PauseMusic},
    {"PauseModule", cmd::PauseMusic},
    {"ResumeMusic", cmd::ResumeMusic},
    {"ResumeModule", cmd::ResumeMusic},
    {"SeekMusic", cmd::SeekMusic},
    {"SetMusicVolume", cmd::SetMusicVolume},
    {"IsMusic", cmd::IsMusic},
    {"IsModule", cmd::IsMusic},
    {"IsMusicPlaying", cmd::IsMusicPlaying},
    {"SaveSample", cmd::SaveSample},
    {"GetSampleData", cmd::GetSampleData},
    {"CreateMusic", cmd::CreateMusic},
    {"FillMusicBuffer", cmd::FillMusicBuffer},
    {"MixSample", cmd::MixSample},
    {"CopySample", cmd::CopySample},
    {"InsertSample", cmd::InsertSample},
    {nullptr, nullptr},
};

const qvConstantRow kConstants[] = {
    {"MONO16", nullptr, 1},      {"STEREO16", nullptr, 3}, {"MONO8", nullptr, 0},
    {"STEREO8", nullptr, 2},     {"SAMPLE", nullptr, 2},   {"MUSIC", nullptr, 33},
    {"SMPFMT_WAVE", nullptr, 0}, {nullptr, nullptr, 0},
};

int32_t OpenSound(qvScriptState*) {
  int32_t code = OpenSoundObjects();
  // The script's FillMusicBuffer handler is this library's to run; the sound objects ask for it.
  SetFillMusicRunner(RunScriptFillMusic, nullptr);
  return code;
}

}  // namespace

const qvLibrary kSoundLibrary{"sound", kCommands, kConstants, OpenSound};

void FreeSoundLibrary(qvScriptState* L) { FreeAllSounds(L); }

}  // namespace qv
