#include "backends/wayland/outputs.h"

#include <algorithm>
#include <cmath>

namespace layer {
namespace wayland {

static bool Turned(const OutputInfo &o) { return (o.transform & 1) != 0; }

void LogicalSize(const OutputInfo &o, int *width, int *height) {
    int w, h;
    if (o.logicalKnown && o.logicalWidth > 0 && o.logicalHeight > 0) {
        w = o.logicalWidth;
        h = o.logicalHeight;
    } else {
        int scale = std::max(1, o.scale);
        w = (Turned(o) ? o.modeHeight : o.modeWidth) / scale;
        h = (Turned(o) ? o.modeWidth : o.modeHeight) / scale;
    }
    *width = std::max(1, w);
    *height = std::max(1, h);
}

void DeviceSize(const OutputInfo &o, int *width, int *height) {
    int w, h;
    if (o.modeWidth > 0 && o.modeHeight > 0) {
        w = Turned(o) ? o.modeHeight : o.modeWidth;
        h = Turned(o) ? o.modeWidth : o.modeHeight;
    } else {
        LogicalSize(o, &w, &h);
        w *= std::max(1, o.scale);
        h *= std::max(1, o.scale);
    }
    *width = std::clamp(w, 1, 16384);
    *height = std::clamp(h, 1, 16384);
}

int PrimaryOutput(const std::vector<OutputInfo> &outputs) {
    int first = -1;
    for (size_t i = 0; i < outputs.size(); ++i) {
        if (!outputs[i].ready) continue;
        if (first < 0) first = (int)i;
        if (outputs[i].x == 0 && outputs[i].y == 0) return (int)i;
    }
    return first;
}

int OutputNamed(const std::vector<OutputInfo> &outputs, const std::string &name) {
    for (size_t i = 0; i < outputs.size(); ++i)
        if (outputs[i].ready && outputs[i].name == name) return (int)i;
    return -1;
}

std::vector<Monitor> MonitorsOf(const std::vector<OutputInfo> &outputs, int confinedTo) {
    std::vector<Monitor> monitors;
    auto make = [](const OutputInfo &o, int left, int top, bool primary) {
        Monitor m;
        int w, h;
        DeviceSize(o, &w, &h);
        m.rect = m.work = {left, top, left + w, top + h};
        m.primary = primary;
        m.name = o.name;
        return m;
    };
    if (confinedTo >= 0 && confinedTo < (int)outputs.size()) {
        monitors.push_back(make(outputs[confinedTo], 0, 0, true));
        return monitors;
    }
    int primary = PrimaryOutput(outputs);
    if (primary < 0) return monitors;
    const OutputInfo &p = outputs[primary];
    int scale = std::max(1, p.scale);
    monitors.push_back(make(p, 0, 0, true));
    for (size_t i = 0; i < outputs.size(); ++i) {
        if ((int)i == primary || !outputs[i].ready) continue;
        const OutputInfo &o = outputs[i];
        monitors.push_back(make(o, (o.x - p.x) * scale, (o.y - p.y) * scale, false));
    }
    return monitors;
}

void SurfaceToPixels(double sx, double sy, int logicalWidth, int logicalHeight, int pixelWidth, int pixelHeight,
                     int *px, int *py) {
    double fx = logicalWidth > 0 ? (double)pixelWidth / logicalWidth : 1.0;
    double fy = logicalHeight > 0 ? (double)pixelHeight / logicalHeight : 1.0;
    int x = (int)std::floor(sx * fx);
    int y = (int)std::floor(sy * fy);
    *px = std::clamp(x, 0, std::max(0, pixelWidth - 1));
    *py = std::clamp(y, 0, std::max(0, pixelHeight - 1));
}

}  // namespace wayland
}  // namespace layer
