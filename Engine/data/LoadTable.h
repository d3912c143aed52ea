// A record's named fields with text values and typed getters that fall back to the caller's
// default: the table through which every object of the object model is configured. Read from
// text ("key,value," lines) here, or from the record database by LoadTableBinary. Every getter
// and Deserialize hold the table's lock, so loading threads may read a table the main thread uses.
#pragma once

#include "core/CriticalSection.h"
#include "core/Name.h"
#include "data/BasicTextParser.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace GAME {

class BinaryReader;
class EffectResource;
class GraphicsAnim;
class GraphicsMesh;
class GraphicsShader2;
class GraphicsTexture;
class Object;

class LoadTable
{
public:
    LoadTable() = default;
    virtual ~LoadTable() = default;
    LoadTable(const LoadTable&) = delete;
    LoadTable& operator=(const LoadTable&) = delete;

    virtual void Deserialize(BinaryReader& reader);
    virtual void Deserialize(BasicTextParser<char>& parser);
    virtual void Serialize(FILE* file);
    virtual const char* GetValue(const std::string& name, const char* defaultValue);
    virtual const char* GetValue(const char* name, const char* defaultValue);
    virtual int GetInt(const std::string& name, int defaultValue);
    virtual int GetInt(const char* name, int defaultValue);
    virtual float GetFloat(const std::string& name, float defaultValue);
    virtual float GetFloat(const char* name, float defaultValue);
    virtual bool GetBool(const std::string& name, bool defaultValue);
    virtual bool GetBool(const char* name, bool defaultValue);
    virtual int GetArrayInt(const std::string& name, unsigned int index, int defaultValue);
    virtual int GetArrayInt(const char* name, unsigned int index, int defaultValue);
    virtual void GetArrayInt(const std::string& name, std::vector<int>& values);
    virtual void GetArrayInt(const char* name, std::vector<int>& values);
    virtual float GetArrayReal(const std::string& name, unsigned int index, float defaultValue);
    virtual float GetArrayReal(const char* name, unsigned int index, float defaultValue);
    virtual void GetArrayReal(const std::string& name, std::vector<float>& values);
    virtual void GetArrayReal(const char* name, std::vector<float>& values);
    virtual const char* GetArrayValue(const std::string& name, unsigned int index, const char* defaultValue);
    virtual const char* GetArrayValue(const char* name, unsigned int index, const char* defaultValue);
    virtual void GetArrayValue(const std::string& name, std::vector<std::string>& values);
    virtual void GetArrayValue(const char* name, std::vector<std::string>& values);
    virtual int GetNumElementsForField(const std::string& name);
    virtual int GetNumElementsForField(const char* name);

    // Name::Create of the field's value (of the empty text when the field is missing).
    Name CreateName(const char* name);

    // Resources named by element `index` of a field, loaded through the installed
    // LoadTableResources; null for an empty element or when nothing can load them.
    GraphicsMesh* LoadMesh(const char* name, unsigned int index = 0);
    GraphicsTexture* LoadTexture(const char* name, unsigned int index = 0);
    GraphicsShader2* LoadShader2(const char* name, unsigned int index = 0);
    EffectResource* LoadResourceEffect(const char* name, unsigned int index = 0);
    GraphicsAnim* LoadAnimation(const char* name, unsigned int index = 0);
    static GraphicsAnim* LoadAnimationFromFile(const std::string& fileName);

    // The object made from a record file by the object manager (id 0, loaded); null when it
    // cannot be made or is not a GAME::Object.
    static Object* CreateObjectFromFile(const std::string& recordFile);
    // The object made from the record file that the field names; null for an empty value.
    Object* CreateObjectFromProperty(const char* name);

    // Adds a field unless the name is present (the first occurrence wins); false when present.
    bool AddField(const std::string& name, const std::string& value);
    size_t GetNumFields();

    // Splits an array value on ';' (see the source for the exact rules).
    static void MakeTokens(const std::string& value, std::vector<std::string>& tokens);

protected:
    CriticalSection m_lock;

private:
    const std::string* Find(const char* name) const;

    std::map<std::string, std::string> m_fields;
    const std::vector<std::string>* Elements(const char* name);

    // Split array values, made on first use; the index form of GetArrayValue hands out pointers
    // into them, valid while the table lives (fields never change once added).
    std::map<std::string, std::vector<std::string>> m_elements;
};

} // namespace GAME
