#include "bitmap.h"


namespace artgen {

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
uint32_t Get16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | (Get16(p + 2) << 16); }

void PutInfoHeader(std::vector<uint8_t>& out, int width, int height, uint32_t compression, uint32_t imageSize,
                   uint32_t colorsUsed) {
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(width));
    Put32(out, static_cast<uint32_t>(height));
    Put16(out, 1);  // planes
    Put16(out, 8);  // bits per pixel
    Put32(out, compression);
    Put32(out, imageSize);
    Put32(out, 2835);  // 72 dots per inch
    Put32(out, 2835);
    Put32(out, colorsUsed);
    Put32(out, 0);  // all colours important
}

void PutTable(std::vector<uint8_t>& out, const ColorTable& table) {
    for (const Rgb8& c : table) {
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
        out.push_back(0);
    }
}

// One row: runs of three or more equal pixels become encoded runs; what
// lies between them goes out in absolute mode, which needs at least three
// pixels, so shorter stretches become runs of one.
void EncodeRow(const uint8_t* row, int width, std::vector<uint8_t>& out) {
    auto runAt = [&](int i) {
        int n = 1;
        while (i + n < width && n < 255 && row[i + n] == row[i]) ++n;
        return n;
    };
    int i = 0;
    while (i < width) {
        int run = runAt(i);
        if (run >= 3) {
            out.push_back(static_cast<uint8_t>(run));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        int start = i;
        while (i < width && i - start < 255 && runAt(i) < 3) ++i;
        int count = i - start;
        if (count >= 3) {
            out.push_back(0);
            out.push_back(static_cast<uint8_t>(count));
            out.insert(out.end(), row + start, row + i);
            if (count & 1) out.push_back(0);  // absolute runs end on a 16-bit boundary
        } else {
            for (int k = start; k < i; ++k) {
                out.push_back(1);
                out.push_back(row[k]);
            }
        }
    }
}

}  // namespace

std::vector<uint8_t> EncodeRle8(const IndexedImage& image) {
    std::vector<uint8_t> out;
    for (int y = image.height - 1; y >= 0; --y) {
        EncodeRow(&image.pixels[static_cast<size_t>(y) * image.width], image.width, out);
        out.push_back(0);
        out.push_back(y == 0 ? 1 : 0);  // end of bitmap after the top row, else end of line
    }
    return out;
}

std::vector<uint8_t> WriteBmp(const IndexedImage& image, uint32_t colorsUsed) {
    std::vector<uint8_t> bits = EncodeRle8(image);
    const uint32_t offset = 14 + 40 + 256 * 4;
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, offset + static_cast<uint32_t>(bits.size()));
    Put32(out, 0);
    Put32(out, offset);
    PutInfoHeader(out, image.width, image.height, 1 /* BI_RLE8 */, static_cast<uint32_t>(bits.size()), colorsUsed);
    PutTable(out, image.table);
    out.insert(out.end(), bits.begin(), bits.end());
    return out;
}

bool DecodeRle8(const uint8_t* data, size_t size, int width, int height, std::vector<uint8_t>& topDown,
                std::string& error) {
    topDown.assign(static_cast<size_t>(width) * height, 0);
    int x = 0, row = 0;  // row counts from the bottom
    size_t i = 0;
    auto put = [&](uint8_t v) {
        if (x >= width || row >= height) return false;
        topDown[static_cast<size_t>(height - 1 - row) * width + x] = v;
        ++x;
        return true;
    };
    while (true) {
        if (i + 2 > size) {
            error = "RLE8 data ends before the end-of-bitmap escape";
            return false;
        }
        uint8_t a = data[i], b = data[i + 1];
        i += 2;
        if (a > 0) {
            for (int k = 0; k < a; ++k)
                if (!put(b)) {
                    error = "an encoded run goes past the end of its row";
                    return false;
                }
        } else if (b == 0) {
            x = 0;
            ++row;
        } else if (b == 1) {
            return true;
        } else if (b == 2) {
            if (i + 2 > size) {
                error = "a delta escape is cut short";
                return false;
            }
            x += data[i];
            row += data[i + 1];
            i += 2;
            if (x > width || row > height) {
                error = "a delta escape leaves the picture";
                return false;
            }
        } else {
            if (i + b > size) {
                error = "an absolute run is cut short";
                return false;
            }
            for (int k = 0; k < b; ++k)
                if (!put(data[i + k])) {
                    error = "an absolute run goes past the end of its row";
                    return false;
                }
            i += b + (b & 1);
        }
    }
}

bool ParseBmp(const std::vector<uint8_t>& file, ParsedBmp& out, std::string& error) {
    if (file.size() < 14 + 40 || file[0] != 'B' || file[1] != 'M') {
        error = "not a bitmap file";
        return false;
    }
    const uint8_t* h = file.data() + 14;
    out.headerSize = Get32(h);
    int32_t width = static_cast<int32_t>(Get32(h + 4)), height = static_cast<int32_t>(Get32(h + 8));
    out.planes = static_cast<uint16_t>(Get16(h + 12));
    out.bitCount = static_cast<uint16_t>(Get16(h + 14));
    out.compression = Get32(h + 16);
    uint32_t imageSize = Get32(h + 20);
    out.colorsUsed = Get32(h + 32);
    out.bottomUp = height > 0;
    if (out.headerSize != 40 || out.planes != 1 || out.bitCount != 8 || out.compression != 1) {
        error = "not an 8-bit RLE8 bitmap with a 40-byte header";
        return false;
    }
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096) {
        error = "unreasonable size or rows not bottom-up";
        return false;
    }
    uint32_t entries = out.colorsUsed == 0 ? 256 : out.colorsUsed;
    uint32_t offset = Get32(file.data() + 10);
    if (entries > 256 || 14 + 40 + entries * 4 > offset || offset > file.size() || file.size() - offset < imageSize) {
        error = "colour table or pixel data out of the file's bounds";
        return false;
    }
    out.image.width = width;
    out.image.height = height;
    out.image.table = {};
    out.reservedBytes.clear();
    for (uint32_t k = 0; k < entries; ++k) {
        const uint8_t* q = file.data() + 54 + k * 4;
        out.image.table[k] = {q[2], q[1], q[0]};
        out.reservedBytes.push_back(q[3]);
    }
    return DecodeRle8(file.data() + offset, imageSize, width, height, out.image.pixels, error);
}

std::vector<uint8_t> WriteIco(const std::vector<IconImage>& images) {
    std::vector<std::vector<uint8_t>> bodies;
    for (const IconImage& icon : images) {
        const IndexedImage& im = icon.image;
        const int xorStride = (im.width + 3) & ~3, andStride = ((im.width + 31) / 32) * 4;
        std::vector<uint8_t> body;
        // The height counts the colour image and the mask together.
        PutInfoHeader(body, im.width, im.height * 2, 0, static_cast<uint32_t>((xorStride + andStride) * im.height), 0);
        PutTable(body, im.table);
        for (int y = im.height - 1; y >= 0; --y)
            for (int x = 0; x < xorStride; ++x) body.push_back(x < im.width ? im.At(x, y) : 0);
        for (int y = im.height - 1; y >= 0; --y)
            for (int byte = 0; byte < andStride; ++byte) {
                uint8_t bits = 0;
                for (int bit = 0; bit < 8; ++bit) {
                    int x = byte * 8 + bit;
                    if (x < im.width && icon.transparent[static_cast<size_t>(y) * im.width + x]) bits |= 0x80 >> bit;
                }
                body.push_back(bits);
            }
        bodies.push_back(std::move(body));
    }
    std::vector<uint8_t> out;
    Put16(out, 0);
    Put16(out, 1);  // icon
    Put16(out, static_cast<uint32_t>(images.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        out.push_back(static_cast<uint8_t>(images[i].image.width));
        out.push_back(static_cast<uint8_t>(images[i].image.height));
        out.push_back(0);  // 256 colours
        out.push_back(0);
        Put16(out, 1);
        Put16(out, 8);
        Put32(out, static_cast<uint32_t>(bodies[i].size()));
        Put32(out, offset);
        offset += static_cast<uint32_t>(bodies[i].size());
    }
    for (const auto& body : bodies) out.insert(out.end(), body.begin(), body.end());
    return out;
}

}  // namespace artgen
