// The class registry: one static record per registered class, linked into trees by parent (roots
// are Object and TerrainObject). Objects are created by class name through it, and IsA is answered
// by walking parents, without the compiler's type information.
//
// Records are built during static initialisation in an order nobody controls, so a child may link
// itself into its parent before the parent's record is constructed. Child lists therefore live in
// a registry of their own, made on first use and keyed by the parent record's address; a record's
// constructor never touches them. The registry is locked, so look-ups may run on loader threads
// while a module registers classes.
//
// Registering a class takes one line in its header and one in its source:
//
//     class Entity : public Object
//     {
//         GAME_DECLARE_CLASS(Entity)        // first in the body; leaves the access at private
//     public:
//         ...
//     };
//
//     GAME_REGISTER_CLASS(Entity, Object)   // in Entity.cpp, in the class's namespace
//
// A root class uses GAME_DECLARE_ROOT_CLASS / GAME_REGISTER_ROOT_CLASS instead; it introduces the
// virtual GetClassInfo that the classes below it override. The registered name is the class name
// as written in GAME_REGISTER_CLASS. The factory (RTTI_new) returns a pointer to the root-class part
// of the new object, so the untyped result of CreateInstance may be cast straight to the root type
// (Object* below Object) even when the class has several bases.
#pragma once

namespace GAME {

class RTTI_ClassInfo
{
public:
    using Factory = void* (*)();

    // Keeps a copy of the name; links this record into the parent's children when there is one.
    RTTI_ClassInfo(const char* name, RTTI_ClassInfo* parent, Factory factory);
    virtual ~RTTI_ClassInfo();
    RTTI_ClassInfo(const RTTI_ClassInfo&) = delete;
    RTTI_ClassInfo& operator=(const RTTI_ClassInfo&) = delete;

    const char* GetClassName() const { return m_name ? m_name : ""; }
    const RTTI_ClassInfo* GetParent() const { return m_parent; }

    // Children in registration order.
    int GetNumChildren() const;
    const RTTI_ClassInfo* GetChild(int index) const;

    void AddChild(RTTI_ClassInfo* child);
    // Removes the first occurrence; a record that is not a child changes nothing.
    void RemoveChild(RTTI_ClassInfo* child);

    // The same record, or a record with the same class name (case-sensitive).
    bool IsSameClass(const RTTI_ClassInfo& other) const;
    // This class or one of its ancestors is the same class as other.
    bool IsA(const RTTI_ClassInfo& other) const;

    // A new instance of the class of that name in this subtree, searched depth first in
    // registration order (the first match wins); null when no record has the name.
    void* CreateInstance(const char* className) const;

private:
    char* m_name = nullptr;
    RTTI_ClassInfo* m_parent = nullptr;
    Factory m_factory = nullptr;
};

} // namespace GAME

#define GAME_RTTI_DECLARE_COMMON_(ClassName)                                                                 \
public:                                                                                                      \
    static ::GAME::RTTI_ClassInfo classInfo;                                                                 \
    static const ::GAME::RTTI_ClassInfo& GetStaticClassInfo()                                                \
    {                                                                                                        \
        return classInfo;                                                                                    \
    }                                                                                                        \
                                                                                                             \
protected:                                                                                                   \
    static void* RTTI_new()                                                                                  \
    {                                                                                                        \
        return static_cast<RTTI_RootType*>(new ClassName);                                                   \
    }                                                                                                        \
                                                                                                             \
private:

// In the body of a root class of the registry.
#define GAME_DECLARE_ROOT_CLASS(ClassName)                                                                   \
public:                                                                                                      \
    using RTTI_RootType = ClassName;                                                                         \
    virtual const ::GAME::RTTI_ClassInfo& GetClassInfo() const                                               \
    {                                                                                                        \
        return classInfo;                                                                                    \
    }                                                                                                        \
    GAME_RTTI_DECLARE_COMMON_(ClassName)

// In the body of a class registered below another registered class.
#define GAME_DECLARE_CLASS(ClassName)                                                                        \
public:                                                                                                      \
    const ::GAME::RTTI_ClassInfo& GetClassInfo() const override                                              \
    {                                                                                                        \
        return classInfo;                                                                                    \
    }                                                                                                        \
    GAME_RTTI_DECLARE_COMMON_(ClassName)

// In the source of the class, at namespace scope.
#define GAME_REGISTER_ROOT_CLASS(ClassName)                                                                  \
    ::GAME::RTTI_ClassInfo ClassName::classInfo(#ClassName, nullptr, &ClassName::RTTI_new);

#define GAME_REGISTER_CLASS(ClassName, ParentName)                                                           \
    ::GAME::RTTI_ClassInfo ClassName::classInfo(#ClassName, &ParentName::classInfo, &ClassName::RTTI_new);
