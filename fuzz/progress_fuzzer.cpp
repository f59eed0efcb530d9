// The progress-chunk parser: for any bytes the extractor prints, the figure is empty or the four
// characters that end with the chunk's last '%' (counting only a '%' after position 3), and a
// chunk is handled without touching anything beyond its size.
//
// Input: one chunk, at most the size of one read of the extractor's output.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "unpack/command_runner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > PROGRESS_CHUNK_SIZE) size = PROGRESS_CHUNK_SIZE;
    // A buffer of exactly the chunk's size, so that a read past its end is caught.
    char* chunk = static_cast<char*>(std::calloc(size ? size : 1, 1));
    if (size) std::memcpy(chunk, data, size);

    std::string figure = progressFigure(chunk, size);
    std::size_t last = std::string::npos;
    for (std::size_t i = 0; i < size; ++i)
        if (chunk[i] == '%') last = i;
    if (last == std::string::npos || last <= 3) {
        if (!figure.empty()) __builtin_trap();
    } else if (figure != std::string(chunk + last - 3, 4)) {
        __builtin_trap();
    }
    // Every handled figure is a line in the in-memory log, which is never emptied: handling only
    // some of the chunks keeps a long run's memory bounded.
    if (size > 0 && (data[0] & 0x07) == 0) handleProgressChunk(chunk, size);
    std::free(chunk);
    return 0;
}
