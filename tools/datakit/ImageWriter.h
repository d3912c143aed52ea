// Writes PNG and JPEG files (through libpng and libjpeg) for the tests and fuzz seeds of the
// engine's image decoding, which reads both but writes neither: every kind of PNG (each colour type
// and depth, palettes with alphas, transparent colours, interlacing, text and gamma chunks) and
// baseline, progressive and arithmetic-coded JPEG. Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace DataKit {

class ImageWriter
{
public:
    struct Png
    {
        uint32_t width = 0;
        uint32_t height = 0;
        int bitDepth = 8;  // 1, 2, 4, 8 or 16, as the colour type allows
        int colorType = 2; // PNG's own: 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGBA
        // Rows from the top, packed as the file keeps them (16-bit samples most significant first).
        std::vector<uint8_t> rows;
        std::vector<uint8_t> palette;      // colour type 3: R, G, B of each entry
        std::vector<uint8_t> paletteAlpha; // colour type 3: alphas of the first entries (tRNS)
        bool transparentColor = false;     // colour types 0 and 2: tRNS of sample value 1 (1, 2, 3)
        bool interlaced = false;
        std::string comment; // a tEXt chunk when not empty
        double gamma = 0.0;  // a gAMA chunk when above 0
    };
    // The file; empty when libpng refused the description.
    static std::vector<uint8_t> WritePng(const Png& image);
    // Bytes of a row of the description.
    static size_t PngRowBytes(const Png& image);

    struct Jpeg
    {
        uint32_t width = 0;
        uint32_t height = 0;
        int components = 3;          // 1 grey, 3 RGB, 4 CMYK
        std::vector<uint8_t> pixels; // rows from the top, components interleaved
        int quality = 90;
        bool progressive = false;
        bool arithmetic = false;
        // Progressive, one component: a scan for each coefficient and each of its two bits, 128.
        bool scanPerCoefficient = false;
    };
    static std::vector<uint8_t> WriteJpeg(const Jpeg& image);
};

} // namespace DataKit
