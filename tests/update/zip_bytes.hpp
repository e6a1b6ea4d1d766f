#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tallowmark::update {

// A ZIP written byte by byte, so an entry can carry what no honest packer
// writes: absolute names, "..", links out, pipes and devices.
struct ZipEntry {
    std::string name;
    std::string data;  // a link's target for links
    std::uint32_t mode = 0100644;
};

inline std::string zipBytes(const std::vector<ZipEntry>& entries) {
    // Little-endian fields of 2 or 4 bytes, as a ZIP header lays them out.
    const auto put = [](std::string& out, std::initializer_list<std::pair<std::uint32_t, int>> fields) {
        for (const auto& [value, bytes] : fields)
            for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
    };
    std::string out, central;
    for (const auto& entry : entries) {
        std::uint32_t crc = 0xffffffffu;
        for (unsigned char byte : entry.data) {
            crc ^= byte;
            for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
        const auto offset = static_cast<std::uint32_t>(out.size()), size = static_cast<std::uint32_t>(entry.data.size()),
                   nameSize = static_cast<std::uint32_t>(entry.name.size());
        // Local header: signature, version 1.0, no flags, stored, time 0, date 1980-01-01.
        put(out, {{0x04034b50, 4}, {10, 2}, {0, 2}, {0, 2}, {0, 2}, {0x21, 2}, {~crc, 4}, {size, 4}, {size, 4},
                  {nameSize, 2}, {0, 2}});
        out += entry.name + entry.data;
        // Central record: made on Unix (3) so the mode in the upper external bits counts.
        put(central, {{0x02014b50, 4}, {(3u << 8) | 20u, 2}, {10, 2}, {0, 2}, {0, 2}, {0, 2}, {0x21, 2}, {~crc, 4},
                      {size, 4}, {size, 4}, {nameSize, 2}, {0, 2}, {0, 2}, {0, 2}, {0, 2}, {entry.mode << 16, 4},
                      {offset, 4}});
        central += entry.name;
    }
    const auto count = static_cast<std::uint32_t>(entries.size()), centralOffset = static_cast<std::uint32_t>(out.size());
    out += central;
    put(out, {{0x06054b50, 4}, {0, 2}, {0, 2}, {count, 2}, {count, 2}, {static_cast<std::uint32_t>(central.size()), 4},
              {centralOffset, 4}, {0, 2}});
    return out;
}

inline ZipEntry file(std::string name, std::string data, std::uint32_t mode = 0100644) {
    return {std::move(name), std::move(data), mode};
}
inline ZipEntry folder(std::string name) { return {std::move(name), "", 040755}; }
inline ZipEntry link(std::string name, std::string target) { return {std::move(name), std::move(target), 0120777}; }

}  // namespace tallowmark::update
