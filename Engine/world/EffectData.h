// The loaded definition of one particle effect: a list of named emitter definitions, in the order
// of the effect file and of the emitters of every Effect made from it. The effect resource makes one
// per effect file from the file's bytes (through the factory that the engine installs); the
// particle-system editor edits one through the indexed accessors and loads and saves it through its
// own file system.
//
// Effect file, little-endian: u32 version 101, then up to the end of the file one entry per
// emitter: its name (u32 length, bytes) and its record (EmitterData). Reading checks every word,
// group count and curve point count against the bytes left and the slot arrays; an entry that is
// cut short makes no emitter and ends the reading.
//
// Owns its emitter definitions. Made on the loader thread, then read-only on the main thread;
// the editor edits it on its own thread alone.
#pragma once

#include "data/EffectResource.h"

#include <string>
#include <vector>

namespace PSEditor {
class PSEditorFileSystem;
}

namespace GAME {

class EmitterData;
class CurveData;

class EffectData
{
public:
    static constexpr uint32_t fileVersion = 101;
    static constexpr const char* newEmitterName = "New Emitter";

    EffectData() = default;
    ~EffectData();
    EffectData(const EffectData&) = delete;
    EffectData& operator=(const EffectData&) = delete;

    // Reads an effect file from memory, replacing (and deleting) the definitions held before.
    // False for a wrong version (one log line; no emitters) or a file cut short (the emitters
    // before the cut stay).
    bool BufferLoad(const void* data, int size);
    // Through the editor's file system; false (one line) when the file cannot be opened.
    bool Load(const char* fileName, PSEditor::PSEditorFileSystem* fileSystem);
    // The whole file is written in memory, then in one write; false (one line) when the file
    // cannot be opened or written.
    bool Save(const char* fileName, PSEditor::PSEditorFileSystem* fileSystem) const;
    // The file's bytes.
    void Write(std::vector<uint8_t>& bytes) const;

    int GetNumEmitters() const { return static_cast<int>(m_emitters.size()); }
    // Null for an index outside the list.
    EmitterData* GetEmitterData(int index);
    const EmitterData* GetEmitterData(int index) const;
    // Empty for an index outside the list.
    void GetName(int index, std::string& name) const;
    void SetName(int index, const std::string& name);
    // Takes ownership; the name is "New Emitter". Null is ignored.
    void AddEmitterData(EmitterData* emitterData);
    // Takes the entry out of both lists; the definition is handed back to the caller, who now owns
    // it (null for an index outside the list).
    EmitterData* RemoveEmitterData(int index);

    // Forwarders to the emitter definition at the index; an index outside the list reads the slot
    // type's empty value and writes nothing.
    void SetString(int emitter, int slot, const std::string& value);
    std::string GetString(int emitter, int slot) const;
    void SetBoolean(int emitter, int slot, bool value);
    bool GetBoolean(int emitter, int slot) const;
    void SetInteger(int emitter, int slot, int value);
    int GetInteger(int emitter, int slot) const;
    void SetFloat(int emitter, int slot, float value);
    float GetFloat(int emitter, int slot) const;
    void SetLoop(int emitter, bool loop);
    bool GetLoop(int emitter) const;
    void ShaderLoad(int emitter, const char* shaderName);
    void ImageLoad(int emitter, const char* textureName);

    // What the engine installs into EffectResource so that effect resources hold effect data.
    static EffectResource::EffectDataFactory* GetResourceFactory();

private:
    void Clear();

    std::vector<std::string> m_names;
    std::vector<EmitterData*> m_emitters;
};

} // namespace GAME
