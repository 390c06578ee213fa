// KWin's outputs, seen and changed through its output-management protocol
// (what the display settings of a Plasma session use), for the KWin
// end-to-end script: a headless KWin has no other way to take an output
// away or bring one back while clients run.
//
//   kwin_outputs list
//       one line per output: NAME enabled|disabled WxH+X+Y*SCALE (the mode
//       in device pixels, the place in the layout, the scale)
//   kwin_outputs set NAME [enable|disable] [scale S] [position X Y]...
//       one configuration with every change named, applied at once; exit 0
//       once KWin says it is applied
//
// Exit 1: no compositor, it went away, or it refused the configuration;
// 2: wrong arguments, no such output, or no output management.
#include <wayland-client.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kde-output-device-v2-client-protocol.h"
#include "kde-output-management-v2-client-protocol.h"

namespace {

struct Mode {
    kde_output_device_mode_v2 *mode = nullptr;
    int width = 0;
    int height = 0;
};

struct Device {
    kde_output_device_v2 *device = nullptr;
    std::string name;
    bool enabled = false;
    int x = 0;
    int y = 0;
    double scale = 1;
    kde_output_device_mode_v2 *current = nullptr;
    std::vector<std::unique_ptr<Mode>> modes;
};

std::vector<std::unique_ptr<Device>> devices;
kde_output_management_v2 *management;
enum class Outcome { Waiting, Applied, Failed } outcome = Outcome::Waiting;

const kde_output_device_mode_v2_listener kModeListener = {
    [](void *data, kde_output_device_mode_v2 *, int32_t width, int32_t height) {
        auto *m = static_cast<Mode *>(data);
        m->width = width;
        m->height = height;
    },
    [](void *, kde_output_device_mode_v2 *, int32_t) {},
    [](void *, kde_output_device_mode_v2 *) {},
    [](void *, kde_output_device_mode_v2 *) {},
};

Device *Of(void *data) { return static_cast<Device *>(data); }

const kde_output_device_v2_listener kDeviceListener = {
    [](void *data, kde_output_device_v2 *, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char *, const char *,
       int32_t) {
        Of(data)->x = x;
        Of(data)->y = y;
    },
    [](void *data, kde_output_device_v2 *, kde_output_device_mode_v2 *mode) { Of(data)->current = mode; },
    [](void *data, kde_output_device_v2 *, kde_output_device_mode_v2 *mode) {
        auto m = std::make_unique<Mode>();
        m->mode = mode;
        kde_output_device_mode_v2_add_listener(mode, &kModeListener, m.get());
        Of(data)->modes.push_back(std::move(m));
    },
    [](void *, kde_output_device_v2 *) {},
    [](void *data, kde_output_device_v2 *, wl_fixed_t factor) { Of(data)->scale = wl_fixed_to_double(factor); },
    [](void *, kde_output_device_v2 *, const char *) {},
    [](void *data, kde_output_device_v2 *, int32_t enabled) { Of(data)->enabled = enabled != 0; },
    [](void *, kde_output_device_v2 *, const char *) {},
    [](void *, kde_output_device_v2 *, const char *) {},
    [](void *, kde_output_device_v2 *, const char *) {},
    [](void *, kde_output_device_v2 *, uint32_t) {},
    [](void *, kde_output_device_v2 *, uint32_t) {},
    [](void *, kde_output_device_v2 *, uint32_t) {},
    [](void *, kde_output_device_v2 *, uint32_t) {},
    [](void *data, kde_output_device_v2 *, const char *name) { Of(data)->name = name; },
};

void Global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t version) {
    if (!std::strcmp(interface, kde_output_device_v2_interface.name)) {
        // Version 2 says the output's name, which is how the script knows it.
        auto d = std::make_unique<Device>();
        d->device = static_cast<kde_output_device_v2 *>(
            wl_registry_bind(registry, name, &kde_output_device_v2_interface, version < 2 ? version : 2));
        kde_output_device_v2_add_listener(d->device, &kDeviceListener, d.get());
        devices.push_back(std::move(d));
    } else if (!std::strcmp(interface, kde_output_management_v2_interface.name) && !management) {
        management = static_cast<kde_output_management_v2 *>(
            wl_registry_bind(registry, name, &kde_output_management_v2_interface, 1));
    }
}

void GlobalGone(void *, wl_registry *, uint32_t) {}

const wl_registry_listener kRegistryListener = {Global, GlobalGone};

const kde_output_configuration_v2_listener kConfigurationListener = {
    [](void *, kde_output_configuration_v2 *) { outcome = Outcome::Applied; },
    [](void *, kde_output_configuration_v2 *) { outcome = Outcome::Failed; },
};

int Usage() {
    std::fprintf(stderr,
                 "usage: kwin_outputs list\n"
                 "       kwin_outputs set NAME [enable|disable] [scale S] [position X Y]...\n");
    return 2;
}

bool Number(const char *text, double *value) {
    char *end = nullptr;
    *value = std::strtod(text, &end);
    return *text && !*end && std::isfinite(*value);
}

std::string Format(double scale) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", scale);
    return text;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return Usage();
    bool list = !std::strcmp(argv[1], "list");
    if (list ? argc != 2 : (std::strcmp(argv[1], "set") || argc < 4)) return Usage();

    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "kwin_outputs: cannot connect to the compositor\n");
        return 1;
    }
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, nullptr);
    // The globals, then what each device says of itself, then its modes'
    // sizes.
    for (int i = 0; i < 3; ++i)
        if (wl_display_roundtrip(display) < 0) {
            std::fprintf(stderr, "kwin_outputs: the compositor closed the connection\n");
            return 1;
        }

    if (list) {
        for (const auto &d : devices) {
            int width = 0, height = 0;
            for (const auto &m : d->modes)
                if (m->mode == d->current) {
                    width = m->width;
                    height = m->height;
                }
            std::printf("%s %s %dx%d+%d+%d*%s\n", d->name.c_str(), d->enabled ? "enabled" : "disabled", width, height,
                        d->x, d->y, Format(d->scale).c_str());
        }
        return 0;
    }

    if (!management) {
        std::fprintf(stderr, "kwin_outputs: the compositor offers no kde_output_management_v2\n");
        return 2;
    }
    Device *target = nullptr;
    for (const auto &d : devices)
        if (d->name == argv[2]) target = d.get();
    if (!target) {
        std::fprintf(stderr, "kwin_outputs: no output is named %s\n", argv[2]);
        return 2;
    }
    kde_output_configuration_v2 *configuration = kde_output_management_v2_create_configuration(management);
    kde_output_configuration_v2_add_listener(configuration, &kConfigurationListener, nullptr);
    for (int i = 3; i < argc; ++i) {
        double a, b;
        if (!std::strcmp(argv[i], "enable") || !std::strcmp(argv[i], "disable")) {
            kde_output_configuration_v2_enable(configuration, target->device, argv[i][0] == 'e');
        } else if (!std::strcmp(argv[i], "scale") && i + 1 < argc && Number(argv[i + 1], &a) && a > 0 && a <= 8) {
            kde_output_configuration_v2_scale(configuration, target->device, wl_fixed_from_double(a));
            ++i;
        } else if (!std::strcmp(argv[i], "position") && i + 2 < argc && Number(argv[i + 1], &a) &&
                   Number(argv[i + 2], &b)) {
            kde_output_configuration_v2_position(configuration, target->device, (int32_t)a, (int32_t)b);
            i += 2;
        } else {
            return Usage();
        }
    }
    kde_output_configuration_v2_apply(configuration);
    while (outcome == Outcome::Waiting)
        if (wl_display_dispatch(display) < 0) {
            std::fprintf(stderr, "kwin_outputs: the compositor closed the connection\n");
            return 1;
        }
    if (outcome == Outcome::Failed) {
        std::fprintf(stderr, "kwin_outputs: the compositor refused the configuration of %s\n", argv[2]);
        return 1;
    }
    kde_output_configuration_v2_destroy(configuration);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
