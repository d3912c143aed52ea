// The file system through which the particle-system editor (part of the host) loads and saves
// effect files: a GAME::FileSystem that the editor sets up with its own sources. The library only
// opens, writes and closes files through it (EffectData::Load and Save).
#pragma once

#include "data/FileSystem.h"

namespace PSEditor {

class PSEditorFileSystem : public GAME::FileSystem
{
public:
    PSEditorFileSystem() = default;
    ~PSEditorFileSystem() override = default;
};

} // namespace PSEditor
