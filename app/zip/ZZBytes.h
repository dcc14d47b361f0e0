#pragma once

#include <cstdint>
#include <memory>

// A read-only view of bytes that keeps its storage alive. When the bytes are a
// mapping of a file, `descriptor` is that file, open for reading, and
// `descriptorOffset` the file position of the view's first byte, so a copy can
// stay inside the kernel.
struct ZZBytes
{
    const std::uint8_t *data = nullptr;
    std::uint64_t size = 0;
    std::shared_ptr<const void> keeper;
    int descriptor = -1;
    std::uint64_t descriptorOffset = 0;

    // Whether [offset, offset + length) lies inside the view; 64-bit and overflow safe.
    bool contains(std::uint64_t offset, std::uint64_t length) const;
    // The sub-view [offset, offset + length); the range must be contained.
    ZZBytes slice(std::uint64_t offset, std::uint64_t length) const;
    // Whether the file behind a mapped view still holds all of it; another program may shorten it,
    // and the lost pages then read as zeros. Memory views are always whole.
    bool isWhole() const;
    // A view of memory the caller keeps alive while the view is used.
    static ZZBytes borrowed(const void *data, std::uint64_t size);
};
