// holdtrace.exe DIR TEXT... -- PROGRAM: runs PROGRAM as a debugger would and
// holds it, exactly where it writes a trace line, for a Wine test to look at
// the screen in a state that would otherwise pass too quickly to catch.
//
// A program's OutputDebugStringA raises an event that a debugger receives;
// the program's thread waits until the debugger lets it go on. So the program
// stops at that line and nowhere else, whatever the machine's speed or load,
// and nothing is stopped with signals behind Wine's back.
//
// The TEXTs are held in turn: when the program writes a line that holds the
// k-th TEXT (counted from 1), this creates the file DIR\held<k> and lets the
// program go on once DIR\release<k> exists; a later TEXT is looked for only
// after that. Every other line passes at once. When the program ends, this
// ends with its exit code.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void Touch(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// The text of a debug string event, read from the program's memory.
std::string DebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
    const SIZE_T chars = info.nDebugStringLength;
    if (chars == 0 || chars > 65536) return {};
    std::string text;
    if (info.fUnicode) {
        std::vector<wchar_t> wide(chars);
        SIZE_T got = 0;
        if (!ReadProcessMemory(process, info.lpDebugStringData, wide.data(), chars * sizeof(wchar_t), &got)) return {};
        for (SIZE_T i = 0; i < got / sizeof(wchar_t) && wide[i] != 0; ++i)
            text.push_back(wide[i] < 0x80 ? static_cast<char>(wide[i]) : '?');
    } else {
        std::vector<char> narrow(chars);
        SIZE_T got = 0;
        if (!ReadProcessMemory(process, info.lpDebugStringData, narrow.data(), chars, &got)) return {};
        text.assign(narrow.data(), strnlen(narrow.data(), got));
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    int separator = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            separator = i;
            break;
        }
    }
    if (separator < 2 || separator + 1 >= argc) {
        std::fprintf(stderr, "usage: holdtrace DIR TEXT... -- PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<std::string> holds(argv + 2, argv + separator);
    std::string command;
    for (int i = separator + 1; i < argc; ++i) {
        if (!command.empty()) command += ' ';
        command += '"';
        command += argv[i];
        command += '"';
    }

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr,
                        &startup, &started)) {
        std::fprintf(stderr, "holdtrace: cannot start %s (error %lu)\n", command.c_str(), GetLastError());
        return 2;
    }
    CloseHandle(started.hThread);

    size_t next = 0;  // the hold looked for now
    for (;;) {
        DEBUG_EVENT event = {};
        if (!WaitForDebugEvent(&event, INFINITE)) {
            std::fprintf(stderr, "holdtrace: the debug events stopped (error %lu)\n", GetLastError());
            return 2;
        }
        DWORD answer = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile != nullptr) CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile != nullptr) CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT:
            // The loader's first breakpoint is ours to pass; every other
            // exception goes to the program's own handlers, as without us.
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                answer = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case OUTPUT_DEBUG_STRING_EVENT:
            if (next < holds.size() &&
                DebugString(started.hProcess, event.u.DebugString).find(holds[next]) != std::string::npos) {
                ++next;
                const std::string number = std::to_string(next);
                Touch(dir + "\\held" + number);
                while (!Exists(dir + "\\release" + number)) Sleep(10);
            }
            break;
        case EXIT_PROCESS_DEBUG_EVENT: {
            const DWORD code = event.u.ExitProcess.dwExitCode;
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
            CloseHandle(started.hProcess);
            // Wine hands the host only the low byte of an exit code: the
            // whole code is printed as well.
            std::printf("exit code %ld\n", static_cast<long>(static_cast<int32_t>(code)));
            std::fflush(stdout);
            return static_cast<int>(code);
        }
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, answer);
    }
}
