// The status bar's lock indicators against a real X server of their own:
// locks switched on there light the indicators.
#include <gtest/gtest.h>

#include <QLabel>
#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "commands/lumadrift_doc.h"
#include "ui/key_locks.h"
#include "ui/main_frame.h"

#ifdef LUMADRIFT_HAVE_X11
// After every Qt header: Xlib's macros (None, FocusOut ...) are Qt's names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#endif

namespace lumadrift {
namespace {

#ifdef LUMADRIFT_HAVE_X11

// Xvfb on a display number of its own. Numbers from 0 up are what every
// other X server on the machine takes first, so a high one is tried.
class PrivateXServer {
public:
    PrivateXServer()
    {
        for (int attempt = 0; attempt < 5 && display_.empty(); ++attempt)
            Start(200 + (::getpid() * 7 + attempt * 131) % 700);
    }
    ~PrivateXServer() { Stop(); }
    const std::string& display() const { return display_; }

private:
    void Start(int number)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        const std::string name = ":" + std::to_string(number);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            if (!::freopen("/dev/null", "w", stderr)) {}
            ::execlp("Xvfb", "Xvfb", name.c_str(), "-displayfd", fd.c_str(), "-nolisten", "tcp",
                     "-screen", "0", "64x64x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        // The server writes its number and a line end once it takes
        // connections (closing the pipe before the line end kills it); a
        // server that cannot start closes the pipe without a word.
        std::string said;
        char c = 0;
        while (pid_ > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
            said += c;
        ::close(fds[0]);
        if (c == '\n' && !said.empty())
            display_ = name;
        else
            Stop();
    }
    void Stop()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

    pid_t pid_ = -1;
    std::string display_;
};

TEST(KeyLocks, IndicatorsFollowTheLocksOfAnXServer)
{
    PrivateXServer server;
    if (server.display().empty())
        GTEST_SKIP() << "Xvfb could not be started (scripts/install-deps installs it)";
    Display* dpy = XOpenDisplay(server.display().c_str());
    ASSERT_NE(dpy, nullptr);
    auto lock = [dpy](unsigned int mods, unsigned int on) {
        XkbLockModifiers(dpy, XkbUseCoreKbd, mods, on);
        XSync(dpy, False);
        return ReadX11KeyLocks(dpy);
    };
    KeyLocks k = lock(LockMask | Mod2Mask, 0);
    ASSERT_TRUE(k.known);
    EXPECT_FALSE(k.caps || k.num || k.scroll || k.kana);
    k = lock(LockMask, LockMask);
    EXPECT_TRUE(k.caps);
    EXPECT_FALSE(k.num);
    k = lock(Mod2Mask, Mod2Mask);  // Num Lock in the server's keymap
    EXPECT_TRUE(k.caps);
    EXPECT_TRUE(k.num);

    DocEnvironment env;
    env.layoutState = -1;
    CLumadriftDoc doc(env);
    FramePlacement placement;
    placement.layoutState = 0;
    CMainFrame frame(doc, placement);
    // Offscreen the platform tells nothing: grey.
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(frame.lockIndicator(i)->isEnabled()) << i;
    frame.ShowKeyLocks(k);
    const bool lit[4] = {false, true, true, false};  // ｶﾅ, CAP, NUM, SCRL
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(frame.lockIndicator(i)->isEnabled(), lit[i]) << i;
    XCloseDisplay(dpy);
}

#endif

}  // namespace
}  // namespace lumadrift
