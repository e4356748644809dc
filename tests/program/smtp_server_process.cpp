#include "smtp_server_process.h"

#include <winsock2.h>
#include <tlhelp32.h>

#include <vector>

#include "program_harness.h"
#include "standins/telvex/telvex_ids.h"

int LaunchCommand(const std::string &line, PROCESS_INFORMATION *process, HANDLE input) {
    std::vector<char> command(line.begin(), line.end());
    command.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (input) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input;
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    return CreateProcessA(nullptr, command.data(), nullptr, nullptr, input != nullptr, 0, nullptr,
                          nullptr, &startup, process) != 0;
}

// Runs a program of the library's folder to its end: its exit code, or -1.
static int RunTool(const std::string &arguments, const char *program, HANDLE input) {
    PROCESS_INFORMATION process = {};
    if (!LaunchCommand("\"" + ProductFile("DLL32\\") + program + "\" " + arguments, &process,
                       input)) {
        return -1;
    }
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return (int)code;
}

int RunLibraryTool(const std::string &arguments, const char *program) {
    return RunTool(arguments, program, nullptr);
}

int RunLibraryToolWithInput(const std::string &arguments, const std::string &text) {
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    DWORD written = 0;
    if (!CreatePipe(&read, &write, &inherited, 0)) {
        return -1;
    }
    SetHandleInformation(write, HANDLE_FLAG_INHERIT, 0);
    WriteFile(write, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(write);
    int code = RunTool(arguments, "TelvexMail.exe", read);
    CloseHandle(read);
    return code;
}

int FreeLoopbackPort() {
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address, port = 0;
    if (bind(probe, (sockaddr *)&address, sizeof address) == 0 &&
        getsockname(probe, (sockaddr *)&address, &length) == 0) {
        port = ntohs(address.sin_port);
    }
    closesocket(probe);
    return port;
}

static int Exists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string UnixPath(const std::string &path) {
    typedef char *(CDECL * UnixName)(const WCHAR *);
    UnixName unixName =
        (UnixName)(void *)GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name");
    WCHAR wide[MAX_PATH];
    char *native = unixName && MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH)
                       ? unixName(wide)
                       : nullptr;
    std::string name = native ? native : "";
    if (native) {
        HeapFree(GetProcessHeap(), 0, native);
    }
    return name;
}

int StartHostScript(const std::string &script, const std::string &arguments,
                    const std::string &done, DWORD timeout) {
    PROCESS_INFORMATION process = {};
    if (!LaunchCommand("Z:\\usr\\bin\\python3 " + script + " " + arguments, &process)) {
        return 0;
    }
    // Wine leaves no handles of ours for a host program, only stale values:
    // closing them closed a file a test held (32-bit build).
    return WaitUntil([&] { return Exists(done) != 0; }, timeout);
}

int StartSmtpServer(const std::string &folder, int port, const std::string &options) {
    std::string native = UnixPath(folder);
    return !native.empty() && // the server runs natively, beside Wine
           StartHostScript(SMTP_SERVER_SCRIPT, native + " " + std::to_string(port) + " " + options,
                           folder + "ready");
}

int StopSmtpServer(const std::string &folder) {
    if (!Exists(folder + "ready")) {
        return 1;
    }
    WriteFileText(folder + "stop", "");
    int stopped = WaitUntil([&] { return !Exists(folder + "ready"); }, 30000);
    DeleteFileA((folder + "stop").c_str());
    return stopped;
}

int DeliveryAgentRunning() {
    HANDLE agent = OpenMutexA(SYNCHRONIZE, FALSE, TELVEX_AGENT_MUTEX);
    if (agent) {
        CloseHandle(agent);
        return 1;
    }
    // It lets its mutex go before it looks at the outboxes a last time.
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int running = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && !running;
         more = Process32Next(snapshot, &entry)) {
        running = _stricmp(entry.szExeFile, TELVEX_AGENT_FILE) == 0;
    }
    CloseHandle(snapshot);
    return running;
}
