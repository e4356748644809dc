// Delivery of a queue of fax-sized messages by TelvexAgent.exe to a loopback
// SMTP server (the delivery tests' smtp_server.py): messages a second and the
// agent's peak memory, beside a plain SMTP copy of the same message files to
// the same server, made by a process of its own and measured the same way.
//
// DeliveryBench: the whole run. DeliveryBench copy PORT FOLDER: the plain
// copy of every .eml file in FOLDER, one connection each (as the agent makes).
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "abi/image_file_abi.h"
#include "bench_figure.h"
#include "delivery.h"
#include "message.h"
#include "program_harness.h"
#include "smtp_server_process.h"
#include "telvex_ids.h"

namespace {

const int MessageCount = 100, PageCount = 3;
const char *const Profile = "Bench Mail";
const char *const SenderAddress = "scan@varnel.example";
const char *const Gateway = "fax.test.example";

// ---- the plain copy ----

// Reads a reply up to its last line ("ddd text"): its code, 0 for none.
int Reply(SOCKET link) {
    char reply[1024];
    int used = 0;
    for (;;) {
        int got = recv(link, reply + used, (int)sizeof reply - 1 - used, 0);
        if (got <= 0) {
            return 0;
        }
        used += got;
        reply[used] = 0;
        // The last line starts after the last complete line before it.
        if (used >= 2 && reply[used - 2] == '\r' && reply[used - 1] == '\n') {
            const char *last = reply;
            for (const char *line = reply; line < reply + used - 2; line++) {
                if (line[0] == '\n') {
                    last = line + 1;
                }
            }
            if (strlen(last) >= 4 && last[3] == ' ') {
                return atoi(last);
            }
        }
        if (used == (int)sizeof reply - 1) {
            used = 0; // a long multi-line reply: only its end matters
        }
    }
}

int Send(SOCKET link, const char *bytes, int length) {
    while (length > 0) {
        int sent = send(link, bytes, length, 0);
        if (sent <= 0) {
            return 0;
        }
        bytes += sent;
        length -= sent;
    }
    return 1;
}

int Command(SOCKET link, const char *line) {
    return Send(link, line, lstrlenA(line)) ? Reply(link) : 0;
}

// One message file over one connection; the library's messages are base64
// and headers, with no line starting with a dot, so the bytes go as they are.
int CopyMessage(int port, const std::string &path) {
    static char chunk[64 * 1024];
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    SOCKET link = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons((u_short)port);
    int ok = connect(link, (sockaddr *)&address, sizeof address) == 0 && Reply(link) == 220 &&
             Command(link, "EHLO bench\r\n") == 250 &&
             Command(link, "MAIL FROM:<scan@varnel.example>\r\n") == 250 &&
             Command(link, "RCPT TO:<ada@example.com>\r\n") == 250 &&
             Command(link, "DATA\r\n") == 354;
    DWORD got = 0;
    while (ok && ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got) {
        ok = Send(link, chunk, (int)got);
    }
    ok = ok && Command(link, "\r\n.\r\n") == 250 && Command(link, "QUIT\r\n") == 221;
    closesocket(link);
    CloseHandle(file);
    return ok;
}

int CopyFolder(int port, const std::string &folder) {
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    std::vector<std::string> names = FilesMatching(folder + "*.eml");
    for (const std::string &name : names) {
        if (!CopyMessage(port, folder + name)) {
            printf("copy: %s was not taken\n", name.c_str());
            return 1;
        }
    }
    return (int)names.size() == MessageCount ? 0 : 1;
}

// ---- the queue ----

// A 1-bit text page as the fax job scans it: 200 dpi, Letter, lines of
// glyph-sized strokes between the margins (1 = white).
struct TextPage {
    LONG Width, Height;
    DWORD Stride;
    int Seed;
};

int WINAPI SupplyTextLine(void *source, BYTE *row, int line) {
    const TextPage *page = (const TextPage *)source;
    memset(row, 0xFF, page->Stride);
    int band = line % 40, textLine = line / 40;
    if (line < 150 || line >= page->Height - 150 || band < 8 || band >= 32) {
        return 0;
    }
    for (LONG x = 100; x < page->Width - 100; x++) {
        unsigned cell = (unsigned)(x / 18), column = (unsigned)(x % 18);
        unsigned hash = (cell * 2654435761u) ^ (textLine * 40503u) ^ (page->Seed * 977u);
        hash ^= hash >> 13;
        hash *= 0x5bd1e995u;
        int space = hash % 7 == 0;
        unsigned strokes = hash >> ((band - 8) / 4 * 5);
        if (!space && column < 14 && (strokes >> (column / 3)) & 1) {
            row[x / 8] &= (BYTE) ~(0x80 >> (x % 8));
        }
    }
    return 0;
}

// Writes the page as the fax job does (CCITT G4 TIFF); its size, 0 on failure.
DWORD WriteG4Page(WriteImageFileProc writeImage, const char *path, int seed) {
    TextPage page = {1700, 2200, ((1700 + 31) / 32) * 4, seed};
    struct {
        BITMAPINFOHEADER Info;
        RGBQUAD Palette[2];
    } header = {
        {sizeof(BITMAPINFOHEADER), page.Width, page.Height, 1, 1, BI_RGB, 0, 200, 200, 0, 0},
        {{0, 0, 0, 0}, {255, 255, 255, 0}}};
    HFILE file = _lcreat(path, 0);
    int result = writeImage(file, &header.Info, ImageFormatTiffG4, SupplyTextLine, &page);
    DWORD size = GetFileSize((HANDLE)(LONG_PTR)file, nullptr);
    _lclose(file);
    return result == ImageWritten ? size : 0;
}

// Queues MessageCount copies of one message of PageCount G4 pages in the
// outbox, each with its envelope: the message's size, 0 on failure.
DWORD QueueMessages(const std::string &outbox, DWORD *pageBytes) {
    HMODULE library = LoadLibraryA("accugnt5.dll");
    WriteImageFileProc writeImage = library ? (WriteImageFileProc)(void *)GetProcAddress(
                                                  library, MAKEINTRESOURCEA(WriteImageFileOrdinal))
                                            : nullptr;
    if (!writeImage) {
        printf("accugnt5.dll cannot be loaded\n");
        return 0;
    }
    std::string paths;
    *pageBytes = 0;
    for (int i = 0; i < PageCount; i++) {
        std::string path = outbox + "page" + std::to_string(i + 1) + ".tif";
        DWORD size = WriteG4Page(writeImage, path.c_str(), i);
        if (!size) {
            return 0;
        }
        *pageBytes += size;
        paths += path + std::string(1, '\0');
    }
    char name[] = "Ada", address[] = "SMTP:ada@example.com";
    RecipientRecord record = {0, 1, name, address, 0, nullptr};
    RecipientLink link = {};
    link.RecipientCount = 1;
    link.Recipients = &record;
    link.PageCount = PageCount;
    link.PagePaths = paths.c_str();
    link.PageNames = "FX-00001.TIF\0FX-00002.TIF\0FX-00003.TIF";
    Sender sender;
    std::string model = outbox + "message.tmp";
    HANDLE file = CreateFileA(model.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    int ok = MakeSender("Scan Desk", SenderAddress, "", Gateway, GetACP(), &sender) &&
             WriteMessageFile(file, &link, &sender, "=_bench");
    CloseHandle(file);
    for (int i = 0; ok && i < MessageCount; i++) {
        char stem[32];
        snprintf(stem, sizeof stem, "bench-%03d", i);
        ok = WriteEnvelope((outbox + stem + ".env").c_str(), Profile, SenderAddress, &link,
                           Gateway) &&
             CopyFileA(model.c_str(), (outbox + stem + ".eml").c_str(), FALSE);
    }
    DWORD size = ok ? (DWORD)ReadFileText(model).size() : 0;
    DeleteFileA(model.c_str());
    for (int i = 0; i < PageCount; i++) {
        DeleteFileA((outbox + "page" + std::to_string(i + 1) + ".tif").c_str());
    }
    return size;
}

// ---- measuring a process ----

struct RunFigures {
    double Seconds;
    SIZE_T PeakWorkingSet; // bytes
    SIZE_T PeakPrivate;    // bytes: the private commit (Wine fills PagefileUsage with it)
    DWORD ExitCode;
};

// Runs the command line to its end, its memory read through its handle meanwhile; 1/0.
int RunMeasured(const std::string &line, RunFigures *figures) {
    *figures = RunFigures();
    PROCESS_INFORMATION process = {};
    double start = Now();
    if (!LaunchCommand(line, &process)) {
        return 0;
    }
    DWORD waited = WAIT_TIMEOUT;
    for (int polls = 0; waited == WAIT_TIMEOUT && polls < 60000; polls++) {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters)) {
            figures->PeakWorkingSet = std::max(
                {figures->PeakWorkingSet, counters.PeakWorkingSetSize, counters.WorkingSetSize});
            figures->PeakPrivate = std::max(
                {figures->PeakPrivate, counters.PeakPagefileUsage, counters.PagefileUsage});
        }
        waited = WaitForSingleObject(process.hProcess, 10);
    }
    figures->Seconds = Now() - start;
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
    }
    GetExitCodeProcess(process.hProcess, &figures->ExitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return waited == WAIT_OBJECT_0;
}

double Mebibytes(SIZE_T bytes) {
    return (double)bytes / 1048576.0;
}

int Bench() {
    std::string outbox = ProductFile("OUTBOX\\bench\\"),
                received = ProductFile("OUTBOX\\bench-in\\");
    if (!WaitUntil([] { return !DeliveryAgentRunning(); }, 60000)) {
        printf("a delivery agent still runs\n");
        return 1;
    }
    FileBackup store(ProductFile("TELVEX.INI"));
    CreateDirectoryA(ProductFile("OUTBOX\\").c_str(), nullptr);
    for (const std::string &folder : {outbox, outbox + "Sent\\", outbox + "Failed\\", received}) {
        ClearFolder(folder);
    }
    DeleteFileA(ProductFile("OUTBOX\\bench.log").c_str());
    int port = FreeLoopbackPort();
    WriteFileText(ProductFile("TELVEX.INI"),
                  "[Telvex]\r\nAddressBook=ADDRESS.VCF\r\n[Profile:" + std::string(Profile) +
                      "]\r\nServices=28\r\nFaxGateway=" + Gateway +
                      "\r\nEmailAddress=" + SenderAddress + "\r\nOutbox=" + outbox + "\r\n");
    DWORD pageBytes = 0, messageBytes = QueueMessages(outbox, &pageBytes);
    if (!port || !messageBytes ||
        RunLibraryTool("\"" + std::string(Profile) +
                       "\" server=127.0.0.1 security=none port=" + std::to_string(port)) != 0 ||
        !StartSmtpServer(received, port, "")) {
        printf("the queue or the server could not be set up\n");
        StopSmtpServer(received);
        return 1;
    }
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    RunFigures copy, agent;
    int copied =
        RunMeasured("\"" + std::string(self) + "\" copy " + std::to_string(port) + " " + outbox,
                    &copy) &&
        copy.ExitCode == 0 && (int)FilesMatching(received + "*.eml").size() == MessageCount;
    int delivered = RunMeasured("\"" + ProductFile("DLL32\\" TELVEX_AGENT_FILE) + "\"", &agent) &&
                    agent.ExitCode == 0 &&
                    (int)FilesMatching(outbox + "Sent\\*.eml").size() == MessageCount &&
                    (int)FilesMatching(received + "*.eml").size() == 2 * MessageCount;
    StopSmtpServer(received);
    printf("%d messages of %d G4 pages (%lu bytes of pages, %lu bytes a message) to "
           "127.0.0.1:%d\n",
           MessageCount, PageCount, pageBytes, messageBytes, port);
    printf("plain copy: %s, %.2f s; agent: %s, %.2f s, exit code %lu\n",
           copied ? "all taken" : "FAILED", copy.Seconds, delivered ? "all delivered" : "FAILED",
           agent.Seconds, agent.ExitCode);
    if (!copied || !delivered) {
        printf("%s", ReadFileText(ProductFile("OUTBOX\\bench.log")).c_str());
        return 1;
    }
    for (const std::string &folder : {outbox + "Sent\\", outbox, received}) {
        ClearFolder(folder);
    }
    PrintFigure("Delivery: messages/s, 100 x 3 G4 pages to loopback SMTP (ref: plain SMTP copy)",
                MessageCount / agent.Seconds, MessageCount / copy.Seconds, "msg/s");
    PrintFigure("Delivery: TelvexAgent.exe peak working set (ref: the plain copy's process)",
                Mebibytes(agent.PeakWorkingSet), Mebibytes(copy.PeakWorkingSet), "MiB");
    PrintFigure("Delivery: TelvexAgent.exe peak private bytes (ref: the plain copy's process)",
                Mebibytes(agent.PeakPrivate), Mebibytes(copy.PeakPrivate), "MiB");
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 4 && strcmp(argv[1], "copy") == 0) {
        return CopyFolder(atoi(argv[2]), argv[3]);
    }
    return Bench();
}
