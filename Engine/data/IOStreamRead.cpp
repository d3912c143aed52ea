#include "data/IOStreamRead.h"

#include "core/Coords.h"
#include "core/Log.h"
#include "core/Name.h"
#include "core/UniqueId.h"
#include "core/WorldCoords.h"
#include "data/File.h"
#include "data/FileSystem.h"
#include "platform/PlatformFile.h"

#include <atomic>
#include <cstring>

namespace GAME {

namespace {

const char kBeginBlock[] = "begin_block";
const char kEndBlock[] = "end_block";
constexpr uint32_t kBeginBlockLength = sizeof(kBeginBlock) - 1;
constexpr uint32_t kEndBlockLength = sizeof(kEndBlock) - 1;

uint32_t LoadU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool ReadDiskFile(const char* path, std::vector<uint8_t>& bytes)
{
    Platform::PlatformFile file;
    uint64_t size = 0;
    if (!file.Open(path, Platform::FileOpenMode::Read) || !file.GetSize(size))
        return false;
    if (size > 0xFFFFFFFFull) {
        LogPrintf(1, "IOStreamRead: %s is too large to read (%llu bytes)", path,
                  static_cast<unsigned long long>(size));
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    uint64_t done = 0;
    while (done < size) {
        const int64_t n = file.ReadAt(done, bytes.data() + done, static_cast<size_t>(size - done));
        if (n <= 0)
            break;
        done += static_cast<uint64_t>(n);
    }
    bytes.resize(static_cast<size_t>(done));
    return true;
}

} // namespace

IOStreamRead::IOStreamRead(const char* path, IOStreamType type) : IOStream(type)
{
    const char* name = path ? path : "";
    if (type == IOSTREAM_DISK) {
        if (!ReadDiskFile(name, m_owned)) {
            LogPrintf(1, "IOStreamRead: cannot open %s", name);
        } else {
            m_valid = !m_owned.empty();
            m_bytes = m_owned.data();
            m_length = static_cast<unsigned>(m_owned.size());
        }
    } else {
        FileSystem* fileSystem = GetFileSystem();
        if (!fileSystem) {
            static std::atomic<bool> logged{false};
            if (!logged.exchange(true))
                LogPrintf(1, "IOStreamRead: no file system installed; %s cannot be read", name);
        } else if ((m_file = fileSystem->OpenFile(name, FILE_MODE_READ)) == nullptr) {
            LogPrintf(1, "IOStreamRead: cannot open %s", name);
        } else {
            m_fileSystem = fileSystem;
            m_valid = true;
            const unsigned length = m_file->GetLength();
            m_bytes = length ? static_cast<const uint8_t*>(m_file->Lock()) : nullptr;
            m_length = m_bytes ? length : 0;
        }
    }
    m_reader = BinaryReader(m_bytes, m_length);
}

IOStreamRead::IOStreamRead(const void* data, unsigned size) : IOStream(IOSTREAM_DISK)
{
    if (data && size)
        m_owned.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    m_valid = !m_owned.empty();
    m_bytes = m_owned.data();
    m_length = static_cast<unsigned>(m_owned.size());
    m_reader = BinaryReader(m_bytes, m_length);
}

IOStreamRead::~IOStreamRead()
{
    Release();
}

void IOStreamRead::Release()
{
    if (m_file) {
        if (m_bytes)
            m_file->Unlock();
        m_fileSystem->CloseFile(m_file);
        m_file = nullptr;
        // The locked bytes are gone with the file.
        m_bytes = nullptr;
        m_length = 0;
        m_reader = BinaryReader();
    }
}

int IOStreamRead::Shutdown()
{
    Release();
    return 1;
}

void IOStreamRead::Rewind()
{
    m_reader = BinaryReader(m_bytes, m_length);
}

bool IOStreamRead::GetFirstMismatch(std::string& asked, std::string& found) const
{
    asked = m_mismatchAsked;
    found = m_mismatchFound;
    return m_mismatch;
}

bool IOStreamRead::PeekName(const char*& text, uint32_t& length) const
{
    if (m_reader.Failed() || m_reader.GetRemaining() < 4)
        return false;
    const uint8_t* cursor = m_reader.GetCursor();
    length = LoadU32(cursor);
    if (length > BinaryReader::kMaxStringLength || length > m_reader.GetRemaining() - 4)
        return false;
    text = reinterpret_cast<const char*>(cursor + 4);
    return true;
}

bool IOStreamRead::HandlePropertyTag(const std::string& name)
{
    const char* text = nullptr;
    uint32_t length = 0;
    const bool found = PeekName(text, length);
    if (found && length == name.size() && std::memcmp(text, name.data(), length) == 0) {
        m_reader.Skip(4 + length);
        return true;
    }
    if (!m_mismatch) {
        m_mismatch = true;
        m_mismatchAsked = name;
        m_mismatchFound = found ? std::string(text, length) : std::string();
    }
    return false;
}

void IOStreamRead::StreamPropertyEx(const std::string& name, std::vector<unsigned>& value)
{
    if (!HandlePropertyTag(name))
        return;
    const uint32_t count = m_reader.ReadUInt32();
    if (!m_reader.CheckCount(count, 4, "tagged stream array entries"))
        return;
    std::vector<unsigned> values(count);
    for (unsigned& v : values)
        v = m_reader.ReadUInt32();
    if (!m_reader.Failed())
        value = std::move(values);
}

void IOStreamRead::StreamPropertyEx(const std::string& name, UniqueId& value)
{
    if (!HandlePropertyTag(name))
        return;
    const UniqueId id = m_reader.ReadUniqueIdReversed();
    if (!m_reader.Failed())
        value = id;
}

void IOStreamRead::StreamPropertyEx(const std::string& name, WorldCoords& value)
{
    if (!HandlePropertyTag(name))
        return;
    WorldCoords coords;
    if (coords.Read(m_reader))
        value = coords;
}

void IOStreamRead::StreamPropertyEx(const std::string& name, Coords& value)
{
    if (!HandlePropertyTag(name))
        return;
    const Coords coords = m_reader.ReadCoords();
    if (!m_reader.Failed())
        value = coords;
}

void IOStreamRead::StreamPropertyEx(const std::string& name, Name& value)
{
    if (!HandlePropertyTag(name))
        return;
    int count = 0;
    StreamPropertyEx("md5ChunkCount", count);
    std::vector<unsigned> words;
    // Each chunk is a property of its own; stopping at the first one missing bounds the loop by
    // the data, whatever the count says.
    for (int i = 0; i < count; ++i) {
        if (!HandlePropertyTag("md5Chunk"))
            break;
        const unsigned word = m_reader.ReadUInt32();
        if (m_reader.Failed())
            break;
        if (words.size() < 4)
            words.push_back(word);
    }
    if (!words.empty())
        value.SetMD5(words);
}

void IOStreamRead::StreamPropertyEx(const std::string& name, std::u16string& value)
{
    if (!HandlePropertyTag(name))
        return;
    std::u16string text;
    if (m_reader.ReadWideString(text))
        value = std::move(text);
}

void IOStreamRead::StreamPropertyEx(const std::string& name, bool& value)
{
    if (!HandlePropertyTag(name))
        return;
    const bool v = m_reader.ReadBool();
    if (!m_reader.Failed())
        value = v;
}

void IOStreamRead::StreamPropertyEx(const std::string& name, unsigned& value)
{
    if (!HandlePropertyTag(name))
        return;
    const unsigned v = m_reader.ReadUInt32();
    if (!m_reader.Failed())
        value = v;
}

void IOStreamRead::StreamPropertyEx(const std::string& name, std::string& value)
{
    if (!HandlePropertyTag(name))
        return;
    std::string text;
    if (m_reader.ReadString(text))
        value = std::move(text);
}

void IOStreamRead::StreamPropertyEx(const std::string& name, float& value)
{
    if (!HandlePropertyTag(name))
        return;
    const float v = m_reader.ReadFloat();
    if (!m_reader.Failed())
        value = v;
}

void IOStreamRead::StreamPropertyEx(const std::string& name, int& value)
{
    if (!HandlePropertyTag(name))
        return;
    const int v = m_reader.ReadInt32();
    if (!m_reader.Failed())
        value = v;
}

bool IOStreamRead::TakeMarker(const char* name, uint32_t length)
{
    const char* text = nullptr;
    uint32_t found = 0;
    if (!PeekName(text, found) || found != length || std::memcmp(text, name, length) != 0)
        return false;
    // The marker's value carries nothing; it is read and not checked.
    m_reader.Skip(4 + length);
    m_reader.ReadUInt32();
    return true;
}

void IOStreamRead::BeginBlock()
{
    TakeMarker(kBeginBlock, kBeginBlockLength);
}

void IOStreamRead::EndBlock()
{
    if (TakeMarker(kEndBlock, kEndBlockLength))
        return;
    SkipRestOfBlock();
    TakeMarker(kEndBlock, kEndBlockLength);
}

void IOStreamRead::SkipRestOfBlock()
{
    if (m_reader.Failed())
        return;
    // Property types are not in the data, so the markers are found by their names: every byte
    // position is tried as the start of a name. Nested blocks count up and down; the scan never
    // looks past the end of the data.
    const uint8_t* data = m_reader.GetData();
    const unsigned size = m_reader.GetSize();
    unsigned position = m_reader.GetPosition();
    int depth = 1;
    for (; position + 4 <= size; ++position) {
        const uint32_t length = LoadU32(data + position);
        const unsigned left = size - position - 4;
        if (length == kEndBlockLength && length <= left &&
            std::memcmp(data + position + 4, kEndBlock, kEndBlockLength) == 0) {
            if (--depth == 0)
                break;
        } else if (length == kBeginBlockLength && length <= left &&
                   std::memcmp(data + position + 4, kBeginBlock, kBeginBlockLength) == 0) {
            ++depth;
        }
    }
    m_reader.Seek(position + 4 <= size ? position : size);
}

} // namespace GAME
