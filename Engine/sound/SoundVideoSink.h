// The sound folder's answers to a video's sound track in graphics, which may not include it:
// VideoSoundSink over the sound manager and its fed streams. Installed at static initialisation
// (Install installs it again, e.g. after a test replaced it). Stateless; main thread, like the
// streams.
#pragma once

namespace GAME {

class SoundVideoSink
{
public:
    static void Install();
};

} // namespace GAME
