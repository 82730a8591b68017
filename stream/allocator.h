#pragma once

#include <cstdint>
#include <vector>

#include "platform/threads/sync_objects.h"

// Allocation flags of the platform's global memory; blocks are always
// zero-filled and never move, whatever the flags say.
inline constexpr std::uint32_t GMEM_FIXED = 0x0000;
inline constexpr std::uint32_t GMEM_MOVEABLE = 0x0002;
inline constexpr std::uint32_t GMEM_ZEROINIT = 0x0040;
inline constexpr std::uint32_t GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// A small pool of memory blocks for stream buffers. A block is allocated
// once, handed out again after it was released, and returned to the system
// only by FreeAll. Safe to use from any thread.
class TMMAllocator {
 public:
  TMMAllocator() = default;
  // FreeAll.
  ~TMMAllocator();
  TMMAllocator(const TMMAllocator&) = delete;
  TMMAllocator& operator=(const TMMAllocator&) = delete;

  // A free block of exactly size bytes if there is one, else the first free
  // block that is larger, else a new zero-filled block; null when memory
  // runs out. A reused block keeps its old contents.
  void* AllocBlock(std::uint32_t flags, std::uint32_t size);

  // Gives a block back to the pool and clears p. Nothing for null; a pointer
  // the pool never handed out is left as it is.
  void ReleaseBlock(void*& p);
  template <class T>
  void ReleaseBlock(T*& p) {
    void* v = p;
    ReleaseBlock(v);
    p = static_cast<T*>(v);
  }

  // Returns every block to the system, also those still handed out: only
  // when no buffer is in use.
  void FreeAll();

  // Blocks in the pool, handed out or not.
  int BlockCount();

 private:
  struct Block {
    void* address;
    std::uint32_t size;
    std::int32_t users;
  };

  std::vector<Block> blocks_;
  TCriticalSection lock_;
};
