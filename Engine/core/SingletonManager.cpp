#include "core/SingletonManager.h"

#include "core/Log.h"

#include <algorithm>

namespace GAME {

void SingletonManager::Register(SingletonInterface* singleton)
{
    if (!singleton) {
        LogPrintf(1, "SingletonManager: ignored the registration of a null singleton");
        return;
    }
    m_singletons.push_back(singleton);
}

void SingletonManager::UnRegister(SingletonInterface* singleton)
{
    auto found = std::find(m_singletons.begin(), m_singletons.end(), singleton);
    if (found == m_singletons.end())
        return;
    size_t position = static_cast<size_t>(found - m_singletons.begin());
    m_singletons.erase(found);
    if (m_updating && position < m_updateNext)
        --m_updateNext;
}

void SingletonManager::Update(int elapsedTime)
{
    if (m_updating) {
        LogPrintf(1, "SingletonManager: Update called from within Update; ignored");
        return;
    }
    m_updating = true;
    for (m_updateNext = 0; m_updateNext < m_singletons.size();) {
        SingletonInterface* singleton = m_singletons[m_updateNext++];
        singleton->Update(elapsedTime);
    }
    m_updating = false;
}

} // namespace GAME
