#include "uikit/memory_room.h"

#include <sys/mman.h>

namespace kaldrome {

namespace {

// A message box, its picture on the screen (shared with the X server) and
// the text laid out in it take well under this.
constexpr std::size_t MessageRoomBytes = std::size_t{4} << 20;

void* held = nullptr;

// Writable private memory, never touched: it counts against both limits yet
// takes no page of memory.
void* Take(std::size_t bytes) {
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : memory;
}

}  // namespace

bool RoomFor(std::size_t bytes) {
    void* memory = Take(bytes);
    if (memory == nullptr) return false;
    munmap(memory, bytes);
    return true;
}

void HoldRoomForMessages() {
    if (held == nullptr) held = Take(MessageRoomBytes);
}

RoomForMessage::RoomForMessage() {
    if (held == nullptr) return;
    munmap(held, MessageRoomBytes);
    held = nullptr;
    freed_ = true;
}

RoomForMessage::~RoomForMessage() {
    if (freed_) HoldRoomForMessages();
}

}  // namespace kaldrome
