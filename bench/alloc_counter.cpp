#include "bench/alloc_counter.h"

#include <atomic>
#include <cstddef>
#include <new>

// glibc's own allocator, under the names it keeps for programs that replace
// malloc.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);
}

namespace {

std::atomic<std::uint64_t> g_allocations{0};
std::atomic<std::uint64_t> g_hotPath{0};

void Count() {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
}

void* NewBlock(std::size_t size) {
    Count();
    void* block = __libc_malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

}  // namespace

namespace lxd::bench {

std::uint64_t Allocations() {
    return g_allocations.load(std::memory_order_relaxed);
}
void AddHotPathAllocations(std::uint64_t count) {
    g_hotPath.fetch_add(count, std::memory_order_relaxed);
}
std::uint64_t HotPathAllocations() {
    return g_hotPath.load(std::memory_order_relaxed);
}

}  // namespace lxd::bench

extern "C" {
void* malloc(std::size_t size) noexcept {
    Count();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    Count();
    return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) noexcept {
    Count();
    return __libc_realloc(block, size);
}
void free(void* block) noexcept {
    __libc_free(block);
}
}

void* operator new(std::size_t size) {
    return NewBlock(size);
}
void* operator new[](std::size_t size) {
    return NewBlock(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    Count();
    return __libc_malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    Count();
    return __libc_malloc(size == 0 ? 1 : size);
}
void operator delete(void* block) noexcept {
    __libc_free(block);
}
void operator delete[](void* block) noexcept {
    __libc_free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    __libc_free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    __libc_free(block);
}
