// qal_test_driver: the Windows-side half of the end-to-end tests.
//
// It starts a program with an exact raw command line (a command line built on
// the Linux side would be re-quoted by Wine), answers the message boxes the
// program shows, pokes its windows, records what it saw as JSON and returns.
//
//   qal_test_driver run (--cmdline TEXT | --cmdline-file UTF8FILE)
//       [--cwd DIR] [--timeout MS] [--report FILE]
//       [--answer BUTTON]...            answer boxes in order (IDOK, IDCANCEL,
//                                       IDYES, IDNO, or a number); boxes past
//                                       the list are left open and reported
//       [--box-delay MS]                wait before answering (default 300)
//       [--on-window CLASS:MSG:WPARAM:LPARAM[:DELAY]]...  post once to the
//                                       first visible top-level window of CLASS
//       [--dump-on CLASS[:DELAY]]...    record the program's windows once a
//                                       visible window of CLASS has shown
//       [--dump-on-box]                 record the windows whenever a box shows
//       [--kill-after MS]               end the program MS after start (not a
//                                       failure; reported as "killed")
//       [--follow EXE]...               also wait (within the timeout) for the
//                                       processes of that executable name that
//                                       show up while the program runs or just
//                                       after; report their exit codes and the
//                                       classes of their visible windows
//       [--debug-output]                record what any program of the prefix
//                                       tells a debugger while this one runs
//                                       (OutputDebugString), as "debug_output"
//
//   qal_test_driver trust-root CERT.der
//       adds a certificate authority to the current user's "Root" store of
//       the prefix it runs in (only ever a test's own prefix)
//
// The exit status is 0 when the report was written (the certificate was
// added), 2 on bad arguments and 3 when the program could not be started
// (the certificate could not be added).
#include <windows.h>
#include <tlhelp32.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(const std::string& text)
{
    if (text.empty())
        return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], size);
    return out;
}

std::string Json(const std::wstring& text)
{
    std::string in = ToUtf8(text), out = "\"";
    for (unsigned char c : in) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += (char)c;
            }
        }
    }
    return out + "\"";
}

std::wstring WindowText(HWND window)
{
    int length = GetWindowTextLengthW(window);
    std::wstring text(length + 1, L'\0');
    int got = GetWindowTextW(window, &text[0], length + 1);
    text.resize(got > 0 ? got : 0);
    return text;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return name;
}

std::string RectJson(const RECT& r)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
    return buf;
}

std::string Hex(unsigned long long v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "\"0x%llx\"", v);
    return buf;
}

struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindowOfProcess(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->pid)
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindowsOf(DWORD pid)
{
    WindowSearch search{pid, {}};
    EnumWindows(CollectWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string DescribeChild(HWND child, HWND top)
{
    RECT screen{};
    GetWindowRect(child, &screen);
    RECT local = screen;
    MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&local), 2);
    std::string s = "{\"hwnd\":" + Hex((ULONG_PTR)child);
    s += ",\"class\":" + Json(ClassOf(child));
    s += ",\"parent_class\":" + Json(ClassOf(GetParent(child)));
    s += ",\"id\":" + std::to_string((long long)GetDlgCtrlID(child));
    s += ",\"style\":" + Hex((DWORD)GetWindowLongW(child, GWL_STYLE));
    s += ",\"exstyle\":" + Hex((DWORD)GetWindowLongW(child, GWL_EXSTYLE));
    s += ",\"visible\":" + std::string(IsWindowVisible(child) ? "true" : "false");
    s += ",\"rect\":" + RectJson(screen);
    s += ",\"client_rect\":" + RectJson(local);
    return s + "}";
}

struct ChildCollection {
    HWND top;
    std::string out;
    bool first;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM param)
{
    auto* c = reinterpret_cast<ChildCollection*>(param);
    if (!c->first)
        c->out += ",";
    c->first = false;
    c->out += DescribeChild(child, c->top);
    return TRUE;
}

std::string DescribeWindow(HWND window)
{
    RECT rect{}, client{};
    GetWindowRect(window, &rect);
    GetClientRect(window, &client);
    HWND owner = GetWindow(window, GW_OWNER);
    std::string s = "{\"hwnd\":" + Hex((ULONG_PTR)window);
    s += ",\"class\":" + Json(ClassOf(window));
    s += ",\"title\":" + Json(WindowText(window));
    s += ",\"style\":" + Hex((DWORD)GetWindowLongW(window, GWL_STYLE));
    s += ",\"exstyle\":" + Hex((DWORD)GetWindowLongW(window, GWL_EXSTYLE));
    s += ",\"visible\":" + std::string(IsWindowVisible(window) ? "true" : "false");
    s += ",\"iconic\":" + std::string(IsIconic(window) ? "true" : "false");
    s += ",\"rect\":" + RectJson(rect);
    s += ",\"client\":" + RectJson(client);
    s += ",\"owner\":" + Hex((ULONG_PTR)owner);
    s += ",\"owner_class\":" + Json(owner ? ClassOf(owner) : std::wstring());
    s += ",\"children\":[";
    ChildCollection collect{window, {}, true};
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&collect));
    s += collect.out + "]";
    return s + "}";
}

std::string DumpWindows(DWORD pid, const std::wstring& trigger)
{
    std::string s = "{\"trigger\":" + Json(trigger) + ",\"windows\":[";
    bool first = true;
    for (HWND window : TopLevelWindowsOf(pid)) {
        if (!first)
            s += ",";
        first = false;
        s += DescribeWindow(window);
    }
    return s + "]}";
}

HWND FindVisibleWindowOfClass(DWORD pid, const std::wstring& className)
{
    for (HWND window : TopLevelWindowsOf(pid))
        if (IsWindowVisible(window) && ClassOf(window) == className)
            return window;
    return nullptr;
}

int ParseButton(const std::wstring& name)
{
    if (name == L"IDOK") return IDOK;
    if (name == L"IDCANCEL") return IDCANCEL;
    if (name == L"IDYES") return IDYES;
    if (name == L"IDNO") return IDNO;
    if (name == L"IDABORT") return IDABORT;
    if (name == L"IDRETRY") return IDRETRY;
    if (name == L"IDIGNORE") return IDIGNORE;
    return _wtoi(name.c_str());
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator)
{
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start));
        if (at == std::wstring::npos)
            return parts;
        start = at + 1;
    }
}

struct WindowAction {
    std::wstring className;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    DWORD delay = 0;
    DWORD seenAt = 0;
    bool seen = false;
    bool done = false;
};

struct DumpRequest {
    std::wstring className;
    DWORD delay = 0;
    DWORD seenAt = 0;
    bool seen = false;
    bool done = false;
};

struct BoxRecord {
    HWND window;
    DWORD seenAt;
    bool answered;
    std::string json;
};

bool ReadFileUtf8(const std::wstring& path, std::string& out)
{
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return false;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    std::fclose(f);
    if (out.size() >= 3 && (unsigned char)out[0] == 0xEF && (unsigned char)out[1] == 0xBB && (unsigned char)out[2] == 0xBF)
        out.erase(0, 3);
    return true;
}

struct FollowedProcess {
    std::wstring exe;
    DWORD pid = 0;
    HANDLE handle = nullptr;
    bool ended = false;
    DWORD exitCode = 0;
    std::vector<std::wstring> windowClasses;
};

// Takes what programs send to a debugger through the system-wide buffer
// that debug monitors use, so a test can say why a program failed; the
// lines of every process come here, each with its process id.
class DebugOutputListener {
public:
    bool Start()
    {
        SECURITY_ATTRIBUTES open{sizeof open, nullptr, FALSE};
        bufferReady = CreateEventW(&open, FALSE, FALSE, L"DBWIN_BUFFER_READY");
        dataReady = CreateEventW(&open, FALSE, FALSE, L"DBWIN_DATA_READY");
        mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, &open, PAGE_READWRITE, 0, kBufferSize, L"DBWIN_BUFFER");
        view = mapping ? static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kBufferSize)) : nullptr;
        stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!bufferReady || !dataReady || !view || !stop)
            return false;
        thread = CreateThread(nullptr, 0, Listen, this, 0, nullptr);
        return thread != nullptr;
    }
    ~DebugOutputListener()
    {
        for (HANDLE h : {bufferReady, dataReady, mapping, stop, thread})
            if (h)
                CloseHandle(h);
        if (view)
            UnmapViewOfFile(view);
    }
    // The lines taken so far, the thread stopped.
    std::vector<std::wstring> Finish()
    {
        if (thread) {
            SetEvent(stop);
            WaitForSingleObject(thread, 5000);
        }
        return lines;
    }

private:
    static const DWORD kBufferSize = 4096;

    static DWORD WINAPI Listen(LPVOID parameter)
    {
        auto* self = static_cast<DebugOutputListener*>(parameter);
        HANDLE waits[2] = {self->dataReady, self->stop};
        for (;;) {
            SetEvent(self->bufferReady);
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
                return 0;
            DWORD pid;
            std::memcpy(&pid, self->view, sizeof pid);
            const char* text = self->view + sizeof pid;
            int length = int(strnlen(text, kBufferSize - sizeof pid));
            while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r'))
                --length;
            std::wstring line = std::to_wstring((unsigned long long)pid) + L": ";
            int wide = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
            size_t at = line.size();
            line.resize(at + wide);
            MultiByteToWideChar(CP_ACP, 0, text, length, &line[at], wide);
            self->lines.push_back(line);
        }
    }

    HANDLE bufferReady = nullptr, dataReady = nullptr, mapping = nullptr, stop = nullptr, thread = nullptr;
    const char* view = nullptr;
    std::vector<std::wstring> lines;
};

// Starts following every new process whose executable is one of names.
void FindProcessesToFollow(const std::vector<std::wstring>& names, std::vector<FollowedProcess>& followed)
{
    if (names.empty())
        return;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        bool wanted = false;
        for (const std::wstring& name : names)
            wanted = wanted || _wcsicmp(entry.szExeFile, name.c_str()) == 0;
        bool known = false;
        for (const FollowedProcess& f : followed)
            known = known || f.pid == entry.th32ProcessID;
        if (!wanted || known)
            continue;
        HANDLE handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID);
        if (!handle)
            continue;
        FollowedProcess f;
        f.exe = entry.szExeFile;
        f.pid = entry.th32ProcessID;
        f.handle = handle;
        followed.push_back(f);
    }
    CloseHandle(snapshot);
}

void WatchFollowed(std::vector<FollowedProcess>& followed)
{
    for (FollowedProcess& f : followed) {
        if (f.ended)
            continue;
        for (HWND window : TopLevelWindowsOf(f.pid)) {
            if (!IsWindowVisible(window))
                continue;
            std::wstring cls = ClassOf(window);
            bool known = false;
            for (const std::wstring& c : f.windowClasses)
                known = known || c == cls;
            if (!known)
                f.windowClasses.push_back(cls);
        }
        if (WaitForSingleObject(f.handle, 0) == WAIT_OBJECT_0) {
            GetExitCodeProcess(f.handle, &f.exitCode);
            f.ended = true;
        }
    }
}

int Usage()
{
    std::fprintf(stderr, "usage: qal_test_driver run (--cmdline TEXT | --cmdline-file FILE) [options]\n");
    return 2;
}

int Run(int argc, wchar_t** argv)
{
    std::wstring commandLine, cwd, reportPath;
    DWORD timeout = 30000, boxDelay = 300, killAfter = 0;
    bool dumpOnBox = false;
    std::vector<int> answers;
    std::vector<WindowAction> actions;
    std::vector<DumpRequest> dumps;
    std::vector<std::wstring> followNames;
    bool debugOutput = false;

    for (int i = 2; i < argc; ++i) {
        std::wstring arg = argv[i];
        auto value = [&]() -> std::wstring { return i + 1 < argc ? argv[++i] : L""; };
        if (arg == L"--cmdline") {
            commandLine = value();
        } else if (arg == L"--cmdline-file") {
            std::string bytes;
            if (!ReadFileUtf8(value(), bytes))
                return Usage();
            commandLine = FromUtf8(bytes);
        } else if (arg == L"--cwd") {
            cwd = value();
        } else if (arg == L"--timeout") {
            timeout = (DWORD)_wtoi(value().c_str());
        } else if (arg == L"--report") {
            reportPath = value();
        } else if (arg == L"--answer") {
            answers.push_back(ParseButton(value()));
        } else if (arg == L"--box-delay") {
            boxDelay = (DWORD)_wtoi(value().c_str());
        } else if (arg == L"--kill-after") {
            killAfter = (DWORD)_wtoi(value().c_str());
        } else if (arg == L"--debug-output") {
            debugOutput = true;
        } else if (arg == L"--dump-on-box") {
            dumpOnBox = true;
        } else if (arg == L"--on-window") {
            auto parts = Split(value(), L':');
            if (parts.size() < 4)
                return Usage();
            WindowAction a;
            a.className = parts[0];
            a.message = (UINT)wcstoul(parts[1].c_str(), nullptr, 0);
            a.wParam = (WPARAM)wcstoull(parts[2].c_str(), nullptr, 0);
            a.lParam = (LPARAM)wcstoll(parts[3].c_str(), nullptr, 0);
            a.delay = parts.size() > 4 ? (DWORD)_wtoi(parts[4].c_str()) : 0;
            actions.push_back(a);
        } else if (arg == L"--follow") {
            followNames.push_back(value());
        } else if (arg == L"--dump-on") {
            auto parts = Split(value(), L':');
            DumpRequest d;
            d.className = parts[0];
            d.delay = parts.size() > 1 ? (DWORD)_wtoi(parts[1].c_str()) : 0;
            dumps.push_back(d);
        } else {
            return Usage();
        }
    }
    if (commandLine.empty())
        return Usage();

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    std::string report = "{";
    // Tells the caller that Wine did start this driver: a run that never got
    // here observed nothing and may be started again.
    if (!reportPath.empty()) {
        if (FILE* started = _wfopen((reportPath + L".started").c_str(), L"wb"))
            std::fclose(started);
    }
    DebugOutputListener listener;
    if (debugOutput && !listener.Start())
        std::fprintf(stderr, "qal_test_driver: cannot listen to debug output (error %lu)\n", GetLastError());
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &startup, &process)) {
        std::fprintf(stderr, "qal_test_driver: cannot start program (error %lu)\n", GetLastError());
        return 3;
    }

    const DWORD started = GetTickCount();
    std::vector<BoxRecord> boxes;
    std::vector<std::string> dumpJson;
    size_t nextAnswer = 0;
    bool timedOut = false, killed = false;
    std::vector<FollowedProcess> followed;

    for (;;) {
        DWORD now = GetTickCount();
        FindProcessesToFollow(followNames, followed);
        WatchFollowed(followed);
        if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0)
            break;
        now = GetTickCount();
        if (killAfter && now - started >= killAfter) {
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 5000);
            killed = true;
            break;
        }
        if (now - started >= timeout) {
            if (dumpOnBox || !dumps.empty())
                dumpJson.push_back(DumpWindows(process.dwProcessId, L"timeout"));
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 5000);
            timedOut = true;
            break;
        }

        for (HWND window : TopLevelWindowsOf(process.dwProcessId)) {
            if (ClassOf(window) != L"#32770" || !IsWindowVisible(window))
                continue;
            bool known = false;
            for (auto& b : boxes)
                known = known || b.window == window;
            if (!known)
                boxes.push_back({window, now, false, {}});
        }
        for (auto& box : boxes) {
            if (box.answered || now - box.seenAt < boxDelay || !IsWindow(box.window))
                continue;
            HWND owner = GetWindow(box.window, GW_OWNER);
            std::string json = "{\"caption\":" + Json(WindowText(box.window));
            json += ",\"text\":" + Json(WindowText(GetDlgItem(box.window, 0xFFFF)));
            json += ",\"owner\":" + Hex((ULONG_PTR)owner);
            json += ",\"owner_class\":" + Json(owner ? ClassOf(owner) : std::wstring());
            json += ",\"has_cancel\":" + std::string(GetDlgItem(box.window, IDCANCEL) ? "true" : "false");
            if (dumpOnBox)
                dumpJson.push_back(DumpWindows(process.dwProcessId, L"box"));
            if (nextAnswer < answers.size()) {
                int button = answers[nextAnswer++];
                json += ",\"answer\":" + std::to_string(button);
                PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(box.window, button)));
            } else {
                json += ",\"answer\":null";
            }
            box.json = json + "}";
            box.answered = true;
        }
        for (auto& a : actions) {
            if (a.done)
                continue;
            HWND target = FindVisibleWindowOfClass(process.dwProcessId, a.className);
            if (!target)
                continue;
            if (!a.seen) {
                a.seen = true;
                a.seenAt = now;
            }
            if (now - a.seenAt >= a.delay) {
                PostMessageW(target, a.message, a.wParam, a.lParam);
                a.done = true;
            }
        }
        for (auto& d : dumps) {
            if (d.done || !FindVisibleWindowOfClass(process.dwProcessId, d.className))
                continue;
            if (!d.seen) {
                d.seen = true;
                d.seenAt = now;
            }
            if (now - d.seenAt >= d.delay) {
                dumpJson.push_back(DumpWindows(process.dwProcessId, d.className));
                d.done = true;
            }
        }
    }

    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    // What the program started may still be starting up, then runs on.
    bool followTimedOut = false;
    if (!followNames.empty()) {
        const DWORD ended = GetTickCount();
        for (;;) {
            FindProcessesToFollow(followNames, followed);
            WatchFollowed(followed);
            bool running = false;
            for (const FollowedProcess& f : followed)
                running = running || !f.ended;
            DWORD now = GetTickCount();
            if (!running && (!followed.empty() || now - ended >= 3000))
                break;
            if (now - started >= timeout) {
                followTimedOut = true;
                for (const FollowedProcess& f : followed) {
                    if (!f.ended)
                        TerminateProcess(f.handle, 0xDEAD);
                }
                break;
            }
            Sleep(50);
        }
    }

    report += "\"exit_code\":" + std::to_string((unsigned long long)exitCode);
    report += ",\"timed_out\":" + std::string(timedOut ? "true" : "false");
    report += ",\"killed\":" + std::string(killed ? "true" : "false");
    report += ",\"elapsed_ms\":" + std::to_string((unsigned long long)(GetTickCount() - started));
    report += ",\"boxes\":[";
    bool first = true;
    for (auto& b : boxes) {
        if (b.json.empty())
            continue;
        if (!first)
            report += ",";
        first = false;
        report += b.json;
    }
    report += "],\"followed\":[";
    for (size_t i = 0; i < followed.size(); ++i) {
        const FollowedProcess& f = followed[i];
        report += (i ? ",{" : "{");
        report += "\"exe\":" + Json(f.exe);
        report += ",\"ended\":" + std::string(f.ended ? "true" : "false");
        report += ",\"exit_code\":" + std::to_string((unsigned long long)f.exitCode);
        report += ",\"windows\":[";
        for (size_t c = 0; c < f.windowClasses.size(); ++c)
            report += (c ? "," : "") + Json(f.windowClasses[c]);
        report += "]}";
        CloseHandle(f.handle);
    }
    report += "],\"follow_timed_out\":" + std::string(followTimedOut ? "true" : "false");
    report += ",\"debug_output\":[";
    std::vector<std::wstring> debugLines = listener.Finish();
    for (size_t i = 0; i < debugLines.size(); ++i)
        report += (i ? "," : "") + Json(debugLines[i]);
    report += "]";
    report += ",\"dumps\":[";
    for (size_t i = 0; i < dumpJson.size(); ++i)
        report += (i ? "," : "") + dumpJson[i];
    report += "]}\n";

    if (reportPath.empty()) {
        std::fwrite(report.data(), 1, report.size(), stdout);
    } else {
        FILE* f = _wfopen(reportPath.c_str(), L"wb");
        if (!f)
            return 3;
        std::fwrite(report.data(), 1, report.size(), f);
        std::fclose(f);
    }
    return 0;
}

int TrustRoot(const wchar_t* certificatePath)
{
    FILE* f = _wfopen(certificatePath, L"rb");
    if (!f)
        return 3;
    std::vector<unsigned char> der;
    unsigned char block[4096];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, f)) > 0)
        der.insert(der.end(), block, block + got);
    std::fclose(f);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (!store)
        return 3;
    BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), DWORD(der.size()),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(store, 0);
    return added ? 0 : 3;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 2 && std::wstring(argv[1]) == L"run")
        return Run(argc, argv);
    if (argc == 3 && std::wstring(argv[1]) == L"trust-root")
        return TrustRoot(argv[2]);
    return Usage();
}
