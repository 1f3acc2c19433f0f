// Writes a sample firmware image for trying kxflash against the simulated
// instrument: a header with the whole size and the firmware size, the
// firmware area (512 KiB), then the graphics. The bytes are made up.
//   kxsim-firmware NAME [FIRMWARE_SIZE [GRAPHICS_SIZE]]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: kxsim-firmware NAME [FIRMWARE_SIZE [GRAPHICS_SIZE]]\n");
        return 2;
    }
    const uint32_t firmwareSize = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)) : 100000;
    const uint32_t graphicsSize = argc > 3 ? static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 0)) : 131072;
    const uint32_t graphicsAt = 128 * 4096;
    // What a flasher writes soundly: the firmware leaves the firmware area,
    // one page of margin included, by its end; the image ends with page 4093.
    const uint32_t firmwareMost = 127 * 4096 - 1;
    const uint32_t graphicsMost = (4094 - 3582) * 4096;
    if (firmwareSize < 10 || firmwareSize > firmwareMost || graphicsSize > graphicsMost) {
        std::fprintf(stderr, "kxsim-firmware: the firmware size must lie between 10 and %u bytes, the graphics "
                     "size at most %u\n", firmwareMost, graphicsMost);
        return 2;
    }
    const uint32_t wholeSize = graphicsSize ? graphicsAt + graphicsSize : firmwareSize;
    std::vector<uint8_t> image(wholeSize, 0xFF);
    uint32_t x = 0x12345678;
    auto fill = [&](uint32_t from, uint32_t to) {
        for (uint32_t i = from; i < to; ++i) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            image[i] = static_cast<uint8_t>(x);
        }
    };
    fill(0, firmwareSize);
    fill(graphicsAt < wholeSize ? graphicsAt : wholeSize, wholeSize);
    for (int i = 0; i < 4; ++i) {
        image[i] = static_cast<uint8_t>(wholeSize >> (8 * i));
        image[6 + i] = static_cast<uint8_t>(firmwareSize >> (8 * i));
    }
    FILE* f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(image.data(), 1, image.size(), f) != image.size() || std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
