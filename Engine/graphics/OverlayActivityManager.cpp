#include "graphics/OverlayActivityManager.h"

#include "graphics/OverlayActivity.h"

#include <algorithm>

namespace GAME {

OverlayActivityManager::~OverlayActivityManager()
{
    Clear();
}

void OverlayActivityManager::AddActivity(OverlayActivity* activity)
{
    if (activity)
        m_activities.push_back(activity);
}

void OverlayActivityManager::RemoveActivity(OverlayActivity* activity)
{
    m_activities.erase(std::remove(m_activities.begin(), m_activities.end(), activity), m_activities.end());
}

void OverlayActivityManager::Update(int elapsedMs)
{
    // By index: an activity may add another while it updates.
    for (size_t i = 0; i < m_activities.size(); ++i)
        if (!m_activities[i]->Finished())
            m_activities[i]->Update(elapsedMs);
}

void OverlayActivityManager::Render(GraphicsCanvas& canvas) const
{
    for (const OverlayActivity* activity : m_activities)
        if (!activity->Finished())
            activity->Render(canvas);
}

void OverlayActivityManager::Clear()
{
    std::vector<OverlayActivity*> activities;
    activities.swap(m_activities);
    // An activity added twice is still deleted once.
    std::sort(activities.begin(), activities.end());
    activities.erase(std::unique(activities.begin(), activities.end()), activities.end());
    for (OverlayActivity* activity : activities)
        delete activity;
}

} // namespace GAME
