// A predicate over objects of one kind, handed to world and level queries (and installed as the
// engine's entity render filter). Callers own it; it is asked on the main thread.
#pragma once

namespace GAME {

template <class T> class FilterFunction
{
public:
    FilterFunction() = default;
    FilterFunction(const FilterFunction&) = default;
    FilterFunction& operator=(const FilterFunction&) = default;
    virtual ~FilterFunction() = default;

    virtual bool operator()(const T* object) const = 0;
};

} // namespace GAME
