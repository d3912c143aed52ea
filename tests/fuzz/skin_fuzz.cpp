// Interface skin files of any text, read through the engine's file system (a source in memory):
// loading must end, without a crash, whatever the text holds.
#include "common/FuzzSeeds.h"

#include "data/EngineDataServices.h"
#include "data/File.h"
#include "data/FileSource.h"
#include "data/FileSystem.h"
#include "graphics/InterfaceSkin.h"

#include <string>

namespace {

constexpr const char* kSkinName = "ui/fuzz.uis";

// One file in memory, replaced by each input.
class SkinSource : public GAME::FileSource
{
public:
    class MemoryFile : public GAME::File
    {
    public:
        MemoryFile(GAME::FileSource* source, const std::string& bytes) : m_source(source), m_bytes(bytes) {}
        GAME::FileSource* GetSource() override { return m_source; }
        const void* Lock(unsigned offset, unsigned size) override
        {
            if (offset > m_bytes.size() || size > m_bytes.size() - offset)
                return nullptr;
            return m_bytes.data() + offset;
        }
        void Unlock() override {}
        bool Write(unsigned, const void*, unsigned) override { return false; }
        unsigned GetLength() override { return static_cast<unsigned>(m_bytes.size()); }

    private:
        GAME::FileSource* m_source;
        std::string m_bytes;
    };

    std::string bytes;

    bool IsFileWriteable(const char*) override { return false; }
    GAME::File* OpenFile(const char* name, GAME::FileMode mode) override
    {
        if (mode != GAME::FILE_MODE_READ || std::string(name) != kSkinName)
            return nullptr;
        return new MemoryFile(this, bytes);
    }
    void CloseFile(GAME::File*& file) override
    {
        delete file;
        file = nullptr;
    }
    GAME::FileStream* OpenFileStream(const char*) override { return nullptr; }
    void CloseFileStream(GAME::FileStream*&) override {}
    void GetMatchingFiles(std::vector<std::string>&, const std::string&) override {}
    bool FindFilePath(const char*, std::string&) override { return false; }
    std::string FindFileInDirectoryTree(const std::string&) override { return std::string(); }
    bool GetFileTime(const char*, GAME::FileTime&) override { return false; }
};

class SkinServices : public GAME::EngineDataServices
{
public:
    SkinServices() : source(new SkinSource)
    {
        files.AddSource(GAME::FileSystem::PARTITION_0, source);
        Install(this);
    }
    unsigned int GetFrameCount() override { return 0; }
    GAME::FileSystem* GetFileSystem() override { return &files; }
    void AddStatisticText(const char*) override {}
    unsigned int GetEngineLogCategory() override { return 0; }
    bool AreGraphicsStatsEnabled() override { return false; }

    GAME::FileSystem files;
    SkinSource* source; // owned by the file system
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static SkinServices* services = new SkinServices; // lives for the process
    services->source->bytes.assign(reinterpret_cast<const char*>(data), size);
    // Without a graphics engine no textures are loaded: the text alone is under test.
    GAME::InterfaceSkin skin(kSkinName, nullptr);
    for (const char* name : {"Ok", "", "Frame"})
        if (const GAME::InterfaceSkin::Area* area = skin.GetArea(name))
            (void)area->region[3];
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    sink.Add("skin", std::string("// menu skin\n"
                                 "Area {\n    name = \"Ok\"\n    bitmap = \"ui/buttons.tex\"\n"
                                 "    region = ( 0, 16.5, 64, 32 )\n}\n"
                                 "Area { flags = name = \"Frame\" region = (1,2,3,4) }\n"));
    sink.Add("nameless", std::string("Area { bitmap = \"a.tex\" region = (1, 2, 3, 4) } loose tokens { }"));
    sink.Add("no_brace", std::string("Area { name = \"Ok\" }\nArea name = \"Frame\" }"));
    sink.Add("unterminated", std::string("Area { name = \"Ok\" region = ( 1, 2"));
    sink.Add("directives", std::string("#ifdef X\nArea {\n#else\nArea { name = \"Ok\" }\n#endif\n/* Area {"));
}
