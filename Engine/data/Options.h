// The user's settings: 27 named keys of seven value types in four groups, each with a current
// and a default value. Read from a defaults file and the user's file (through the engine's file
// system), written back as text, one "%-25s = value" line per key in registration order.
// Main thread only; no lock.
#pragma once

#include <cstdint>
#include <string>

namespace GAME {

class FileSystem;
class Options;

// The graphics engine fills in the graphics values for the machine; it installs itself here
// while it exists.
class OptionsDefaultsProvider
{
public:
    virtual ~OptionsDefaultsProvider() = default;
    virtual void SetOptionsToDefaults(Options& options) = 0;
};

class Options
{
public:
    enum Type
    {
        TYPE_FLOAT = 0,
        TYPE_INT = 1,
        TYPE_INT2 = 2,
        TYPE_BOOL = 3,
        TYPE_QUALITY = 4,
        TYPE_DEVICE = 5,
        TYPE_STRING = 6,
    };

    enum GroupName
    {
        GROUP_GAME = 0,
        GROUP_GRAPHICS = 2,
        GROUP_SOUND = 3,
        GROUP_SYSTEM = 4,
    };

    enum Quality
    {
        QUALITY_LOW = 0,
        QUALITY_MEDIUM = 1,
        QUALITY_HIGH = 2,
    };

    enum Device
    {
        DEVICE_DEFAULT = 0, // written "Direct3D"
    };

    struct Int2
    {
        int32_t x = 0;
        int32_t y = 0;
        bool operator==(const Int2& o) const { return x == o.x && y == o.y; }
    };

    enum FloatName
    {
        FLOAT_MASTER_VOLUME = 0,
        FLOAT_MUSIC_VOLUME = 1,
        FLOAT_EFFECTS_VOLUME = 2,
        FLOAT_DIALOG_VOLUME = 3,
        NUM_FLOATS = 4,
    };
    enum IntName
    {
        NUM_INTS = 0,
    };
    enum Int2Name
    {
        INT2_RESOLUTION = 0,
        NUM_INT2S = 1,
    };
    enum QualityName
    {
        QUALITY_TEXTURE = 0,
        QUALITY_SHADOW = 1,
        QUALITY_DETAIL_LEVEL = 2,
        QUALITY_REFLECTION = 3,
        QUALITY_AMBIENT_FREQUENCY = 4,
        QUALITY_NETWORK_SPEED = 5,
        NUM_QUALITIES = 6,
    };
    enum BoolName
    {
        BOOL_QUICK_BUY = 0,
        BOOL_ITEM_COMPARISON = 1,
        BOOL_DISPLAY_DAMAGE = 2,
        BOOL_EXTRA_ROLLOVERS = 3,
        BOOL_SHOW_MONSTER_LEVEL_ON_ROLLOVER = 4,
        BOOL_ANTI_ALIASING = 5,
        BOOL_FULLSCREEN = 6,
        BOOL_SYNC_TO_REFRESH = 7,
        BOOL_TRIPLE_BUFFER = 8,
        BOOL_FORCE_SINGLE_PROCESSOR_MODE = 9,
        BOOL_DEVELOPER = 10,
        BOOL_ROCK_ON = 11,
        BOOL_SKIP_COMPATIBILITY_CHECKS = 12,
        BOOL_USE_ARCHIVES = 13,
        NUM_BOOLS = 14,
    };
    enum StringName
    {
        STRING_LANGUAGE = 0,
        NUM_STRINGS = 1,
    };

    struct Key
    {
        const char* name;
        int index;
        Type type;
        GroupName group;
    };
    static constexpr int numKeys = 27;
    // The keys in registration order, which is the order of the written file.
    static const Key* GetKeys();

    // The file system the files are read through (the engine's); not owned.
    explicit Options(FileSystem* fileSystem = nullptr);
    virtual ~Options() = default;
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;

    void SetFileSystem(FileSystem* fileSystem) { m_fileSystem = fileSystem; }

    float GetFloat(FloatName name) const { return m_floats[name]; }
    void SetFloat(FloatName name, float value) { m_floats[name] = value; }
    // No key has the int type; the accessors exist for completeness and take no index.
    float GetInt(IntName) const { return 0.0f; }
    void SetInt(IntName, float) {}
    Int2 GetInt2(Int2Name name) const { return m_int2s[name]; }
    void SetInt2(Int2Name name, const Int2& value) { m_int2s[name] = value; }
    Quality GetQuality(QualityName name) const { return m_qualities[name]; }
    void SetQuality(QualityName name, Quality value) { m_qualities[name] = value; }
    bool GetBool(BoolName name) const { return m_bools[name]; }
    void SetBool(BoolName name, bool value) { m_bools[name] = value; }
    std::string GetString(StringName name) const { return m_strings[name]; }
    void SetString(StringName name, const std::string& value) { m_strings[name] = value; }
    Device GetDevice() const { return m_device; }
    void SetDevice(Device device) { m_device = device; }

    float GetDefaultFloat(FloatName name) const { return m_defaultFloats[name]; }
    Int2 GetDefaultInt2(Int2Name name) const { return m_defaultInt2s[name]; }
    Quality GetDefaultQuality(QualityName name) const { return m_defaultQualities[name]; }
    bool GetDefaultBool(BoolName name) const { return m_defaultBools[name]; }
    std::string GetDefaultString(StringName name) const { return m_defaultStrings[name]; }

    void LoadDefaults(const std::string& path);
    void Load(const std::string& path);
    // True when the whole file was written; otherwise the file that was there is left as it was
    // and one log line says why (the system's reason also in `reason`). Folders are made, and a
    // read-only file is made writable first.
    bool Save(const std::string& path) const;
    bool Save(const std::string& path, std::string& reason) const;
    void SetToDefaults(GroupName group);

    static void SetDefaultsProvider(OptionsDefaultsProvider* provider);
    static OptionsDefaultsProvider* GetDefaultsProvider();

private:
    void ReadPass(const std::string& path, bool intoDefaults);
    void SetLanguageFromUser();

    FileSystem* m_fileSystem;
    float m_floats[NUM_FLOATS];
    float m_defaultFloats[NUM_FLOATS];
    Int2 m_int2s[NUM_INT2S];
    Int2 m_defaultInt2s[NUM_INT2S];
    Quality m_qualities[NUM_QUALITIES];
    Quality m_defaultQualities[NUM_QUALITIES];
    bool m_bools[NUM_BOOLS];
    bool m_defaultBools[NUM_BOOLS];
    std::string m_strings[NUM_STRINGS];
    std::string m_defaultStrings[NUM_STRINGS];
    Device m_device = DEVICE_DEFAULT;
};

} // namespace GAME
