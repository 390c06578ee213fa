// The watcher's holders of idle on the buses: the inhibit bookkeeping on its
// own, and the org.freedesktop.ScreenSaver service on a private session bus
// of the test's (a dbus-daemon; skipped where there is none).
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <systemd/sd-bus.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "idle/inhibit_book.h"
#include "idle/logind_inhibitors.h"
#include "idle/watcher.h"
#include "private_bus.h"

namespace {

using idle::InhibitBook;

TEST(InhibitBook, CookiesAreNonzeroUniqueAndNotSoonReused) {
    InhibitBook book;
    std::set<std::uint32_t> seen;
    for (int round = 0; round < 40; ++round) {
        std::uint32_t a = book.Take(":1.1", "player", "video");
        std::uint32_t b = book.Take(":1.2", "browser", "video");
        ASSERT_NE(a, 0u);
        ASSERT_NE(b, 0u);
        EXPECT_TRUE(seen.insert(a).second);
        EXPECT_TRUE(seen.insert(b).second);
        ASSERT_EQ(book.Give(":1.1", a), InhibitBook::Release::Released);
        ASSERT_EQ(book.Give(":1.2", b), InhibitBook::Release::Released);
    }
    EXPECT_FALSE(book.Held());
}

TEST(InhibitBook, OnlyTheOwnerReleasesAndALeavingOwnerDropsAllItsInhibits) {
    InhibitBook book;
    std::uint32_t mine = book.Take(":1.1", "player", "video");
    std::uint32_t alsoMine = book.Take(":1.1", "player", "second video");
    std::uint32_t theirs = book.Take(":1.2", "browser", "call");
    EXPECT_EQ(book.Give(":1.2", mine), InhibitBook::Release::NotYours);
    EXPECT_EQ(book.Give(":1.1", 0), InhibitBook::Release::Unknown);
    EXPECT_EQ(book.Give(":1.1", theirs + 1000), InhibitBook::Release::Unknown);
    EXPECT_EQ(book.Count(), 3u);

    EXPECT_EQ(book.DropOwner(":1.1"), 2u);
    EXPECT_EQ(book.Give(":1.1", alsoMine), InhibitBook::Release::Unknown);
    EXPECT_EQ(book.Holders(), std::vector<std::string>{"browser (call)"});
    EXPECT_EQ(book.DropOwner(":1.9"), 0u);
    EXPECT_EQ(book.Give(":1.2", theirs), InhibitBook::Release::Released);
    EXPECT_FALSE(book.Held());
}

TEST(InhibitBook, CapsRefuseFloodsPerCallerAndInAll) {
    InhibitBook book;
    for (std::size_t i = 0; i < InhibitBook::kMaxPerOwner; ++i)
        ASSERT_NE(book.Take(":1.1", "a", "b"), 0u);
    EXPECT_EQ(book.Take(":1.1", "a", "b"), 0u);
    EXPECT_NE(book.Take(":1.2", "a", "b"), 0u) << "one caller's flood must not refuse another";

    for (int owner = 3; book.Count() < InhibitBook::kMaxTotal; ++owner)
        ASSERT_NE(book.Take(":1." + std::to_string(owner), "a", "b"), 0u);
    EXPECT_EQ(book.Take(":9.9", "a", "b"), 0u);
    EXPECT_EQ(book.Take("", "a", "b"), 0u);
    EXPECT_EQ(book.Take(std::string(300, 'x'), "a", "b"), 0u);
}

TEST(InhibitBook, HoldersArePrintableAndClipped) {
    InhibitBook book;
    book.Take(":1.1", "evil\n\x1b[2Japp\xff", std::string(1000, 'r'));
    std::string line = book.Holders().at(0);
    EXPECT_EQ(line.substr(0, 15), "evil??[2Japp? (");
    EXPECT_LE(line.size(), 2 * InhibitBook::kMaxText + 4);
}

TEST(PrintableClip, KeepsWholeCharactersAndReplacesWhatIsUnsafe) {
    EXPECT_EQ(idle::PrintableClip("Lecteur vidéo", 64), "Lecteur vidéo");
    // é is two bytes: a clip through it leaves it out whole.
    EXPECT_EQ(idle::PrintableClip("abé", 3), "ab");
    EXPECT_EQ(idle::PrintableClip("a\tb\x7f", 8), "a?b?");
    EXPECT_EQ(idle::PrintableClip("\xc0\xaf\xed\xa0\x80", 8), "?????") << "overlong and surrogate forms";
    EXPECT_EQ(idle::PrintableClip("x\u202Ey", 8), "x?y") << "a bidirectional override";
    EXPECT_EQ(idle::PrintableClip("\xe2\x82", 8), "??") << "a character cut short";
}

TEST(NamesIdle, FindsTheWordIdleAlone) {
    EXPECT_TRUE(idle::NamesIdle("idle"));
    EXPECT_TRUE(idle::NamesIdle("shutdown:sleep:idle"));
    EXPECT_TRUE(idle::NamesIdle("idle:handle-lid-switch"));
    EXPECT_FALSE(idle::NamesIdle(""));
    EXPECT_FALSE(idle::NamesIdle("shutdown:sleep"));
    EXPECT_FALSE(idle::NamesIdle("idler:sleep-idle"));
    EXPECT_FALSE(idle::NamesIdle(":::"));
}

// --- the service on a bus of our own ---------------------------------------

class PrivateBus : public PrivateBusFixture {
  protected:
    // Runs both ends until `done` (or 10 s): the service answers only when
    // its bus is processed, as the watcher's loop does.
    bool PumpUntil(const std::function<bool()> &done) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            bool any = false;
            while (sd_bus_process(server, nullptr) > 0)
                any = true;
            for (sd_bus *bus : clients)
                while (bus && sd_bus_process(bus, nullptr) > 0)
                    any = true;
            if (!any)
                sd_bus_wait(server, 10'000);
        }
        return true;
    }

    struct Answer {
        bool done = false;
        std::string error;
        std::uint32_t cookie = 0;
    };
    static int OnAnswer(sd_bus_message *reply, void *data, sd_bus_error *) {
        auto *answer = static_cast<Answer *>(data);
        answer->done = true;
        if (const sd_bus_error *error = sd_bus_message_get_error(reply))
            answer->error = error->name;
        else
            sd_bus_message_read(reply, "u", &answer->cookie);
        return 0;
    }
    // A call from `client`, answered through the pump.
    Answer Call(sd_bus *client, const char *path, const char *member, const char *types, ...) {
        Answer answer;
        sd_bus_message *call = nullptr;
        sd_bus_message_new_method_call(client, &call, "org.freedesktop.ScreenSaver", path,
                                       "org.freedesktop.ScreenSaver", member);
        va_list args;
        va_start(args, types);
        sd_bus_message_appendv(call, types, args);
        va_end(args);
        sd_bus_call_async(client, nullptr, call, OnAnswer, &answer, 5'000'000);
        sd_bus_message_unref(call);
        EXPECT_TRUE(PumpUntil([&] { return answer.done; })) << member << " got no answer";
        return answer;
    }

};

TEST_F(PrivateBus, ScreenSaverServiceTracksInhibitsByCaller) {
    int flips = 0;
    std::string why;
    auto service = idle::ServeScreenSaverInhibit(server, [&] { ++flips; }, &why);
    ASSERT_NE(service, nullptr) << why;
    sd_bus *player = Client(), *browser = Client();
    ASSERT_TRUE(player && browser);

    Answer first = Call(player, "/ScreenSaver", "Inhibit", "ss", "player", "video");
    Answer second = Call(player, "/org/freedesktop/ScreenSaver", "Inhibit", "ss", "player", "second video");
    ASSERT_EQ(first.error, "");
    ASSERT_EQ(second.error, "");
    EXPECT_NE(first.cookie, 0u);
    EXPECT_NE(first.cookie, second.cookie);
    EXPECT_TRUE(service->Held());
    EXPECT_EQ(flips, 1);

    EXPECT_EQ(Call(browser, "/ScreenSaver", "UnInhibit", "u", first.cookie).error,
              "org.freedesktop.DBus.Error.AccessDenied");
    EXPECT_EQ(Call(browser, "/ScreenSaver", "UnInhibit", "u", 777777u).error, "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_EQ(Call(player, "/ScreenSaver", "UnInhibit", "u", first.cookie).error, "");
    EXPECT_TRUE(service->Held());
    EXPECT_EQ(service->Holders(), std::vector<std::string>{"player (second video)"});

    // The player leaves the bus without releasing, as a killed one does.
    clients[0] = nullptr;
    sd_bus_flush_close_unref(player);
    EXPECT_TRUE(PumpUntil([&] { return !service->Held(); })) << "a caller's leaving must end its inhibits";
    EXPECT_EQ(flips, 2);
}

TEST_F(PrivateBus, ScreenSaverServiceStandsBackForAnOwnerOfTheName) {
    sd_bus *desktop = Client();
    ASSERT_NE(desktop, nullptr);
    ASSERT_GE(sd_bus_request_name(desktop, "org.freedesktop.ScreenSaver", 0), 0);
    std::string why;
    EXPECT_EQ(idle::ServeScreenSaverInhibit(server, nullptr, &why), nullptr);
    const char *unique = nullptr;
    sd_bus_get_unique_name(desktop, &unique);
    EXPECT_NE(why.find(unique), std::string::npos) << why;
}

TEST_F(PrivateBus, GnomeIdleMonitorIsRefusedWhereNobodyServesIt) {
    std::string why;
    EXPECT_EQ(idle::OpenGnomeIdleMonitor(server, {}, &why), nullptr);
    EXPECT_NE(why.find("nobody owns"), std::string::npos) << why;

    // A name taken by a program that serves no monitor: no watcher could
    // ever hear of idle from it.
    sd_bus *impostor = Client();
    ASSERT_NE(impostor, nullptr);
    ASSERT_GE(sd_bus_request_name(impostor, "org.gnome.Mutter.IdleMonitor", 0), 0);
    std::atomic<bool> stop = false;
    std::thread answering([&] {
        while (!stop) {
            while (sd_bus_process(impostor, nullptr) > 0) {
            }
            sd_bus_wait(impostor, 20'000);
        }
    });
    why.clear();
    auto source = idle::OpenGnomeIdleMonitor(server, {}, &why);
    stop = true;
    answering.join();
    EXPECT_EQ(source, nullptr);
    EXPECT_NE(why.find("does not answer"), std::string::npos) << why;
}

// A stand-in for logind on the test's bus: BlockInhibited and the list of
// inhibitors, answered from a thread of its own (the watcher's questions
// wait for their answers).
struct FakeLogind {
    std::mutex lock;
    std::string blocked;
    std::atomic<bool> locked = false;
    void Block(const char *words) {
        std::lock_guard<std::mutex> hold(lock);
        blocked = words;
    }
    static int GetBlocked(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *self,
                          sd_bus_error *) {
        auto *fake = static_cast<FakeLogind *>(self);
        std::lock_guard<std::mutex> hold(fake->lock);
        return sd_bus_message_append(reply, "s", fake->blocked.c_str());
    }
    static int List(sd_bus_message *call, void *, sd_bus_error *) {
        sd_bus_message *reply = nullptr;
        sd_bus_message_new_method_return(call, &reply);
        sd_bus_message_open_container(reply, 'a', "(ssssuu)");
        sd_bus_message_append(reply, "(ssssuu)", "sleep", "updater", "installing", "block", 0u, 1u);
        sd_bus_message_append(reply, "(ssssuu)", "idle:sleep", "player\n", "film", "block", 1000u, 2u);
        sd_bus_message_append(reply, "(ssssuu)", "idle", "late", "saving", "delay", 1000u, 3u);
        sd_bus_message_close_container(reply);
        int r = sd_bus_send(nullptr, reply, nullptr);
        sd_bus_message_unref(reply);
        return r;
    }
};

int FakeGetSession(sd_bus_message *call, void *, sd_bus_error *) {
    return sd_bus_reply_method_return(call, "o", "/org/freedesktop/login1/session/c1");
}
int FakeLockedHint(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *self,
                   sd_bus_error *) {
    return sd_bus_message_append(reply, "b", static_cast<FakeLogind *>(self)->locked.load() ? 1 : 0);
}
const sd_bus_vtable kFakeSessionVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("LockedHint", "b", FakeLockedHint, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_VTABLE_END,
};

const sd_bus_vtable kFakeLogindVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("BlockInhibited", "s", FakeLogind::GetBlocked, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_METHOD("ListInhibitors", "", "a(ssssuu)", FakeLogind::List, 0),
    SD_BUS_METHOD("GetSession", "s", "o", FakeGetSession, 0),
    SD_BUS_VTABLE_END,
};

TEST_F(PrivateBus, LogindInhibitorsFollowTheirFolderAndCountIdleBlocksOnly) {
    sd_bus *logind = Connect();
    ASSERT_NE(logind, nullptr);
    FakeLogind fake;
    fake.Block("shutdown:sleep");
    ASSERT_GE(sd_bus_add_object_vtable(logind, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                       kFakeLogindVtable, &fake),
              0);
    ASSERT_GE(sd_bus_add_object_vtable(logind, nullptr, "/org/freedesktop/login1/session/c1",
                                       "org.freedesktop.login1.Session", kFakeSessionVtable, &fake),
              0);
    ASSERT_GE(sd_bus_request_name(logind, "org.freedesktop.login1", 0), 0);
    std::atomic<bool> stop = false, emit = false, emitSession = false;
    std::thread answering([&] {
        while (!stop) {
            if (emit.exchange(false))
                sd_bus_emit_properties_changed(logind, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                               "BlockInhibited", nullptr);
            if (emitSession.exchange(false))
                sd_bus_emit_properties_changed(logind, "/org/freedesktop/login1/session/c1",
                                               "org.freedesktop.login1.Session", "LockedHint", nullptr);
            while (sd_bus_process(logind, nullptr) > 0) {
            }
            sd_bus_wait(logind, 20'000);
        }
    });
    // The watcher's loop: wait for the descriptor, then dispatch.
    auto settle = [](idle::Inhibitors &inhibitors) {
        pollfd ready = {inhibitors.Fd(), POLLIN, 0};
        if (poll(&ready, 1, 5000) > 0)
            inhibitors.Dispatch();
    };

    int flips = 0;
    std::string why;
    // Here the folder logind makes with its first inhibitor is not there yet.
    auto inhibitors = idle::WatchLogindInhibitorsIn(server, [&] { ++flips; }, &why, dir);
    bool heldAtStart = inhibitors && inhibitors->Held();
    bool heldOnceMade = false, heldOnceReleased = true, heldOnSignal = false;
    bool heldWhileLocked = false, releasedOnUnlock = false;
    std::vector<std::string> lockedHolders;
    std::vector<std::string> holders;
    if (inhibitors) {
        fake.Block("shutdown:idle");
        std::filesystem::create_directory(dir + "/inhibit");
        settle(*inhibitors);
        heldOnceMade = inhibitors->Held();
        holders = inhibitors->Holders();
        fake.Block("sleep");
        std::ofstream(dir + "/inhibit/2") << "WHAT=sleep\n";
        settle(*inhibitors);
        heldOnceReleased = inhibitors->Held();
        // logind's own word for it, with nothing in the folder.
        fake.Block("idle");
        emit = true;
        heldOnSignal = PumpUntil([&] { return inhibitors->Held(); });
        // A locked session holds idle as well, until it is unlocked.
        fake.Block("");
        emit = true;
        PumpUntil([&] { return !inhibitors->Held(); });
        fake.locked = true;
        emitSession = true;
        heldWhileLocked = PumpUntil([&] { return inhibitors->Held(); });
        lockedHolders = inhibitors->Holders();
        fake.locked = false;
        emitSession = true;
        releasedOnUnlock = PumpUntil([&] { return !inhibitors->Held(); });
    }
    stop = true;
    answering.join();
    sd_bus_flush_close_unref(logind);

    ASSERT_NE(inhibitors, nullptr) << why;
    EXPECT_FALSE(heldAtStart);
    EXPECT_TRUE(heldOnceMade) << "the inhibitor folder's making must be noticed";
    EXPECT_EQ(holders, std::vector<std::string>{"player? (film)"});
    EXPECT_FALSE(heldOnceReleased) << "a change in the folder must be noticed";
    EXPECT_TRUE(heldOnSignal) << "logind's PropertiesChanged must be noticed";
    EXPECT_TRUE(heldWhileLocked) << "a locked session must hold idle";
    EXPECT_EQ(lockedHolders.empty() ? "" : lockedHolders.front(), "the session is locked");
    EXPECT_TRUE(releasedOnUnlock) << "the unlock must be noticed";
    EXPECT_EQ(flips, 6);
}

}  // namespace
