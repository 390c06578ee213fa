// A bus of the test's own: a dbus-daemon on a socket in a fresh folder, for
// services that must not touch the machine's buses. Skipped where there is
// no dbus-daemon.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <systemd/sd-bus.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

class PrivateBusFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        if (system("command -v dbus-daemon >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "dbus-daemon is not installed";
        char pattern[] = "/tmp/vantrel-bus.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        address = "unix:path=" + dir + "/bus";
        daemon = fork();
        ASSERT_GE(daemon, 0);
        if (daemon == 0) {
            execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile",
                   ("--address=" + address).c_str(), nullptr);
            _exit(127);
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!std::filesystem::exists(dir + "/bus") && std::chrono::steady_clock::now() < deadline)
            usleep(20'000);
        server = Connect();
        ASSERT_NE(server, nullptr);
    }
    void TearDown() override {
        for (sd_bus *bus : clients)
            sd_bus_flush_close_unref(bus);
        if (server)
            sd_bus_flush_close_unref(server);
        if (daemon > 0) {
            kill(daemon, SIGTERM);
            waitpid(daemon, nullptr, 0);
        }
        if (!dir.empty())
            std::filesystem::remove_all(dir);
    }

    sd_bus *Connect() {
        sd_bus *bus = nullptr;
        if (sd_bus_new(&bus) < 0)
            return nullptr;
        sd_bus_set_address(bus, address.c_str());
        sd_bus_set_bus_client(bus, 1);
        if (sd_bus_start(bus) < 0) {
            sd_bus_unref(bus);
            return nullptr;
        }
        return bus;
    }
    sd_bus *Client() {
        sd_bus *bus = Connect();
        if (bus)
            clients.push_back(bus);
        return bus;
    }

    std::string dir, address;
    pid_t daemon = -1;
    sd_bus *server = nullptr;
    std::vector<sd_bus *> clients;
};
