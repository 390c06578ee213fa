// Our own image writers: 24-bit BMP, and GIF89a with its LZW coder. Neither
// needs a library, so the tool builds wherever the saver does.
#include <algorithm>
#include <cstring>

#include "frames.h"

namespace frames {

namespace {

void PutLittle16(std::vector<uint8_t> &out, unsigned value)
{
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void PutLittle32(std::vector<uint8_t> &out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(uint8_t(value >> shift));
}

// Colours of a frame mapped to palette indices. Small open-addressed table:
// frames of the saver rarely use more than a few hundred colours, and we
// give up as soon as there are more than fit.
class ColourIndex {
public:
    explicit ColourIndex(size_t limit) : limit_(limit), keys_(1024, Empty), values_(1024) {}

    // The colour's index, adding it if there is room; -1 when full.
    int Find(uint32_t colour)
    {
        size_t slot = (colour * 2654435761u) >> 22;
        for (;; slot = (slot + 1) & 1023) {
            if (keys_[slot] == colour)
                return values_[slot];
            if (keys_[slot] == Empty) {
                if (table.size() >= limit_)
                    return -1;
                keys_[slot] = colour;
                values_[slot] = static_cast<int>(table.size());
                table.push_back(colour);
                return values_[slot];
            }
        }
    }

    std::vector<uint32_t> table;

private:
    static constexpr uint32_t Empty = 0xFFFFFFFFu;  // pixels are 0x00RRGGBB
    size_t limit_;
    std::vector<uint32_t> keys_;
    std::vector<int> values_;
};

// The fallback for frames with too many colours: a 6 x 7 x 6 colour cube,
// which leaves room for a transparent index.
enum { FixedColourCount = 6 * 7 * 6 };

uint8_t FixedIndex(uint32_t colour)
{
    unsigned r = (colour >> 16) & 0xFF, g = (colour >> 8) & 0xFF, b = colour & 0xFF;
    return uint8_t(((r * 5 + 127) / 255) * 42 + ((g * 6 + 127) / 255) * 6 + (b * 5 + 127) / 255);
}

uint32_t FixedColour(int index)
{
    unsigned r = index / 42 * 255 / 5, g = index / 6 % 7 * 255 / 6, b = index % 6 * 255 / 5;
    return r << 16 | g << 8 | b;
}

// Variable-width LZW codes packed into 255-byte sub-blocks.
class CodeStream {
public:
    explicit CodeStream(std::vector<uint8_t> &out) : out_(out) {}

    void Put(unsigned code, int bits)
    {
        accumulator_ |= uint32_t(code) << pending_;
        pending_ += bits;
        while (pending_ >= 8) {
            Byte(uint8_t(accumulator_));
            accumulator_ >>= 8;
            pending_ -= 8;
        }
    }

    void Finish()
    {
        if (pending_ > 0)
            Byte(uint8_t(accumulator_));
        pending_ = 0;
        accumulator_ = 0;
        if (!block_.empty())
            Flush();
        out_.push_back(0);
    }

private:
    void Byte(uint8_t value)
    {
        block_.push_back(value);
        if (block_.size() == 255)
            Flush();
    }

    void Flush()
    {
        out_.push_back(uint8_t(block_.size()));
        out_.insert(out_.end(), block_.begin(), block_.end());
        block_.clear();
    }

    std::vector<uint8_t> &out_;
    std::vector<uint8_t> block_;
    uint32_t accumulator_ = 0;
    int pending_ = 0;
};

void EncodeLzw(const std::vector<uint8_t> &indices, int minimumCodeSize, std::vector<uint8_t> &out)
{
    const unsigned clear = 1u << minimumCodeSize;
    const unsigned end = clear + 1;
    const unsigned alphabet = clear;
    // child[code * alphabet + symbol]: the code for string(code) + symbol, 0
    // for none (code 0 is a root, never anyone's child). Rows are cleared
    // when their code is handed out, so a reset costs only the roots.
    std::vector<uint16_t> child(4096 * alphabet);
    unsigned nextCode = 0;
    int bits = 0;
    auto reset = [&] {
        std::fill(child.begin(), child.begin() + alphabet * alphabet, 0);
        nextCode = end + 1;
        bits = minimumCodeSize + 1;
    };

    out.push_back(uint8_t(minimumCodeSize));
    CodeStream stream(out);
    reset();
    stream.Put(clear, bits);
    if (indices.empty()) {
        stream.Put(end, bits);
        stream.Finish();
        return;
    }
    unsigned current = indices[0];
    for (size_t i = 1; i < indices.size(); ++i) {
        unsigned symbol = indices[i];
        unsigned found = child[current * alphabet + symbol];
        if (found) {
            current = found;
            continue;
        }
        stream.Put(current, bits);
        if (nextCode < 4096) {
            std::fill(child.begin() + nextCode * alphabet, child.begin() + (nextCode + 1) * alphabet, 0);
            child[current * alphabet + symbol] = uint16_t(nextCode);
            // The decoder learns each entry one code late, so the width
            // grows once the entry being added no longer fits, not before.
            if (nextCode == (1u << bits) && bits < 12)
                ++bits;
            ++nextCode;
        } else {
            stream.Put(clear, bits);
            reset();
        }
        current = symbol;
    }
    stream.Put(current, bits);
    stream.Put(end, bits);
    stream.Finish();
}

}  // namespace

bool WriteBmp(const std::string &path, const uint32_t *pixels, int width, int height)
{
    const uint32_t rowBytes = (uint32_t(width) * 3 + 3) & ~3u;
    const uint32_t imageBytes = rowBytes * uint32_t(height);
    std::vector<uint8_t> out;
    out.reserve(54 + imageBytes);
    out.push_back('B');
    out.push_back('M');
    PutLittle32(out, 54 + imageBytes);
    PutLittle32(out, 0);
    PutLittle32(out, 54);
    PutLittle32(out, 40);  // BITMAPINFOHEADER
    PutLittle32(out, uint32_t(width));
    PutLittle32(out, uint32_t(height));  // positive: bottom-up
    PutLittle16(out, 1);
    PutLittle16(out, 24);
    PutLittle32(out, 0);  // BI_RGB
    PutLittle32(out, imageBytes);
    PutLittle32(out, 2835);  // 72 dpi
    PutLittle32(out, 2835);
    PutLittle32(out, 0);
    PutLittle32(out, 0);
    out.resize(54 + imageBytes);
    for (int y = 0; y < height; ++y) {
        const uint32_t *row = pixels + size_t(height - 1 - y) * width;
        uint8_t *to = out.data() + 54 + size_t(y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            *to++ = uint8_t(row[x]);
            *to++ = uint8_t(row[x] >> 8);
            *to++ = uint8_t(row[x] >> 16);
        }
    }
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && ok;
}

GifWriter::~GifWriter()
{
    if (file_)
        std::fclose(file_);
}

void GifWriter::Put(const void *bytes, size_t count)
{
    if (std::fwrite(bytes, 1, count, file_) != count)
        failed_ = true;
}

bool GifWriter::Open(const std::string &path, int width, int height, int delayHundredths)
{
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_)
        return false;
    width_ = width;
    height_ = height;
    delay_ = delayHundredths;
    framesWritten_ = 0;
    previous_.assign(size_t(width) * height, 0);
    std::vector<uint8_t> head = {'G', 'I', 'F', '8', '9', 'a'};
    PutLittle16(head, unsigned(width));
    PutLittle16(head, unsigned(height));
    head.push_back(0x70);  // no global table; 8 bits of colour resolution
    head.push_back(0);
    head.push_back(0);
    // Loop for ever.
    const uint8_t loop[] = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0};
    head.insert(head.end(), loop, loop + sizeof loop);
    Put(head.data(), head.size());
    return !failed_;
}

bool GifWriter::AddFrame(const uint32_t *pixels)
{
    // Only the rectangle that differs from what is shown is sent; the first
    // frame is sent whole, since a decoder's starting canvas is undefined.
    int left = 0, top = 0, right = width_ - 1, bottom = height_ - 1;
    if (framesWritten_ > 0) {
        left = width_;
        top = height_;
        right = -1;
        bottom = -1;
        for (int y = 0; y < height_; ++y) {
            const uint32_t *row = pixels + size_t(y) * width_;
            const uint32_t *shown = previous_.data() + size_t(y) * width_;
            if (std::memcmp(row, shown, size_t(width_) * 4) == 0)
                continue;
            top = std::min(top, y);
            bottom = y;
            for (int x = 0; x < width_; ++x)
                if (row[x] != shown[x]) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        }
        if (right < 0) {
            // Nothing changed: one transparent pixel keeps the frame's time.
            left = right = top = bottom = 0;
        }
    }
    const int width = right - left + 1;
    const int height = bottom - top + 1;
    const bool delta = framesWritten_ > 0;
    auto at = [&](int x, int y) { return size_t(top + y) * width_ + left + x; };
    auto unchanged = [&](size_t i) { return delta && pixels[i] == previous_[i]; };

    // In order of preference: the changed pixels in exact colours with one
    // index left for "unchanged"; the whole rectangle in exact colours; the
    // fixed palette, again with unchanged pixels left alone.
    std::vector<uint8_t> indices(size_t(width) * height);
    std::vector<uint32_t> table;
    int transparent = -1;
    auto collect = [&](ColourIndex &colours, bool skipUnchanged) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                size_t i = at(x, y);
                if (skipUnchanged && unchanged(i))
                    continue;
                if (colours.Find(pixels[i]) < 0)
                    return false;
            }
        return true;
    };
    ColourIndex changedColours(255);
    ColourIndex allColours(256);
    if (delta && collect(changedColours, true)) {
        table = changedColours.table;
        transparent = static_cast<int>(table.size());
        table.push_back(0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                size_t i = at(x, y);
                indices[size_t(y) * width + x] = uint8_t(unchanged(i) ? transparent : changedColours.Find(pixels[i]));
            }
    } else if (collect(allColours, false)) {
        table = allColours.table;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                indices[size_t(y) * width + x] = uint8_t(allColours.Find(pixels[at(x, y)]));
    } else {
        for (int i = 0; i < FixedColourCount; ++i)
            table.push_back(FixedColour(i));
        transparent = FixedColourCount;
        table.push_back(0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                size_t i = at(x, y);
                indices[size_t(y) * width + x] = uint8_t(unchanged(i) ? transparent : FixedIndex(pixels[i]));
            }
    }
    for (int y = 0; y < height; ++y)
        std::memcpy(&previous_[at(0, y)], &pixels[at(0, y)], size_t(width) * 4);
    EncodeImage(left, top, width, height, indices, table, transparent);
    ++framesWritten_;
    return !failed_;
}

void GifWriter::EncodeImage(int left, int top, int width, int height, const std::vector<uint8_t> &indices,
                            const std::vector<uint32_t> &table, int transparentIndex)
{
    int tableBits = 1;
    while ((1u << tableBits) < table.size())
        ++tableBits;
    std::vector<uint8_t> out;
    // Graphic control: keep the frame when the next comes, the delay, and
    // the transparent index if there is one.
    out.insert(out.end(), {0x21, 0xF9, 4});
    out.push_back(uint8_t(1 << 2 | (transparentIndex >= 0 ? 1 : 0)));
    PutLittle16(out, unsigned(delay_));
    out.push_back(uint8_t(transparentIndex >= 0 ? transparentIndex : 0));
    out.push_back(0);

    out.push_back(0x2C);
    PutLittle16(out, unsigned(left));
    PutLittle16(out, unsigned(top));
    PutLittle16(out, unsigned(width));
    PutLittle16(out, unsigned(height));
    out.push_back(uint8_t(0x80 | (tableBits - 1)));
    for (unsigned i = 0; i < (1u << tableBits); ++i) {
        uint32_t colour = i < table.size() ? table[i] : 0;
        out.push_back(uint8_t(colour >> 16));
        out.push_back(uint8_t(colour >> 8));
        out.push_back(uint8_t(colour));
    }
    EncodeLzw(indices, std::max(2, tableBits), out);
    Put(out.data(), out.size());
}

bool GifWriter::Close()
{
    if (!file_)
        return false;
    const uint8_t trailer = 0x3B;
    Put(&trailer, 1);
    bool ok = std::fclose(file_) == 0 && !failed_;
    file_ = nullptr;
    return ok;
}

}  // namespace frames
