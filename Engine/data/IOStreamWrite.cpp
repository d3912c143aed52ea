#include "data/IOStreamWrite.h"

#include "core/Coords.h"
#include "core/Log.h"
#include "core/Name.h"
#include "core/UniqueId.h"
#include "core/WorldCoords.h"
#include "platform/PathResolve.h"
#include "platform/PlatformFile.h"

namespace GAME {

IOStreamWrite::IOStreamWrite(const char* path, IOStreamType type)
    : IOStream(type), m_path(path ? path : ""), m_writer(1024)
{
}

bool IOStreamWrite::HandlePropertyTag(const std::string& name)
{
    m_writer.WriteString(name);
    return true;
}

void IOStreamWrite::StreamPropertyEx(const std::string& name, std::vector<unsigned>& value)
{
    HandlePropertyTag(name);
    m_writer.WriteUInt32(static_cast<uint32_t>(value.size()));
    for (unsigned v : value)
        m_writer.WriteUInt32(v);
}

void IOStreamWrite::StreamPropertyEx(const std::string& name, UniqueId& value)
{
    HandlePropertyTag(name);
    m_writer.WriteUniqueIdReversed(value);
}

void IOStreamWrite::StreamPropertyEx(const std::string& name, WorldCoords& value)
{
    HandlePropertyTag(name);
    value.Write(m_writer);
}

void IOStreamWrite::StreamPropertyEx(const std::string& name, Coords& value)
{
    HandlePropertyTag(name);
    m_writer.WriteCoords(value);
}

void IOStreamWrite::StreamPropertyEx(const std::string& name, Name& value)
{
    HandlePropertyTag(name);
    std::vector<unsigned> words = value.GetMD5();
    int count = static_cast<int>(words.size());
    StreamPropertyEx("md5ChunkCount", count);
    for (unsigned& word : words)
        StreamPropertyEx("md5Chunk", word);
}

void IOStreamWrite::StreamPropertyEx(const std::string& name, std::u16string& value)
{
    HandlePropertyTag(name);
    m_writer.WriteWideString(value);
}

void IOStreamWrite::StreamPropertyEx(const std::string& name, bool& value)
{
    HandlePropertyTag(name);
    m_writer.WriteBool(value);
}

void IOStreamWrite::StreamPropertyEx(const std::string& name, unsigned& value)
{
    HandlePropertyTag(name);
    m_writer.WriteUInt32(value);
}

void IOStreamWrite::StreamPropertyEx(const std::string& name, std::string& value)
{
    HandlePropertyTag(name);
    m_writer.WriteString(value);
}

void IOStreamWrite::StreamPropertyEx(const std::string& name, float& value)
{
    HandlePropertyTag(name);
    m_writer.WriteFloat(value);
}

void IOStreamWrite::StreamPropertyEx(const std::string& name, int& value)
{
    HandlePropertyTag(name);
    m_writer.WriteInt32(value);
}

void IOStreamWrite::BeginBlock()
{
    int marker = static_cast<int>(kBeginBlockValue);
    StreamPropertyEx("begin_block", marker);
}

void IOStreamWrite::EndBlock()
{
    int marker = static_cast<int>(kEndBlockValue);
    StreamPropertyEx("end_block", marker);
}

void IOStreamWrite::Rewind()
{
    m_writer.Seek(0);
}

int IOStreamWrite::Shutdown()
{
    std::string path = Platform::ToForwardSlashes(m_path);
    if (m_type == IOSTREAM_FILESYSTEM) {
        // Taken relative to the current directory, even when it looks absolute.
        const size_t start = path.find_first_not_of('/');
        path = start == std::string::npos ? std::string() : path.substr(start);
    }
    if (m_writer.Failed()) {
        LogPrintf(1, "IOStreamWrite: %s was not stored; its data could not be collected", m_path.c_str());
        return 0;
    }
    std::string reason = "no file name";
    if (path.empty() || !Platform::WriteWholeFile(path, m_writer.GetBuffer(), m_writer.GetSize(), &reason)) {
        LogPrintf(1, "IOStreamWrite: could not write %s (%s); the file there is as it was", m_path.c_str(),
                  reason.c_str());
        return 0;
    }
    return 1;
}

} // namespace GAME
