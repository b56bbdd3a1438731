// ApplyDatagram on arbitrary bytes: reads stay inside the datagram, writes
// inside an exact-size heap store, every store write is bracketed by the
// hooks, and applying the same datagram twice equals applying it once.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "intake/datagram.h"
#include "protocol/layout.h"

namespace {

int g_open = 0;         // hooks entered but not yet left
bool g_nested = false;  // a write bracket opened inside another

void Before(void*) {
    if (g_open != 0) {
        g_nested = true;
    }
    ++g_open;
}
void After(void*) {
    --g_open;
}
constexpr lxd::StoreWriteHooks kHooks{nullptr, &Before, &After};

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_datagram: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exact-size copies: ASan reports any byte read past the datagram or
    // written past the store.
    std::unique_ptr<std::uint8_t[]> datagram(new std::uint8_t[size]);
    if (size != 0) {
        std::memcpy(datagram.get(), data, size);
    }
    // Exact-size heap stores, kept across runs; each run starts from the same
    // non-zero pattern.
    static const std::unique_ptr<std::uint8_t[]> pattern = [] {
        std::unique_ptr<std::uint8_t[]> p(new std::uint8_t[lxd::kStoreSize]);
        for (std::uint32_t i = 0; i < lxd::kStoreSize; ++i) {
            p[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
        }
        return p;
    }();
    static const std::unique_ptr<std::uint8_t[]> store(new std::uint8_t[lxd::kStoreSize]);
    static const std::unique_ptr<std::uint8_t[]> once(new std::uint8_t[lxd::kStoreSize]);
    std::memcpy(store.get(), pattern.get(), lxd::kStoreSize);
    const auto length = static_cast<std::uint32_t>(size);

    g_open = 0;
    g_nested = false;
    lxd::ApplyDatagram(datagram.get(), length, store.get(), kHooks);
    if (g_open != 0 || g_nested) {
        Fail("store write hooks are unbalanced");
    }
    std::memcpy(once.get(), store.get(), lxd::kStoreSize);
    lxd::ApplyDatagram(datagram.get(), length, store.get(), kHooks);
    if (std::memcmp(once.get(), store.get(), lxd::kStoreSize) != 0) {
        Fail("applying the datagram twice differs from applying it once");
    }
    if (size != 0 && std::memcmp(datagram.get(), data, size) != 0) {
        Fail("the datagram was modified");
    }
    return 0;
}
