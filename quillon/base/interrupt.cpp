#include "quillon/base/interrupt.h"

#include <csignal>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace quillon {

namespace {

// Written only while no interrupt can use it: armed is cleared first.
char g_path[4096];
volatile std::sig_atomic_t g_armed = 0;
bool g_installed = false;

#ifdef _WIN32

// Runs on a thread of its own while the file is still open in the main
// thread; where the system refuses to delete an open file, the file stays
// under its temporary name, never as a member file of its own name.
BOOL WINAPI OnConsoleEvent(DWORD) {
    if (g_armed) ::DeleteFileA(g_path);
    return FALSE;  // the default handler ends the process
}

void Install() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

#else

extern "C" void OnSignal(int signal) {
    if (g_armed) ::unlink(g_path);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// A signal that the process was started ignoring (nohup, a background job of
// a shell) stays ignored.
void Install() {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(s, &action, nullptr);
    }
}

#endif

}  // namespace

void RemoveOnInterrupt(const std::string& path) {
    g_armed = 0;
    if (path.empty() || path.size() >= sizeof g_path) return;
    if (!g_installed) {
        Install();
        g_installed = true;
    }
    std::memcpy(g_path, path.c_str(), path.size() + 1);
    g_armed = 1;
}

}  // namespace quillon
