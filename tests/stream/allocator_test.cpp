#include "stream/allocator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

bool AllZero(const void* p, std::size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  for (std::size_t i = 0; i < n; ++i)
    if (b[i] != 0) return false;
  return true;
}

TEST(Allocator, ReleasedBlocksComeBackExactFitFirst) {
  TMMAllocator pool;
  void* a = pool.AllocBlock(GMEM_ZEROINIT, 100);
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(AllZero(a, 100));
  std::memset(a, 0x5A, 100);
  void* p = a;
  pool.ReleaseBlock(p);
  EXPECT_EQ(p, nullptr);
  // Same size: the same address, with its old contents.
  void* again = pool.AllocBlock(GMEM_ZEROINIT, 100);
  EXPECT_EQ(again, a);
  EXPECT_EQ(static_cast<unsigned char*>(again)[99], 0x5A);
  pool.ReleaseBlock(again);

  // A free 200-byte block serves 100 bytes; 300 needs a new block.
  TMMAllocator pool2;
  void* big = pool2.AllocBlock(GMEM_ZEROINIT, 200);
  void* q = big;
  pool2.ReleaseBlock(q);
  void* small = pool2.AllocBlock(GMEM_ZEROINIT, 100);
  EXPECT_EQ(small, big);
  void* bigger = pool2.AllocBlock(GMEM_ZEROINIT, 300);
  EXPECT_NE(bigger, big);
  EXPECT_TRUE(AllZero(bigger, 300));
  EXPECT_EQ(pool2.BlockCount(), 2);

  // Two blocks of 100 (the first in use, the second free) and one of 150
  // (free, allocated before the second): exact match beats first fit.
  TMMAllocator pool3;
  void* first = pool3.AllocBlock(0, 100);
  void* mid = pool3.AllocBlock(0, 150);
  void* second = pool3.AllocBlock(0, 100);
  ASSERT_TRUE(first && mid && second);
  pool3.ReleaseBlock(mid);
  void* keep = second;
  pool3.ReleaseBlock(second);
  EXPECT_EQ(pool3.AllocBlock(0, 100), keep);
  EXPECT_EQ(pool3.BlockCount(), 3);
}

TEST(Allocator, ForeignPointersAndDoubleReleasesChangeNothing) {
  TMMAllocator pool;
  void* a = pool.AllocBlock(GMEM_ZEROINIT, 64);
  int local = 0;
  void* foreign = &local;
  pool.ReleaseBlock(foreign);
  EXPECT_EQ(foreign, &local);
  void* none = nullptr;
  pool.ReleaseBlock(none);
  EXPECT_EQ(none, nullptr);
  // The block is still handed out: a new request gets another one.
  void* b = pool.AllocBlock(GMEM_ZEROINIT, 64);
  EXPECT_NE(b, a);

  // Releasing one block twice leaves it free once: it is handed out once.
  void* p = a;
  pool.ReleaseBlock(p);
  p = a;
  pool.ReleaseBlock(p);
  EXPECT_EQ(pool.AllocBlock(0, 64), a);
  void* c = pool.AllocBlock(0, 64);
  EXPECT_NE(c, a);
  EXPECT_NE(c, b);

  pool.FreeAll();
  EXPECT_EQ(pool.BlockCount(), 0);
  // A zero-byte request still gives a distinct block.
  EXPECT_NE(pool.AllocBlock(0, 0), nullptr);
}

TEST(Allocator, ThreadsShareOnePool) {
  TMMAllocator pool;
  constexpr int kThreads = 4, kRounds = 2000;
  std::vector<std::thread> threads;
  std::atomic<int> bad{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        auto* p = static_cast<unsigned char*>(pool.AllocBlock(GMEM_ZEROINIT, 32 + (i % 3) * 16));
        if (!p) {
          ++bad;
          continue;
        }
        // Nobody else holds this block while we do.
        std::memset(p, t + 1, 32);
        for (int k = 0; k < 32; ++k)
          if (p[k] != t + 1) ++bad;
        void* v = p;
        pool.ReleaseBlock(v);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_LE(pool.BlockCount(), kThreads * 3);
}

}  // namespace
