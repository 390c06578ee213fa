// "PASSWORD.CPL" on Linux against a logind of the test's own on a private
// system bus: the close is approved only once the session says it is
// locked, and every way a lock cannot be had keeps the saver.
#include <atomic>
#include <mutex>
#include <thread>

#include "host_fixture.h"
#include "password/password.h"
#include "private_bus.h"

namespace {

using password::LockOutcome;

// The session side of logind: Lock, and LockedHint set some time after.
struct FakeSession {
    enum class Mode { LockAfter, Never, Refuse, NoSession } mode = Mode::LockAfter;
    int delayMs = 0;
    std::atomic<int> locks = 0;
    std::atomic<bool> locked = false;
    std::atomic<long long> lockAt = 0;  // steady-clock ms; 0: nothing pending

    static long long Now() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    static int GetSession(sd_bus_message *call, void *self, sd_bus_error *error) {
        if (static_cast<FakeSession *>(self)->mode == Mode::NoSession)
            return sd_bus_error_set(error, "org.freedesktop.login1.NoSessionForPID", "no session");
        return sd_bus_reply_method_return(call, "o", "/org/freedesktop/login1/session/c1");
    }
    static int Lock(sd_bus_message *call, void *self, sd_bus_error *error) {
        auto *fake = static_cast<FakeSession *>(self);
        ++fake->locks;
        // A stranger's words, with a line break that must not reach the screen.
        if (fake->mode == Mode::Refuse)
            return sd_bus_error_set(error, "org.freedesktop.DBus.Error.AccessDenied", "not\nhere");
        if (fake->mode == Mode::LockAfter)
            fake->lockAt = Now() + fake->delayMs;
        return sd_bus_reply_method_return(call, "");
    }
    static int Hint(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *self,
                    sd_bus_error *) {
        return sd_bus_message_append(reply, "b", static_cast<FakeSession *>(self)->locked.load() ? 1 : 0);
    }
};

const sd_bus_vtable kManagerVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("GetSession", "s", "o", FakeSession::GetSession, 0),
    SD_BUS_METHOD("GetSessionByPID", "u", "o", FakeSession::GetSession, 0),
    SD_BUS_VTABLE_END,
};
const sd_bus_vtable kSessionVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Lock", "", "", FakeSession::Lock, 0),
    SD_BUS_PROPERTY("LockedHint", "b", FakeSession::Hint, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_VTABLE_END,
};

class LockTest : public PrivateBusFixture {
  protected:
    void SetUp() override {
        PrivateBusFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        unsetenv("SWAYSOCK");
        setenv("XDG_CURRENT_DESKTOP", "GNOME", 1);
    }
    void TearDown() override {
        stop = true;
        if (answering.joinable())
            answering.join();
        PrivateBusFixture::TearDown();
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    // logind's name on the bus, answered from a thread of its own: the
    // verifier's calls wait for their answers.
    void ServeLogind() {
        ASSERT_GE(sd_bus_add_object_vtable(server, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                           kManagerVtable, &session),
                  0);
        ASSERT_GE(sd_bus_add_object_vtable(server, nullptr, "/org/freedesktop/login1/session/c1",
                                           "org.freedesktop.login1.Session", kSessionVtable, &session),
                  0);
        ASSERT_GE(sd_bus_request_name(server, "org.freedesktop.login1", 0), 0);
        answering = std::thread([this] {
            while (!stop) {
                long long due = session.lockAt;
                if (due && FakeSession::Now() >= due) {
                    session.lockAt = 0;
                    session.locked = true;
                    sd_bus_emit_properties_changed(server, "/org/freedesktop/login1/session/c1",
                                                   "org.freedesktop.login1.Session", "LockedHint", nullptr);
                }
                while (sd_bus_process(server, nullptr) > 0) {
                }
                sd_bus_wait(server, 5'000);
            }
        });
    }
    password::LockResult Lock(int timeoutMs, int *turns = nullptr) {
        return password::LockSession(timeoutMs, [turns] {
            if (turns)
                ++*turns;
            return true;
        });
    }

    FakeSession session;
    std::atomic<bool> stop = false;
    std::thread answering;
};

TEST_F(LockTest, TheCloseWaitsForTheSessionToSayItIsLocked) {
    session.delayMs = 300;
    ServeLogind();
    int turns = 0;
    auto start = FakeSession::Now();
    password::LockResult result = Lock(5000, &turns);
    long long took = FakeSession::Now() - start;
    EXPECT_EQ(result.outcome, LockOutcome::Locked) << result.reason;
    EXPECT_EQ(session.locks, 1);
    EXPECT_GE(took, 300) << "approved before the session was locked";
    EXPECT_LT(took, 1500) << "the change must be noticed when it comes";
    EXPECT_GT(turns, 5) << "the saver must keep going while the lock comes up";
}

TEST_F(LockTest, EveryWayWithoutALockKeepsTheSaverWithItsReason) {
    struct Case {
        FakeSession::Mode mode;
        LockOutcome outcome;
        const char *reason;
    } cases[] = {
        {FakeSession::Mode::Never, LockOutcome::TimedOut, "the session did not report itself locked within 1 s"},
        {FakeSession::Mode::Refuse, LockOutcome::Refused, "the login manager refused to lock the session: not here"},
        {FakeSession::Mode::NoSession, LockOutcome::NoSession,
         "the login manager knows no session of this program to lock"},
    };
    ServeLogind();
    for (const Case &c : cases) {
        session.mode = c.mode;
        session.locks = 0;
        auto start = FakeSession::Now();
        password::LockResult result = Lock(700);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.reason, c.reason);
        EXPECT_LT(FakeSession::Now() - start, 3000) << c.reason;
        EXPECT_EQ(session.locks, c.mode == FakeSession::Mode::NoSession ? 0 : 1) << c.reason;
    }
    std::string why;
    EXPECT_FALSE(password::LockOffered(&why));
    EXPECT_EQ(why, "the login manager knows no session of this program");
    session.mode = FakeSession::Mode::Never;
    EXPECT_TRUE(password::LockOffered(&why)) << why;
    // swaylock never sets the hint, so sway is told no however logind answers.
    setenv("XDG_CURRENT_DESKTOP", "foo:SWAY", 1);
    EXPECT_FALSE(password::LockOffered(&why));
    EXPECT_EQ(why, "swaylock does not tell the session when it has locked the screen");
}

TEST_F(LockTest, NoLogindOnTheBusAndNoBusAtAllAreToldApart) {
    const char *noLogin = "no login manager answers on the system bus to lock the session";
    password::LockResult result = Lock(700);
    EXPECT_EQ(result.outcome, LockOutcome::NoBus);
    EXPECT_EQ(result.reason, noLogin);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir + "/nothing").c_str(), 1);
    result = Lock(700);
    EXPECT_EQ(result.outcome, LockOutcome::NoBus);
    std::string why;
    EXPECT_FALSE(password::LockOffered(&why));
    EXPECT_EQ(why, "no login manager answers on the system bus");
}

TEST_F(LockTest, AnEndingRunStopsTheWaitAtOnce) {
    session.mode = FakeSession::Mode::Never;
    ServeLogind();
    auto start = FakeSession::Now();
    password::LockResult result = password::LockSession(5000, [] { return false; });
    EXPECT_EQ(result.outcome, LockOutcome::Abandoned);
    EXPECT_LT(FakeSession::Now() - start, 1000);
}

// The program's own path with the real library: two keys 50 ms apart ask
// logind once, a refusal keeps the window and puts the reason on it.
class VerifierHostTest : public LockTest {
  protected:
    void SetUp() override {
        LockTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        host.SetUpForTest();
    }
    void TearDown() override {
        host.TearDownForTest();
        LockTest::TearDown();
    }
    struct Host : HostTest {
        void TestBody() override {}
        void SetUpForTest() { SetUp(); }
        void TearDownForTest() { TearDown(); }
        using HostTest::ScriptIdle;
        using HostTest::TurnPasswordOn;
    } host;
};

TEST_F(VerifierHostTest, KeysCloseOnlyOnceTheLockIsUpAndARefusalIsAskedOnce) {
    ServeLogind();
    password::RegisterLibrary();
    host.TurnPasswordOn();

    // Refused: the second key, 50 ms later, asks nothing.
    session.mode = FakeSession::Mode::Refuse;
    bool noticeShown = false;
    host.ScriptIdle({[] { layer::InjectKey('A', true); },
                     [] {
                         layer::AdvanceTicks(50);
                         layer::InjectKey('B', true);
                     },
                     [&] {
                         HWND notice = password::LockNoticeWindow();
                         char text[256] = "";
                         if (notice && GetParent(notice) == HostState.window && IsWindowVisible(notice))
                             GetWindowTextA(notice, text, sizeof text);
                         noticeShown = std::string(text).find("The saver stays: the login manager refused") == 0;
                     }});
    RunSaverWindow(nullptr);
    EXPECT_EQ(session.locks, 1);
    EXPECT_EQ(HostState.closing, 0);
    EXPECT_TRUE(noticeShown) << "the reason must show on the saver";

    // Locked after 200 ms: one key closes the run with 0.
    host.SetUpForTest();
    password::RegisterLibrary();
    host.TurnPasswordOn();
    session.mode = FakeSession::Mode::LockAfter;
    session.delayMs = 200;
    session.locks = 0;
    host.ScriptIdle({[] { layer::InjectKey('A', true); }});
    EXPECT_EQ(RunSaverWindow(nullptr), 0);
    EXPECT_EQ(session.locks, 1);
    EXPECT_EQ(HostState.closing, 1);
    EXPECT_TRUE(session.locked);
}

}  // namespace
