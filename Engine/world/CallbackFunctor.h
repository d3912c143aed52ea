// The host's callbacks that a trigger owns: the arming functor (may the trigger fire?) and the
// fired notification. Each is released (not deleted) by the trigger's destructor, so the host
// decides what releasing means. Main thread.
#pragma once

namespace GAME {

class Trigger;

class BooleanCallbackFunctor
{
public:
    virtual bool Call(Trigger* trigger) = 0;
    virtual void Release() = 0;

protected:
    ~BooleanCallbackFunctor() = default;
};

class VoidCallbackFunctor
{
public:
    virtual void Call(Trigger* trigger) = 0;
    virtual void Release() = 0;

protected:
    ~VoidCallbackFunctor() = default;
};

} // namespace GAME
