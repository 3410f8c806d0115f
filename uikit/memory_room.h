// Memory the program can still count on when little is left: whether there is
// room before a window opens that Qt cannot paint without it, and room held
// back for the message that tells the user memory ran out.
#pragma once

#include <cstddef>

namespace kaldrome {

// True when bytes more of memory can be had now within the system's limits:
// an address-space limit (ulimit -v), and the commit limit where the system
// promises no more than it has. Nothing is kept.
bool RoomFor(std::size_t bytes);

// Holds room back from now on for the program's messages.
void HoldRoomForMessages();

// While it lives, the room held back is free for a message to use; afterwards
// it is held again where it can be.
class RoomForMessage {
  public:
    RoomForMessage();
    ~RoomForMessage();
    RoomForMessage(const RoomForMessage&) = delete;
    RoomForMessage& operator=(const RoomForMessage&) = delete;

  private:
    bool freed_ = false;
};

}  // namespace kaldrome
