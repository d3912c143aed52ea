// What a trigger's actions and conditions (TriggerAction, TriggerCondition) both carry: the id
// their trigger gave them, the trigger they belong to, and the names and comments the editor
// shows. Main thread.
#pragma once

#include <string>

namespace GAME {

class Trigger;

class TriggerElement
{
public:
    TriggerElement(const TriggerElement&) = delete;
    TriggerElement& operator=(const TriggerElement&) = delete;

    unsigned int GetId() const { return m_id; }
    void SetName(const std::string& name) { m_name = name; }
    const std::string& GetName() const { return m_name; }
    void SetComments(const std::string& comments) { m_comments = comments; }
    const std::string& GetComments() const { return m_comments; }
    void SetDbgParentName(const std::string& name) { m_dbgParentName = name; }
    const std::string& GetDbgParentName() const { return m_dbgParentName; }
    void SetParent(Trigger* parent) { m_parent = parent; }
    Trigger* GetParent() const { return m_parent; }

protected:
    TriggerElement(unsigned int id, Trigger* parent) : m_id(id), m_parent(parent) {}
    ~TriggerElement() = default;

    unsigned int m_id;
    Trigger* m_parent;
    std::string m_name;
    std::string m_dbgParentName;
    std::string m_spare;
    std::string m_comments;
};

} // namespace GAME
