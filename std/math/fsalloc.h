// Blocks of one size from chunks that grow geometrically, for objects that
// are made very often (every heap cc2XformLinear).
#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

class ccFixedSizeAllocator {
public:
    // Where chunks come from; tests substitute one that fails.
    struct ChunkSource {
        void* (*allocate)(size_t size);
        void (*release)(void* block);
    };

    // Blocks of blockSize raised to a multiple of 8 (at least 8). The first
    // chunk holds firstCount blocks; each next one twice as many, up to
    // max(firstCount, 1 MiB / block size). A null source is malloc/free.
    ccFixedSizeAllocator(uint32_t blockSize, uint32_t firstCount, const char* label,
                         const ChunkSource* source = nullptr);
    // Frees every chunk, whether or not blocks are still out.
    ~ccFixedSizeAllocator();
    ccFixedSizeAllocator(const ccFixedSizeAllocator&) = delete;
    ccFixedSizeAllocator& operator=(const ccFixedSizeAllocator&) = delete;

    // A free block; ccBadAllocation (a std::bad_alloc) when a new chunk
    // cannot be had, after which the allocator is still usable.
    void* alloc();
    // Null is ignored.
    void free(void* block);

    uint32_t blockSize() const { return blockSize_; }
    uint32_t maxChunkCount() const { return maxCount_; }
    uint32_t nextChunkCount() const;
    // Blocks handed out and not yet returned.
    uint32_t outstanding() const;
    uint32_t chunks() const;

private:
    struct Chunk {
        Chunk* previous;
        uint32_t count;
    };

    void addChunk();

    void* freeList_ = nullptr; // each free block's first word links the next
    mutable std::mutex lock_;
    Chunk* chunks_ = nullptr;
    uint32_t blockSize_;
    uint32_t nextCount_;
    uint32_t maxCount_;
    uint32_t outstanding_ = 0;
    uint32_t chunkCount_ = 0;
    ChunkSource source_;
    std::string label_;
};
