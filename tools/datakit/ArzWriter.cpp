#include "datakit/ArzWriter.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <zlib.h>

namespace DataKit {

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void Patch32(std::vector<uint8_t>& out, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutString(std::vector<uint8_t>& out, const std::string& text)
{
    Put32(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

uint32_t Adler(const uint8_t* data, size_t size)
{
    return static_cast<uint32_t>(adler32(adler32(0, nullptr, 0), data, static_cast<uInt>(size)));
}

} // namespace

std::string NormalizeRecordName(const std::string& name)
{
    std::string result = name;
    for (char& c : result) {
        if (c == '/')
            c = '\\';
        else
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return result;
}

ArzWriter::Record::Record(ArzWriter* writer, uint32_t nameIndex, std::string type)
    : m_writer(writer), m_nameIndex(nameIndex), m_type(std::move(type))
{
}

void ArzWriter::Record::Head(uint32_t type, uint32_t count, uint32_t nameIndex)
{
    Word((count << 16) | (type & 0xFFFF));
    Word(nameIndex);
}

void ArzWriter::Record::Word(uint32_t word)
{
    Put32(m_body, word);
}

ArzWriter::Record& ArzWriter::Record::Int(const std::string& name, const std::vector<int32_t>& values)
{
    Head(FIELD_INT, static_cast<uint32_t>(values.size()), m_writer->AddString(name));
    for (int32_t v : values)
        Word(static_cast<uint32_t>(v));
    return *this;
}

ArzWriter::Record& ArzWriter::Record::Float(const std::string& name, const std::vector<float>& values)
{
    Head(FIELD_FLOAT, static_cast<uint32_t>(values.size()), m_writer->AddString(name));
    for (float v : values) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        Word(bits);
    }
    return *this;
}

ArzWriter::Record& ArzWriter::Record::String(const std::string& name, const std::vector<std::string>& values)
{
    Head(FIELD_STRING, static_cast<uint32_t>(values.size()), m_writer->AddString(name));
    for (const std::string& v : values)
        Word(m_writer->AddString(v));
    return *this;
}

ArzWriter::Record& ArzWriter::Record::Bool(const std::string& name, const std::vector<bool>& values)
{
    Head(FIELD_BOOL, static_cast<uint32_t>(values.size()), m_writer->AddString(name));
    for (bool v : values)
        Word(v ? 1u : 0u);
    return *this;
}

ArzWriter::Record& ArzWriter::Record::Raw(uint32_t type, uint32_t nameIndex,
                                          const std::vector<uint32_t>& words)
{
    Head(type, static_cast<uint32_t>(words.size()), nameIndex);
    for (uint32_t w : words)
        Word(w);
    return *this;
}

ArzWriter::Record& ArzWriter::Record::Body(const std::vector<uint8_t>& bytes)
{
    m_body = bytes;
    return *this;
}

ArzWriter::ArzWriter(bool compressed) : m_compressed(compressed) {}

uint32_t ArzWriter::AddString(const std::string& text)
{
    auto it = m_index.find(text);
    if (it != m_index.end())
        return it->second;
    return AppendString(text);
}

uint32_t ArzWriter::AppendString(const std::string& text)
{
    uint32_t index = static_cast<uint32_t>(m_strings.size());
    m_strings.push_back(text);
    m_index.emplace(text, index); // keeps the first index of a repeated text
    return index;
}

ArzWriter::Record& ArzWriter::AddRecord(const std::string& name, const std::string& type)
{
    return AddRecordRaw(AddString(name), type);
}

ArzWriter::Record& ArzWriter::AddRecordRaw(uint32_t nameIndex, const std::string& type)
{
    m_records.push_back(Record(this, nameIndex, type));
    return m_records.back();
}

bool ArzWriter::Build(std::vector<uint8_t>& image, Layout* layout) const
{
    Layout local;
    Layout& out = layout ? *layout : local;
    out = Layout();
    image.assign(24, 0);

    std::vector<uint8_t> packed;
    for (const Record& record : m_records) {
        out.bodyOffsets.push_back(static_cast<uint32_t>(image.size()));
        const std::vector<uint8_t>& body = record.m_body;
        if (m_compressed) {
            uLongf packedSize = compressBound(static_cast<uLong>(body.size()));
            packed.resize(packedSize);
            if (compress2(packed.data(), &packedSize, body.data(), static_cast<uLong>(body.size()),
                          m_level) != Z_OK)
                return false;
            image.insert(image.end(), packed.begin(), packed.begin() + packedSize);
            out.bodySizes.push_back(static_cast<uint32_t>(packedSize));
        } else {
            image.insert(image.end(), body.begin(), body.end());
            out.bodySizes.push_back(static_cast<uint32_t>(body.size()));
        }
    }

    out.recordTableOffset = static_cast<uint32_t>(image.size());
    for (size_t i = 0; i < m_records.size(); ++i) {
        const Record& record = m_records[i];
        out.entryOffsets.push_back(static_cast<uint32_t>(image.size()));
        Put32(image, record.m_nameIndex);
        PutString(image, record.m_type);
        Put32(image, out.bodyOffsets[i] - 24);
        Put32(image, out.bodySizes[i]);
        Put32(image, record.m_extra[0]);
        Put32(image, record.m_extra[1]);
    }
    out.recordTableSize = static_cast<uint32_t>(image.size()) - out.recordTableOffset;

    out.stringTableOffset = static_cast<uint32_t>(image.size());
    Put32(image, static_cast<uint32_t>(m_strings.size()));
    for (const std::string& text : m_strings) {
        out.stringOffsets.push_back(static_cast<uint32_t>(image.size()));
        PutString(image, text);
    }
    out.stringTableSize = static_cast<uint32_t>(image.size()) - out.stringTableOffset;

    uint32_t flags = m_version | (m_compressed ? 1u << 16 : 0u) | (m_footer ? 1u << 17 : 0u);
    Patch32(image, 0, flags);
    Patch32(image, 4, out.recordTableOffset);
    Patch32(image, 8, out.recordTableSize);
    Patch32(image, 12, static_cast<uint32_t>(m_records.size()));
    Patch32(image, 16, out.stringTableOffset);
    Patch32(image, 20, out.stringTableSize);

    if (m_footer) {
        const uint8_t* base = image.data();
        uint32_t words[4] = {Adler(base, image.size()),
                             Adler(base + out.stringTableOffset, out.stringTableSize),
                             Adler(base + 24, out.recordTableOffset - 24),
                             Adler(base + out.recordTableOffset, out.recordTableSize)};
        for (uint32_t w : words)
            Put32(image, w);
    }
    return true;
}

std::vector<uint8_t> ArzWriter::Build() const
{
    std::vector<uint8_t> image;
    if (!Build(image))
        image.clear();
    return image;
}

bool ArzWriter::Save(const std::string& path) const
{
    std::vector<uint8_t> image;
    if (!Build(image))
        return false;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    return static_cast<bool>(file);
}

} // namespace DataKit
