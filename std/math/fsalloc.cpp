#include "std/math/fsalloc.h"

#include <algorithm>
#include <cstdlib>

#include "std/except/status.h"

namespace {

// Blocks start at the first multiple of 8 at or after this offset.
constexpr size_t kFirstBlock = 16;
// Header room plus the worst alignment step.
constexpr size_t kChunkExtra = kFirstBlock + 7;
constexpr uint32_t kChunkBytesGoal = 1048576;

void* mallocChunk(size_t size) { return std::malloc(size); }
void freeChunk(void* block) { std::free(block); }

const ccFixedSizeAllocator::ChunkSource kHeap = {&mallocChunk, &freeChunk};

uintptr_t roundUp8(uintptr_t v) { return (v + 7) & ~uintptr_t{7}; }

} // namespace

ccFixedSizeAllocator::ccFixedSizeAllocator(uint32_t blockSize, uint32_t firstCount, const char* label,
                                           const ChunkSource* source)
    : blockSize_(std::max<uint32_t>(8, static_cast<uint32_t>(roundUp8(blockSize)))),
      nextCount_(std::max<uint32_t>(firstCount, 1)),
      maxCount_(std::max(nextCount_, kChunkBytesGoal / blockSize_)),
      source_(source ? *source : kHeap),
      label_(std::string("LEAK") + (label ? label : ""))
{
    static_assert(sizeof(Chunk) <= kFirstBlock, "the chunk header must fit before the first block");
    addChunk();
}

ccFixedSizeAllocator::~ccFixedSizeAllocator()
{
    while (chunks_) {
        Chunk* previous = chunks_->previous;
        source_.release(chunks_);
        chunks_ = previous;
    }
}

// Under the lock.
void ccFixedSizeAllocator::addChunk()
{
    const uint32_t k = nextCount_;
    void* raw = source_.allocate(size_t{k} * blockSize_ + kChunkExtra);
    if (!raw)
        throw ccBadAllocation();
    Chunk* chunk = static_cast<Chunk*>(raw);
    chunk->previous = chunks_;
    chunk->count = k;
    chunks_ = chunk;
    ++chunkCount_;

    // Linked in address order; the last takes over the old free list.
    char* first = reinterpret_cast<char*>(roundUp8(reinterpret_cast<uintptr_t>(raw) + kFirstBlock));
    void* next = freeList_;
    for (uint32_t i = k; i-- > 0;) {
        void* block = first + size_t{i} * blockSize_;
        *static_cast<void**>(block) = next;
        next = block;
    }
    freeList_ = next;
    nextCount_ = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{k} * 2, maxCount_));
}

void* ccFixedSizeAllocator::alloc()
{
    std::lock_guard<std::mutex> hold(lock_);
    if (!freeList_)
        addChunk();
    void* block = freeList_;
    freeList_ = *static_cast<void**>(block);
    ++outstanding_;
    return block;
}

void ccFixedSizeAllocator::free(void* block)
{
    if (!block)
        return;
    std::lock_guard<std::mutex> hold(lock_);
    *static_cast<void**>(block) = freeList_;
    freeList_ = block;
    --outstanding_;
}

uint32_t ccFixedSizeAllocator::nextChunkCount() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return nextCount_;
}

uint32_t ccFixedSizeAllocator::outstanding() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return outstanding_;
}

uint32_t ccFixedSizeAllocator::chunks() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return chunkCount_;
}
