#include "quantize.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <tuple>

namespace artgen {

Rgb8 ToRgb8(Color c) {
    auto channel = [](float v) { return static_cast<uint8_t>(std::floor(Clamp01(v) * 255.0f + 0.5f)); };
    return {channel(c.r), channel(c.g), channel(c.b)};
}

namespace {

// Colours are binned at 6 bits a channel; each bin keeps its exact mean.
struct Bin {
    double r, g, b;
    double count;
};

struct Box {
    std::vector<int> bins;
    double error;  // weighted squared distance of its bins from its mean
};

void Measure(const std::vector<Bin>& all, Box& box, double mean[3]) {
    double n = 0, s[3] = {0, 0, 0};
    for (int i : box.bins) {
        const Bin& b = all[i];
        n += b.count;
        s[0] += b.r * b.count;
        s[1] += b.g * b.count;
        s[2] += b.b * b.count;
    }
    for (int k = 0; k < 3; ++k) mean[k] = n > 0 ? s[k] / n : 0;
    double e = 0;
    for (int i : box.bins) {
        const Bin& b = all[i];
        double dr = b.r - mean[0], dg = b.g - mean[1], db = b.b - mean[2];
        e += (dr * dr + dg * dg + db * db) * b.count;
    }
    box.error = box.bins.size() > 1 ? e : -1;
}

double Channel(const Bin& b, int axis) { return axis == 0 ? b.r : (axis == 1 ? b.g : b.b); }

std::vector<Bin> Histogram(const std::vector<Rgb8>& colors) {
    std::vector<Bin> grid(1 << 18, Bin{0, 0, 0, 0});
    for (const Rgb8& c : colors) {
        Bin& b = grid[((c.r >> 2) << 12) | ((c.g >> 2) << 6) | (c.b >> 2)];
        b.r += c.r;
        b.g += c.g;
        b.b += c.b;
        b.count += 1;
    }
    std::vector<Bin> bins;
    for (const Bin& b : grid)
        if (b.count > 0) bins.push_back({b.r / b.count, b.g / b.count, b.b / b.count, b.count});
    return bins;
}

std::vector<Rgb8> BuildPalette(const std::vector<Rgb8>& colors) {
    std::vector<Bin> bins = Histogram(colors);
    std::vector<Box> boxes(1);
    for (int i = 0; i < static_cast<int>(bins.size()); ++i) boxes[0].bins.push_back(i);
    double mean[3];
    Measure(bins, boxes[0], mean);
    while (boxes.size() < 256) {
        size_t worst = 0;
        for (size_t i = 1; i < boxes.size(); ++i)
            if (boxes[i].error > boxes[worst].error) worst = i;
        if (boxes[worst].error <= 0) break;
        Box& box = boxes[worst];
        // Cut across the widest-spread channel at the weighted median.
        double var[3] = {0, 0, 0}, n = 0;
        Measure(bins, box, mean);
        for (int i : box.bins)
            for (int k = 0; k < 3; ++k) {
                double d = Channel(bins[i], k) - mean[k];
                var[k] += d * d * bins[i].count;
            }
        int axis = var[1] >= var[0] && var[1] >= var[2] ? 1 : (var[0] >= var[2] ? 0 : 2);
        std::stable_sort(box.bins.begin(), box.bins.end(),
                         [&](int a, int b) { return Channel(bins[a], axis) < Channel(bins[b], axis); });
        for (int i : box.bins) n += bins[i].count;
        double acc = 0;
        size_t cut = 1;
        for (; cut < box.bins.size(); ++cut) {
            acc += bins[box.bins[cut - 1]].count;
            if (acc >= n / 2) break;
        }
        if (cut >= box.bins.size()) cut = box.bins.size() - 1;
        Box other;
        other.bins.assign(box.bins.begin() + static_cast<long>(cut), box.bins.end());
        box.bins.resize(cut);
        Measure(bins, box, mean);
        Measure(bins, other, mean);
        boxes.push_back(std::move(other));
    }
    std::vector<std::array<double, 3>> centers;
    for (Box& box : boxes) {
        Measure(bins, box, mean);
        centers.push_back({mean[0], mean[1], mean[2]});
    }
    // Lloyd iterations over the bins move each entry to the middle of the
    // colours that actually choose it.
    std::vector<int> owner(bins.size());
    for (int pass = 0; pass < 6; ++pass) {
        for (size_t i = 0; i < bins.size(); ++i) {
            double best = 1e30;
            for (size_t c = 0; c < centers.size(); ++c) {
                double dr = bins[i].r - centers[c][0], dg = bins[i].g - centers[c][1], db = bins[i].b - centers[c][2];
                double d = dr * dr + dg * dg + db * db;
                if (d < best) {
                    best = d;
                    owner[i] = static_cast<int>(c);
                }
            }
        }
        std::vector<std::array<double, 4>> sums(centers.size(), {0, 0, 0, 0});
        for (size_t i = 0; i < bins.size(); ++i) {
            auto& s = sums[owner[i]];
            s[0] += bins[i].r * bins[i].count;
            s[1] += bins[i].g * bins[i].count;
            s[2] += bins[i].b * bins[i].count;
            s[3] += bins[i].count;
        }
        for (size_t c = 0; c < centers.size(); ++c)
            if (sums[c][3] > 0) centers[c] = {sums[c][0] / sums[c][3], sums[c][1] / sums[c][3], sums[c][2] / sums[c][3]};
    }
    std::vector<Rgb8> palette;
    for (const auto& c : centers) {
        auto q = [](double v) { return static_cast<uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0)); };
        palette.push_back({q(c[0]), q(c[1]), q(c[2])});
    }
    // Dark to light, so the table reads sensibly in any viewer.
    std::sort(palette.begin(), palette.end(), [](const Rgb8& a, const Rgb8& b) {
        int la = a.r * 299 + a.g * 587 + a.b * 114, lb = b.r * 299 + b.g * 587 + b.b * 114;
        if (la != lb) return la < lb;
        return std::tie(a.r, a.g, a.b) < std::tie(b.r, b.g, b.b);
    });
    palette.erase(std::unique(palette.begin(), palette.end()), palette.end());
    return palette;
}

// Nearest entry by squared RGB distance, lowest index on ties. Entries are
// kept sorted by green so the search can stop once green alone is too far.
class Nearest {
public:
    Nearest(const ColorTable& table, const std::vector<int>& allowed) : table_(table) {
        order_ = allowed;
        std::sort(order_.begin(), order_.end(), [&](int a, int b) {
            return table[a].g != table[b].g ? table[a].g < table[b].g : a < b;
        });
        for (int i : order_) greens_.push_back(table[i].g);
    }
    int Find(int r, int g, int b) const {
        size_t start = static_cast<size_t>(std::lower_bound(greens_.begin(), greens_.end(), g) - greens_.begin());
        int best = -1;
        long bestD = 1L << 40;
        auto consider = [&](size_t k) {
            const Rgb8& c = table_[order_[k]];
            long dr = c.r - r, dg = c.g - g, db = c.b - b;
            long d = dr * dr + dg * dg + db * db;
            if (d < bestD || (d == bestD && order_[k] < best)) {
                bestD = d;
                best = order_[k];
            }
        };
        for (size_t k = start; k < order_.size(); ++k) {
            long dg = greens_[k] - g;
            if (dg * dg > bestD) break;
            consider(k);
        }
        for (size_t k = start; k-- > 0;) {
            long dg = greens_[k] - g;
            if (dg * dg > bestD) break;
            consider(k);
        }
        return best;
    }

private:
    const ColorTable& table_;
    std::vector<int> order_;
    std::vector<int> greens_;
};

IndexedImage Diffuse(const Canvas& canvas, const ColorTable& table, const std::vector<int>& allowed) {
    const int w = canvas.Width(), h = canvas.Height();
    IndexedImage out;
    out.width = w;
    out.height = h;
    out.table = table;
    out.pixels.assign(static_cast<size_t>(w) * h, 0);
    Nearest nearest(table, allowed);
    // Error carried to this row and the next, in 8-bit units, one pixel of
    // margin on each side.
    std::vector<float> cur(static_cast<size_t>(w + 2) * 3, 0), next(static_cast<size_t>(w + 2) * 3, 0);
    for (int y = 0; y < h; ++y) {
        std::fill(next.begin(), next.end(), 0.0f);
        const bool leftToRight = (y & 1) == 0;
        for (int step = 0; step < w; ++step) {
            int x = leftToRight ? step : w - 1 - step;
            int dir = leftToRight ? 1 : -1;
            const Color& c = canvas.At(x, y);
            float want[3] = {Clamp01(c.r) * 255.0f, Clamp01(c.g) * 255.0f, Clamp01(c.b) * 255.0f};
            int q[3];
            for (int k = 0; k < 3; ++k) {
                float v = want[k] + cur[(x + 1) * 3 + k];
                want[k] = std::clamp(v, 0.0f, 255.0f);
                q[k] = static_cast<int>(std::floor(want[k] + 0.5f));
            }
            int index = nearest.Find(q[0], q[1], q[2]);
            out.pixels[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(index);
            const Rgb8& got = table[index];
            float err[3] = {want[0] - got.r, want[1] - got.g, want[2] - got.b};
            for (int k = 0; k < 3; ++k) {
                // A little less than the whole error keeps speckle out of
                // flat areas without bringing bands back.
                float e = err[k] * 0.9f;
                cur[(x + 1 + dir) * 3 + k] += e * (7.0f / 16.0f);
                next[(x + 1 - dir) * 3 + k] += e * (3.0f / 16.0f);
                next[(x + 1) * 3 + k] += e * (5.0f / 16.0f);
                next[(x + 1 + dir) * 3 + k] += e * (1.0f / 16.0f);
            }
        }
        std::swap(cur, next);
    }
    return out;
}

}  // namespace

IndexedImage Quantize(const Canvas& canvas) {
    std::vector<Rgb8> colors;
    colors.reserve(static_cast<size_t>(canvas.Width()) * canvas.Height());
    for (int y = 0; y < canvas.Height(); ++y)
        for (int x = 0; x < canvas.Width(); ++x) colors.push_back(ToRgb8(canvas.At(x, y)));
    std::vector<Rgb8> palette = BuildPalette(colors);
    ColorTable table{};
    std::vector<int> allowed;
    for (size_t i = 0; i < palette.size(); ++i) {
        table[i] = palette[i];
        allowed.push_back(static_cast<int>(i));
    }
    return Diffuse(canvas, table, allowed);
}

IndexedImage MapToTable(const Canvas& canvas, const ColorTable& table, const std::vector<int>& allowed) {
    return Diffuse(canvas, table, allowed);
}

}  // namespace artgen
