// An action of a character (an attack, a skill use, a move), made by the host with `new`. The
// engine itself defines no concrete action and calls only two operations of one: its packet, when
// the network shim sends it to the server (SendCharacterAction), and its character's id, for the
// shim's log line. Everything else an action does belongs to the host's classes, which add their
// own operations. An action handed to the shim stays the caller's.
//
// Main thread.
#pragma once

#include <cstdint>

namespace GAME {

class NetPacket;

class CharacterAction
{
public:
    // The value is the host's; the base keeps nothing.
    explicit CharacterAction(uint32_t) {}
    CharacterAction(const CharacterAction&) = default;
    CharacterAction& operator=(const CharacterAction&) = default;
    virtual ~CharacterAction() = default;

    // A new packet carrying the action, owned by the caller, or null when the action is not to
    // be sent.
    virtual NetPacket* GetNetPacket() = 0;
    // The object id of the character the action belongs to.
    virtual uint32_t GetCharacterId() const = 0;
};

} // namespace GAME
