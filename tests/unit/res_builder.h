// Hand-built compiled resource files and packed DIBs, for feeding the
// layer's resource reader good and damaged data.
#ifndef VANTREL_TESTS_RES_BUILDER_H
#define VANTREL_TESTS_RES_BUILDER_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace resbuild {

inline void PutWord(std::vector<uint8_t> &out, uint32_t v) {
    out.push_back((uint8_t)v);
    out.push_back((uint8_t)(v >> 8));
}
inline void PutDword(std::vector<uint8_t> &out, uint32_t v) {
    PutWord(out, v & 0xFFFF);
    PutWord(out, v >> 16);
}
inline void Align4(std::vector<uint8_t> &out) {
    while (out.size() % 4) out.push_back(0);
}

// A type or name: an ordinal, or a string when `text` is not empty.
struct Id {
    uint16_t ordinal = 0;
    std::string text;
};
inline Id Ord(uint16_t n) { return {n, ""}; }
inline Id Named(const std::string &s) { return {0, s}; }

inline void PutId(std::vector<uint8_t> &out, const Id &id) {
    if (id.text.empty()) {
        PutWord(out, 0xFFFF);
        PutWord(out, id.ordinal);
        return;
    }
    for (char c : id.text) PutWord(out, (uint8_t)c);
    PutWord(out, 0);
}

// Appends one record: header, data, padding.
inline void AddRecord(std::vector<uint8_t> &out, const Id &type, const Id &name, const std::vector<uint8_t> &data,
                      uint16_t language = 0x409) {
    size_t start = out.size();
    PutDword(out, (uint32_t)data.size());
    PutDword(out, 0);  // header size, filled in below
    PutId(out, type);
    PutId(out, name);
    Align4(out);
    PutDword(out, 0);       // DataVersion
    PutWord(out, 0x1030);   // MemoryFlags
    PutWord(out, language);
    PutDword(out, 0);       // Version
    PutDword(out, 0);       // Characteristics
    uint32_t headerSize = (uint32_t)(out.size() - start);
    for (int i = 0; i < 4; ++i) out[start + 4 + i] = (uint8_t)(headerSize >> (8 * i));
    out.insert(out.end(), data.begin(), data.end());
    Align4(out);
}

// The empty record every .res file opens with.
inline std::vector<uint8_t> NewResFile() {
    std::vector<uint8_t> out;
    AddRecord(out, Ord(0), Ord(0), {}, 0);
    return out;
}

// A packed 8-bit DIB: header, `colors` table entries (entry i = (i, 2i, 3i)),
// then `pixels` as stored (RLE8 stream or plain rows).
inline std::vector<uint8_t> PackedDib(int width, int height, uint32_t compression, uint32_t clrUsed,
                                      const std::vector<uint8_t> &pixels, uint32_t headerSize = 40,
                                      int colorsStored = -1) {
    std::vector<uint8_t> out;
    PutDword(out, headerSize);
    PutDword(out, (uint32_t)width);
    PutDword(out, (uint32_t)height);
    PutWord(out, 1);
    PutWord(out, 8);
    PutDword(out, compression);
    PutDword(out, (uint32_t)pixels.size());
    PutDword(out, 2835);
    PutDword(out, 2835);
    PutDword(out, clrUsed);
    PutDword(out, 0);
    while (out.size() < headerSize) out.push_back(0);
    int colors = colorsStored >= 0 ? colorsStored : (clrUsed ? (int)clrUsed : 256);
    for (int i = 0; i < colors; ++i) {
        out.push_back((uint8_t)i);
        out.push_back((uint8_t)(2 * i));
        out.push_back((uint8_t)(3 * i));
        out.push_back(0);
    }
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

}  // namespace resbuild

#endif
