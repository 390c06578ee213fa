// The watcher's Wayland idle source against a small compositor of the
// test's own (libwayland-server on a thread), which can do what the real
// ones do rarely and the end-to-end tests never see: take a seat or an idle
// global away, offer newer versions than we know, drop the connection.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-server.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ext-idle-notify-v1-server-protocol.h"
#include "idle-server-protocol.h"
#include "idle/watcher.h"

namespace {

// A compositor on its own thread. Everything that touches its objects runs
// there (Run); what clients asked of it is kept as lines of text.
class FakeCompositor {
  public:
    FakeCompositor() {
        char dir[] = "/tmp/vantrel-wl-idle.XXXXXX";
        runtimeDir_ = mkdtemp(dir);
        display_ = wl_display_create();
        setenv("XDG_RUNTIME_DIR", runtimeDir_.c_str(), 1);
        wl_display_add_socket(display_, "idle-test");
        setenv("WAYLAND_DISPLAY", "idle-test", 1);
        wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        wakeSource_ = wl_event_loop_add_fd(wl_display_get_event_loop(display_), wake_, WL_EVENT_READABLE, RunTasks, this);
        thread_ = std::thread([this] {
            while (!stop_) {
                wl_display_flush_clients(display_);
                wl_event_loop_dispatch(wl_display_get_event_loop(display_), -1);
            }
        });
    }
    ~FakeCompositor() {
        Run([this] { stop_ = true; });
        thread_.join();
        wl_event_source_remove(wakeSource_);
        wl_display_destroy_clients(display_);
        wl_display_destroy(display_);
        close(wake_);
        rmdir(runtimeDir_.c_str());
    }

    void Run(std::function<void()> task) {
        std::packaged_task<void()> job(std::move(task));
        auto done = job.get_future();
        {
            std::lock_guard<std::mutex> hold(mutex_);
            tasks_.push_back(std::move(job));
        }
        uint64_t one = 1;
        (void)!write(wake_, &one, sizeof one);
        done.wait();
    }

    wl_global *AddSeat(uint32_t version) {
        wl_global *global = nullptr;
        Run([&] { global = wl_global_create(display_, &wl_seat_interface, version, this, BindSeat); });
        return global;
    }
    wl_global *AddExtNotifier(uint32_t version) {
        wl_global *global = nullptr;
        Run([&] { global = wl_global_create(display_, &ext_idle_notifier_v1_interface, version, this, BindExt); });
        return global;
    }
    wl_global *AddKdeIdle() {
        wl_global *global = nullptr;
        Run([&] { global = wl_global_create(display_, &org_kde_kwin_idle_interface, 1, this, BindKde); });
        return global;
    }
    void Remove(wl_global *global) {
        Run([&] { wl_global_destroy(global); });
    }
    // The idle events of the newest watch.
    void SendIdle() {
        Run([this] {
            if (ext_) ext_idle_notification_v1_send_idled(ext_);
            if (kde_) org_kde_kwin_idle_timeout_send_idle(kde_);
        });
    }
    void SendResumed() {
        Run([this] {
            if (ext_) ext_idle_notification_v1_send_resumed(ext_);
            if (kde_) org_kde_kwin_idle_timeout_send_resumed(kde_);
        });
    }
    void DropClient() {
        Run([this] {
            if (client_) wl_client_destroy(client_);
            client_ = nullptr;
            ext_ = kde_ = nullptr;
        });
    }

    // Waits until the compositor has seen `line` (`times` times).
    bool Saw(const std::string &line, long times = 1) {
        std::unique_lock<std::mutex> hold(mutex_);
        return seen_.wait_for(hold, std::chrono::seconds(5),
                              [&] { return std::count(log_.begin(), log_.end(), line) >= times; });
    }
    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> hold(mutex_);
        return log_;
    }

  private:
    void Note(const std::string &line) {
        std::lock_guard<std::mutex> hold(mutex_);
        log_.push_back(line);
        seen_.notify_all();
    }

    static int RunTasks(int fd, uint32_t, void *data) {
        auto *self = static_cast<FakeCompositor *>(data);
        uint64_t count;
        (void)!read(fd, &count, sizeof count);
        std::vector<std::packaged_task<void()>> tasks;
        {
            std::lock_guard<std::mutex> hold(self->mutex_);
            tasks.swap(self->tasks_);
        }
        for (auto &task : tasks) task();
        return 0;
    }

    static void BindSeat(wl_client *client, void *data, uint32_t version, uint32_t id) {
        auto *self = static_cast<FakeCompositor *>(data);
        wl_resource *seat = wl_resource_create(client, &wl_seat_interface, version, id);
        static const struct wl_seat_interface kSeat = {
            [](wl_client *, wl_resource *, uint32_t) {}, [](wl_client *, wl_resource *, uint32_t) {},
            [](wl_client *, wl_resource *, uint32_t) {}, [](wl_client *, wl_resource *r) { wl_resource_destroy(r); }};
        wl_resource_set_implementation(seat, &kSeat, self, nullptr);
        self->Note("seat v" + std::to_string(version));
    }

    static void BindExt(wl_client *client, void *data, uint32_t version, uint32_t id) {
        auto *self = static_cast<FakeCompositor *>(data);
        self->client_ = client;
        wl_resource *notifier = wl_resource_create(client, &ext_idle_notifier_v1_interface, version, id);
        static const struct ext_idle_notifier_v1_interface kNotifier = {
            [](wl_client *, wl_resource *r) { wl_resource_destroy(r); },
            [](wl_client *client, wl_resource *r, uint32_t id, uint32_t timeout, wl_resource *) {
                auto *self = static_cast<FakeCompositor *>(wl_resource_get_user_data(r));
                wl_resource *watch = wl_resource_create(client, &ext_idle_notification_v1_interface, 1, id);
                static const struct ext_idle_notification_v1_interface kWatch = {
                    [](wl_client *, wl_resource *r) { wl_resource_destroy(r); }};
                wl_resource_set_implementation(watch, &kWatch, self, [](wl_resource *r) {
                    auto *self = static_cast<FakeCompositor *>(wl_resource_get_user_data(r));
                    if (self->ext_ == r) self->ext_ = nullptr;
                    self->Note("ext watch gone");
                });
                self->ext_ = watch;
                self->Note("ext watch " + std::to_string(timeout));
            }};
        wl_resource_set_implementation(notifier, &kNotifier, self, nullptr);
        self->Note("ext v" + std::to_string(version));
    }

    static void BindKde(wl_client *client, void *data, uint32_t version, uint32_t id) {
        auto *self = static_cast<FakeCompositor *>(data);
        self->client_ = client;
        wl_resource *idle = wl_resource_create(client, &org_kde_kwin_idle_interface, version, id);
        static const struct org_kde_kwin_idle_interface kIdle = {
            [](wl_client *client, wl_resource *r, uint32_t id, wl_resource *, uint32_t timeout) {
                auto *self = static_cast<FakeCompositor *>(wl_resource_get_user_data(r));
                wl_resource *watch = wl_resource_create(client, &org_kde_kwin_idle_timeout_interface, 1, id);
                static const struct org_kde_kwin_idle_timeout_interface kWatch = {
                    [](wl_client *, wl_resource *r) { wl_resource_destroy(r); }, [](wl_client *, wl_resource *) {}};
                wl_resource_set_implementation(watch, &kWatch, self, [](wl_resource *r) {
                    auto *self = static_cast<FakeCompositor *>(wl_resource_get_user_data(r));
                    if (self->kde_ == r) self->kde_ = nullptr;
                    self->Note("kde watch gone");
                });
                self->kde_ = watch;
                self->Note("kde watch " + std::to_string(timeout));
            }};
        wl_resource_set_implementation(idle, &kIdle, self, nullptr);
        self->Note("kde v" + std::to_string(version));
    }

    std::string runtimeDir_;
    wl_display *display_;
    int wake_;
    wl_event_source *wakeSource_;
    std::thread thread_;
    bool stop_ = false;  // the compositor's thread alone reads and writes it
    std::mutex mutex_;
    std::condition_variable seen_;
    std::vector<std::packaged_task<void()>> tasks_;
    std::vector<std::string> log_;
    wl_client *client_ = nullptr;
    wl_resource *ext_ = nullptr;
    wl_resource *kde_ = nullptr;
};

struct Counts {
    int idle = 0, active = 0, ended = 0;
};

class WaylandIdle : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *runtime = getenv("XDG_RUNTIME_DIR");
        const char *display = getenv("WAYLAND_DISPLAY");
        savedRuntime_ = runtime ? runtime : "";
        savedDisplay_ = display ? display : "";
        hadRuntime_ = runtime != nullptr;
        hadDisplay_ = display != nullptr;
        events_.idle = [this] { ++counts_.idle; };
        events_.active = [this] { ++counts_.active; };
        events_.ended = [this] { ++counts_.ended; };
        compositor_ = std::make_unique<FakeCompositor>();
    }
    void TearDown() override {
        source_.reset();
        compositor_.reset();
        if (hadRuntime_) setenv("XDG_RUNTIME_DIR", savedRuntime_.c_str(), 1);
        else unsetenv("XDG_RUNTIME_DIR");
        if (hadDisplay_) setenv("WAYLAND_DISPLAY", savedDisplay_.c_str(), 1);
        else unsetenv("WAYLAND_DISPLAY");
    }

    bool Open() {
        source_ = idle::OpenWaylandIdle(events_, &why_);
        return source_ != nullptr;
    }
    // Reads what the compositor sent until `done` holds; false when it does
    // not within 5 s, or the source said the connection is gone.
    bool PumpUntil(const std::function<bool()> &done) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            if (!source_->Flush()) return false;
            pollfd fd = {source_->Fd(), POLLIN, 0};
            poll(&fd, 1, 100);
            if (!source_->Dispatch()) return false;
        }
        return done();
    }

    std::unique_ptr<FakeCompositor> compositor_;
    std::unique_ptr<idle::IdleSource> source_;
    idle::IdleEvents events_;
    Counts counts_;
    std::string why_;
    std::string savedRuntime_, savedDisplay_;
    bool hadRuntime_ = false, hadDisplay_ = false;
};

TEST_F(WaylandIdle, PrefersExtIdleNotifyAndReportsEachChangeOnce) {
    compositor_->AddSeat(8);
    compositor_->AddKdeIdle();
    compositor_->AddExtNotifier(1);
    ASSERT_TRUE(Open()) << why_;
    EXPECT_EQ(source_->Name(), "ext-idle-notify-v1 (Wayland)");
    EXPECT_TRUE(source_->CountsDesktopInhibitors());
    EXPECT_TRUE(compositor_->Saw("seat v1"));
    EXPECT_TRUE(compositor_->Saw("ext v1"));

    source_->Arm(3);
    ASSERT_TRUE(compositor_->Saw("ext watch 3000"));
    compositor_->SendIdle();
    compositor_->SendIdle();
    ASSERT_TRUE(PumpUntil([&] { return counts_.idle > 0; }));
    compositor_->SendResumed();
    compositor_->SendResumed();
    ASSERT_TRUE(PumpUntil([&] { return counts_.active > 0; }));
    // Both repeats have been read by now: the second idle came before the
    // first resumed.
    EXPECT_EQ(counts_.idle, 1);
    EXPECT_EQ(counts_.active, 1);

    // A new time replaces the watch; a time too long for the protocol's
    // milliseconds is the longest it can say, never a short one.
    source_->Arm(600);
    EXPECT_TRUE(compositor_->Saw("ext watch gone"));
    EXPECT_TRUE(compositor_->Saw("ext watch 600000"));
    source_->Arm(5000000);
    EXPECT_TRUE(compositor_->Saw("ext watch 4294967295"));
    source_->Disarm();
    EXPECT_TRUE(compositor_->Saw("ext watch gone", 3));
    auto log = compositor_->Log();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string &line) { return line.rfind("kde watch", 0) == 0; }),
              0);
}

TEST_F(WaylandIdle, KdeIdleFollowsTheSeatsThatComeAndGo) {
    wl_global *first = compositor_->AddSeat(1);
    wl_global *second = compositor_->AddSeat(1);
    wl_global *kde = compositor_->AddKdeIdle();
    ASSERT_TRUE(Open()) << why_;
    EXPECT_EQ(source_->Name(), "org_kde_kwin_idle (Wayland)");
    source_->Arm(3);
    ASSERT_TRUE(compositor_->Saw("kde watch 3000"));

    // The seat goes: the watch on it goes, and one on the other seat comes.
    compositor_->Remove(first);
    ASSERT_TRUE(PumpUntil([&] {
        auto log = compositor_->Log();
        return std::count(log.begin(), log.end(), "kde watch 3000") == 2;
    }));
    EXPECT_TRUE(compositor_->Saw("kde watch gone"));

    // No seat at all: no watch, until a seat comes back.
    compositor_->Remove(second);
    ASSERT_TRUE(PumpUntil([&] {
        auto log = compositor_->Log();
        return std::count(log.begin(), log.end(), "kde watch gone") == 2;
    }));
    compositor_->AddSeat(1);
    ASSERT_TRUE(PumpUntil([&] {
        auto log = compositor_->Log();
        return std::count(log.begin(), log.end(), "kde watch 3000") == 3;
    }));
    compositor_->SendIdle();
    ASSERT_TRUE(PumpUntil([&] { return counts_.idle == 1; }));

    // The idle global goes: nothing left to watch with, and nothing breaks.
    compositor_->Remove(kde);
    ASSERT_TRUE(PumpUntil([&] {
        auto log = compositor_->Log();
        return std::count(log.begin(), log.end(), "kde watch gone") == 3;
    }));
    source_->Arm(4);
    EXPECT_TRUE(source_->Flush());
    EXPECT_EQ(counts_.ended, 0);
}

TEST_F(WaylandIdle, NoIdleProtocolNoCompositorAndALostConnection) {
    compositor_->AddSeat(1);
    EXPECT_FALSE(Open());
    EXPECT_NE(why_.find("neither ext-idle-notify-v1 nor org_kde_kwin_idle"), std::string::npos) << why_;

    setenv("WAYLAND_DISPLAY", "no-such-compositor", 1);
    EXPECT_FALSE(Open());
    EXPECT_NE(why_.find("does not answer"), std::string::npos) << why_;

    setenv("WAYLAND_DISPLAY", "idle-test", 1);
    compositor_->AddExtNotifier(1);
    ASSERT_TRUE(Open()) << why_;
    source_->Arm(3);
    ASSERT_TRUE(compositor_->Saw("ext watch 3000"));
    compositor_->DropClient();
    EXPECT_FALSE(PumpUntil([] { return false; }));
    EXPECT_FALSE(source_->Dispatch());
    EXPECT_FALSE(source_->Flush());
    EXPECT_EQ(counts_.ended, 1);
}

}  // namespace
