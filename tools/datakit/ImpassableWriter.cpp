#include "datakit/ImpassableWriter.h"

#include <cstddef>

namespace DataKit {

std::vector<uint8_t> BuildImpassableBody(uint32_t width, uint32_t height, const std::vector<bool>& cells)
{
    const size_t rowBytes = (static_cast<size_t>(width) + 7) / 8;
    std::vector<uint8_t> body(8 + rowBytes * height, 0);
    for (int i = 0; i < 4; ++i) {
        body[static_cast<size_t>(i)] = static_cast<uint8_t>(width >> (8 * i));
        body[static_cast<size_t>(4 + i)] = static_cast<uint8_t>(height >> (8 * i));
    }
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const size_t index = static_cast<size_t>(y) * width + x;
            if (index < cells.size() && cells[index])
                body[8 + y * rowBytes + x / 8] |= static_cast<uint8_t>(1u << (x % 8));
        }
    return body;
}

} // namespace DataKit
