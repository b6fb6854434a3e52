#include "platform/platform.h"

namespace zv {

void* AllocGlobalBlock(Platform& os, uint32_t size, BlockHandle* handle) {
    *handle = 0;
    BlockHandle block = os.AllocBlock(size);
    if (block == 0) return nullptr;
    void* address = os.LockBlock(block);
    if (address == nullptr) {
        os.FreeBlock(block);
        return nullptr;
    }
    *handle = block;
    return address;
}

void FreeGlobalBlock(Platform& os, BlockHandle* handle) {
    if (*handle == 0) return;
    os.UnlockBlock(*handle);
    os.FreeBlock(*handle);
    *handle = 0;
}

}  // namespace zv
