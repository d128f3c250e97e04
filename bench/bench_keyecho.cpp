// Key echo of the real program on an X display: keys typed into the editor, timed until they show.
//
//   bench_keyecho [keys] [rounds] [program] [flooding Lisp]
//   (DISPLAY: a display with XTEST and DAMAGE, e.g. Xvfb; the flooding Lisp is a command line,
//   by default yes with 79 x's, e.g. "/usr/bin/sbcl --eval \"(loop (print 'x))\"")
//
// Runs the program with an idle Lisp and with a Lisp that floods the console, in turns, each with
// a settings folder of its own. In each run it opens a new document, clicks into the editor and
// types letters through XTest, one at a time; a key counts as shown at the first damage of the
// window that lies in the editor's part of it and is wider than a caret. The console's own
// repaints (below the splitter) do not count. Prints median, p95 and worst per Lisp.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double NowMs() { return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count(); }

// The editor's part of the frame: below the menu, tool and tab bars, above the splitter. The
// central area starts about 51 pixels down and the splitter 400 pixels below that, so the editor
// ends near 448 and the console starts near 454. A horizontal scroll repaints the editor down to
// its bottom edge; a bound above it would miss that repaint and time the next caret blink instead.
constexpr int kEditorTop = 60;
constexpr int kEditorBottom = 451;

Window FindByName(Display *d, Window w, const char *name)
{
    char *found = nullptr;
    XWindowAttributes a;
    if (XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable && XFetchName(d, w, &found) && found) {
        const bool hit = std::strcmp(found, name) == 0;
        XFree(found);
        if (hit)
            return w;
    }
    Window root, parent, *kids = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, w, &root, &parent, &kids, &n))
        return 0;
    Window hit = 0;
    for (unsigned i = 0; i < n && !hit; ++i)
        hit = FindByName(d, kids[i], name);
    if (kids)
        XFree(kids);
    return hit;
}

// Waits up to ms for damage in the editor's part wider than a caret; its time, or -1.
double WaitEditorDamage(Display *d, int damageEvent, double ms)
{
    const double end = NowMs() + ms;
    for (;;) {
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type != damageEvent + XDamageNotify)
                continue;
            const auto &de = reinterpret_cast<const XDamageNotifyEvent &>(e);
            const int top = de.area.y, bottom = de.area.y + de.area.height;
            if (de.area.width > 3 && top >= kEditorTop && bottom <= kEditorBottom)
                return NowMs();
        }
        const double left = end - NowMs();
        if (left <= 0)
            return -1;
        pollfd p{ConnectionNumber(d), POLLIN, 0};
        ::poll(&p, 1, std::max(1, int(left)));
    }
}

void Drain(Display *d)
{
    XSync(d, False);
    while (XPending(d)) {
        XEvent e;
        XNextEvent(d, &e);
    }
}

void Key(Display *d, KeySym sym, bool ctrl = false)
{
    const KeyCode code = XKeysymToKeycode(d, sym);
    const KeyCode control = XKeysymToKeycode(d, XK_Control_L);
    if (ctrl)
        XTestFakeKeyEvent(d, control, True, 0);
    XTestFakeKeyEvent(d, code, True, 0);
    XTestFakeKeyEvent(d, code, False, 0);
    if (ctrl)
        XTestFakeKeyEvent(d, control, False, 0);
    XFlush(d);
}

struct Result
{
    std::vector<double> delays;
    int lost = 0;
};

// One run of the program with the given Lisp command line.
Result Run(Display *d, const std::string &program, const std::string &lisp, int keys)
{
    Result result;
    const std::filesystem::path home = std::filesystem::temp_directory_path()
        / ("talvex-keyecho-" + std::to_string(::getpid()));
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home / "config/Quenmark");
    {
        std::ofstream reg(home / "config/Quenmark/Talvex.reg");
        std::string escaped;
        for (char c : lisp) {
            if (c == '\\' || c == '"')
                escaped += '\\';
            escaped += c;
        }
        reg << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quenmark\\Talvex\\Settings]\n\"Lisp\"=\"" << escaped
            << "\"\n";
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (home / "state").c_str(), 1);
        ::execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    Window w = 0;
    for (int i = 0; i < 200 && !w; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        w = FindByName(d, DefaultRootWindow(d), "Talvex");
    }
    if (!w) {
        std::fprintf(stderr, "the program's window did not show\n");
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return result;
    }
    int damageEvent = 0, damageError = 0;
    XDamageQueryExtension(d, &damageEvent, &damageError);
    XSetInputFocus(d, w, RevertToParent, CurrentTime);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Key(d, XK_n, true);   // a new document: the editor
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    XTestFakeMotionEvent(d, -1, 300, 200, 0);
    XTestFakeButtonEvent(d, 1, True, 0);
    XTestFakeButtonEvent(d, 1, False, 0);
    XFlush(d);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));   // the flood under way

    const Damage damage = XDamageCreate(d, w, XDamageReportRawRectangles);
    for (int i = 0; i < keys; ++i) {
        Drain(d);
        const double start = NowMs();
        Key(d, XK_a + i % 26);
        const double shown = WaitEditorDamage(d, damageEvent, 1000);
        if (shown < 0)
            ++result.lost;
        else
            result.delays.push_back(shown - start);
        // Keys as a typist's come, at uneven intervals.
        std::this_thread::sleep_for(std::chrono::milliseconds(40 + (i * 37) % 60));
    }
    XDamageDestroy(d, damage);
    Drain(d);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    std::filesystem::remove_all(home);
    return result;
}

void Print(const char *what, std::vector<double> v, int lost)
{
    if (v.empty()) {
        std::printf("  %-34s no key shown\n", what);
        return;
    }
    std::sort(v.begin(), v.end());
    std::printf("  %-34s median %5.2f ms   p95 %5.2f ms   worst %5.2f ms   (%zu keys, %d not shown)\n", what,
                v[v.size() / 2], v[v.size() * 95 / 100], v.back(), v.size(), lost);
}

} // namespace

int main(int argc, char **argv)
{
    const int keys = argc > 1 ? std::atoi(argv[1]) : 150;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 2;
    Display *d = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (!d || !XTestQueryExtension(d, &event, &error, &major, &minor) || !XDamageQueryExtension(d, &event, &error)) {
        std::fprintf(stderr, "needs an X display with XTEST and DAMAGE\n");
        return 1;
    }
    const std::string program = argc > 3 ? argv[3] : TALVEX_BINARY_DIR "/talvex";
    const std::string flood = argc > 4 ? argv[4] : "/usr/bin/yes " + std::string(79, 'x');
    std::vector<double> idle, flooded;
    int idleLost = 0, floodLost = 0;
    for (int round = 0; round < rounds; ++round) {
        const Result a = Run(d, program, "/bin/cat", keys);
        idle.insert(idle.end(), a.delays.begin(), a.delays.end());
        idleLost += a.lost;
        const Result b = Run(d, program, flood, keys);
        flooded.insert(flooded.end(), b.delays.begin(), b.delays.end());
        floodLost += b.lost;
    }
    std::printf("key echo in the editor (%d rounds, interleaved):\n", rounds);
    Print("idle Lisp (cat)", idle, idleLost);
    Print("Lisp flooding the console", flooded, floodLost);
    XCloseDisplay(d);
    return 0;
}
