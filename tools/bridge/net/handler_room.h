// Room for one handler at a time, so that posting it allocates nothing: Asio
// recycles only a few blocks of handler memory per thread, and a handler
// posted on every turn of the event loop would now and then miss them.
#pragma once

#include <cstddef>
#include <new>

namespace lxd::bridge {

class HandlerRoom {
  public:
    HandlerRoom() = default;
    HandlerRoom(const HandlerRoom&) = delete;
    HandlerRoom& operator=(const HandlerRoom&) = delete;

    // The room when it is free and large enough; the heap otherwise.
    void* Take(std::size_t size) {
        if (!used_ && size <= sizeof storage_) {
            used_ = true;
            return storage_;
        }
        return ::operator new(size);
    }
    void Give(void* memory) {
        if (memory == storage_) {
            used_ = false;
        } else {
            ::operator delete(memory);
        }
    }

  private:
    alignas(std::max_align_t) unsigned char storage_[128];
    bool used_ = false;
};

// The allocator that hands out a HandlerRoom (asio::bind_allocator).
template <typename T>
class RoomAllocator {
  public:
    using value_type = T;
    explicit RoomAllocator(HandlerRoom& room) noexcept : room_(&room) {}
    template <typename U>
    RoomAllocator(const RoomAllocator<U>& other) noexcept : room_(other.Room()) {}

    T* allocate(std::size_t n) { return static_cast<T*>(room_->Take(n * sizeof(T))); }
    void deallocate(T* memory, std::size_t) noexcept { room_->Give(memory); }
    HandlerRoom* Room() const noexcept { return room_; }

    template <typename U>
    bool operator==(const RoomAllocator<U>& other) const noexcept {
        return room_ == other.Room();
    }
    template <typename U>
    bool operator!=(const RoomAllocator<U>& other) const noexcept {
        return room_ != other.Room();
    }

  private:
    HandlerRoom* room_;
};

}  // namespace lxd::bridge
