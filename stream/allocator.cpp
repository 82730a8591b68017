#include "stream/allocator.h"

#include <cstdlib>
#include <mutex>

TMMAllocator::~TMMAllocator() {
  FreeAll();
}

void* TMMAllocator::AllocBlock(std::uint32_t /*flags*/, std::uint32_t size) {
  std::lock_guard<TCriticalSection> lock(lock_);
  for (Block& b : blocks_) {
    if (b.users == 0 && b.size == size) {
      b.users = 1;
      return b.address;
    }
  }
  for (Block& b : blocks_) {
    if (b.users == 0 && b.size >= size) {
      b.users = 1;
      return b.address;
    }
  }
  void* address = std::calloc(size == 0 ? 1 : size, 1);
  if (!address) return nullptr;
  blocks_.push_back(Block{address, size, 1});
  return address;
}

void TMMAllocator::ReleaseBlock(void*& p) {
  if (!p) return;
  std::lock_guard<TCriticalSection> lock(lock_);
  for (Block& b : blocks_) {
    if (b.address == p) {
      // A second release of the same block does not drive the count below
      // zero, which would keep the block from ever being handed out again.
      if (b.users > 0) --b.users;
      p = nullptr;
      return;
    }
  }
}

void TMMAllocator::FreeAll() {
  std::lock_guard<TCriticalSection> lock(lock_);
  while (!blocks_.empty()) {
    std::free(blocks_.back().address);
    blocks_.pop_back();
  }
}

int TMMAllocator::BlockCount() {
  std::lock_guard<TCriticalSection> lock(lock_);
  return static_cast<int>(blocks_.size());
}
