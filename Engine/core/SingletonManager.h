// The engine's list of objects that want one call per frame with the frame's elapsed game time.
// Entries are not owned; one object may be registered more than once and is then called as often.
// Main thread only: there is no lock.
#pragma once

#include <cstddef>
#include <vector>

namespace GAME {

class SingletonInterface
{
public:
    // Called once per frame with the frame's elapsed game time in milliseconds.
    virtual void Update(int elapsedTime) = 0;
    virtual ~SingletonInterface() = default;
};

class SingletonManager
{
public:
    SingletonManager() = default;
    ~SingletonManager() = default;
    SingletonManager(const SingletonManager&) = delete;
    SingletonManager& operator=(const SingletonManager&) = delete;

    void Register(SingletonInterface* singleton);
    // Removes the first occurrence, keeping the order of the rest.
    void UnRegister(SingletonInterface* singleton);
    // Calls every registered object in registration order. One may register or unregister objects
    // from its Update; objects removed that way are not called afterwards.
    void Update(int elapsedTime);

    int GetNumRegistered() const { return static_cast<int>(m_singletons.size()); }

private:
    std::vector<SingletonInterface*> m_singletons;
    // Position of the next object to call while Update runs, kept right when the list changes.
    size_t m_updateNext = 0;
    bool m_updating = false;
};

} // namespace GAME
