// Delivery of a queue of messages by TelvexAgent.exe to a loopback SMTP
// server (the delivery tests' smtp_server.py): messages a second and the
// agent's peak memory, beside a plain SMTP client that sends the same message
// files to the same server over one connection, a process of its own measured
// the same way. Four queues: 100 faxes of three G4 pages and 100 small (2 KB)
// messages, each with plain SMTP and with STARTTLS and AUTH (the client using
// the system's TLS as the agent does).
//
// DeliveryBench: the whole run. DeliveryBench copy PORT FOLDER [PASSWORD
// CERTIFICATE]: the plain client, sending every .eml file in FOLDER over one
// connection, inside STARTTLS with AUTH as scan when a password is given.
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
#include "tls_channel.h"

namespace {

const int MessageCount = 100, PageCount = 3;
const char *const Profile = "Bench Mail";
const char *const SenderAddress = "scan@varnel.example";
const char *const Gateway = "fax.test.example";

// ---- the plain client ----

SOCKET Link = INVALID_SOCKET;
int Secure;

int Receive(char *out, int size) {
    return Secure ? TlsReceive(Link, GetTickCount() + 30000, out, size) : recv(Link, out, size, 0);
}

// Reads a reply up to its last line ("ddd text"): its code, 0 for none.
int Reply() {
    char reply[1024];
    int used = 0;
    for (;;) {
        int got = Receive(reply + used, (int)sizeof reply - 1 - used);
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

int Send(const char *bytes, int length) {
    return Secure ? TlsSend(Link, bytes, length) : SendAll(Link, bytes, length);
}

int Command(const char *line) {
    return Send(line, lstrlenA(line)) ? Reply() : 0;
}

// One message file as one transaction; the library's messages are base64
// and headers, with no line starting with a dot, so the bytes go as they are.
int SendMessageFile(const std::string &path) {
    static char chunk[64 * 1024];
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    int ok = Command("MAIL FROM:<scan@varnel.example>\r\n") == 250 &&
             Command("RCPT TO:<ada@example.com>\r\n") == 250 && Command("DATA\r\n") == 354;
    DWORD got = 0;
    while (ok && ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got) {
        ok = Send(chunk, (int)got);
    }
    CloseHandle(file);
    return ok && Command("\r\n.\r\n") == 250;
}

// The session: greeting, EHLO, and with a password STARTTLS, EHLO again and
// AUTH. Small writes go at once, as the agent's do.
int OpenSession(int port, const char *password, const char *certificate) {
    Link = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL noDelay = TRUE;
    setsockopt(Link, IPPROTO_TCP, TCP_NODELAY, (const char *)&noDelay, sizeof noDelay);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons((u_short)port);
    int ok = connect(Link, (sockaddr *)&address, sizeof address) == 0 && Reply() == 220 &&
             Command("EHLO bench\r\n") == 250;
    if (ok && password) {
        char why[512], auth[256], secret[128];
        int length = snprintf(secret, sizeof secret, "%cscan%c%s", 0, 0, password);
        lstrcpynA(auth, "AUTH PLAIN ", sizeof auth);
        EncodeBase64((const BYTE *)secret, length, auth + 11);
        lstrcatA(auth, "\r\n");
        ok = Command("STARTTLS\r\n") == 220 && StartTls(Link, GetTickCount() + 30000, "127.0.0.1",
                                                        certificate, why, sizeof why) == TlsOpen;
        Secure = ok;
        ok = ok && Command("EHLO bench\r\n") == 250 && Command(auth) == 235;
    }
    return ok;
}

int CopyFolder(int port, const std::string &folder, const char *password, const char *certificate) {
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    std::vector<std::string> names = FilesMatching(folder + "*.eml");
    int ok = OpenSession(port, password, certificate);
    for (size_t i = 0; ok && i < names.size(); i++) {
        ok = SendMessageFile(folder + names[i]);
    }
    ok = ok && Command("QUIT\r\n") == 221;
    if (Secure) {
        EndTls();
    }
    closesocket(Link);
    return ok && (int)names.size() == MessageCount ? 0 : 1;
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

// Queues MessageCount copies of one message in the outbox, each with its
// envelope: of PageCount G4 pages, or (small) of one short attachment that
// makes it about 2 KB. The message's size, 0 on failure.
DWORD QueueMessages(const std::string &outbox, int small, DWORD *pageBytes) {
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
    int pages = small ? 1 : PageCount;
    for (int i = 0; i < pages; i++) {
        std::string path = outbox + "page" + std::to_string(i + 1) + ".tif";
        DWORD size = 0;
        if (small) {
            std::string note(1100, 'n');
            for (size_t at = 0; at < note.size(); at++) {
                note[at] = (char)(at * 7919 % 251);
            }
            WriteFileText(path, note);
            size = (DWORD)note.size();
        } else {
            size = WriteG4Page(writeImage, path.c_str(), i);
        }
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
    link.PageCount = pages;
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
    for (int i = 0; i < pages; i++) {
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

const char *const Password = "Bench-Pass-Word";

// One queue delivered by the plain client and by the agent, to a server of
// its own, the agent first when agentFirst is 1 (the client then sends the
// same files from Sent\): 1 when both delivered every message, with their
// figures.
int Measure(int small, int secure, int agentFirst, RunFigures *copy, RunFigures *agent) {
    std::string outbox = ProductFile("OUTBOX\\bench\\"),
                received = ProductFile("OUTBOX\\bench-in\\");
    for (const std::string &folder : {outbox, outbox + "Sent\\", outbox + "Failed\\", received}) {
        ClearFolder(folder);
    }
    DeleteFileA(ProductFile("OUTBOX\\bench.log").c_str());
    int port = FreeLoopbackPort();
    WriteFileText(ProductFile("TELVEX.INI"),
                  "[Telvex]\r\nAddressBook=ADDRESS.VCF\r\n[Profile:" + std::string(Profile) +
                      "]\r\nServices=28\r\nFaxGateway=" + Gateway +
                      "\r\nEmailAddress=" + SenderAddress + "\r\nOutbox=" + outbox + "\r\n");
    std::string certificate = received + "cert.pem";
    std::string settings =
        "server=127.0.0.1 port=" + std::to_string(port) +
        (secure ? " security=starttls user=scan password=" + std::string(Password) +
                      " certificate=\"" + certificate + "\""
                : " security=none");
    // The queue comes after the settings: the tool starts the agent for any
    // mail waiting when it changes them.
    DWORD pageBytes = 0, messageBytes = 0;
    if (!port ||
        !StartSmtpServer(received, port,
                         secure ? "--starttls scan " + std::string(Password) : "") ||
        RunLibraryTool("\"" + std::string(Profile) + "\" " + settings) != 0 ||
        !(messageBytes = QueueMessages(outbox, small, &pageBytes))) {
        printf("the queue or the server could not be set up\n");
        StopSmtpServer(received);
        return 0;
    }
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string client = "\"" + std::string(self) + "\" copy " + std::to_string(port) + " " +
                         outbox + (agentFirst ? "Sent\\" : "");
    if (secure) {
        client += " " + std::string(Password) + " \"" + certificate + "\"";
    }
    int copied = 1, delivered = 1;
    for (int turn = 0; turn < 2; turn++) {
        int expected = (turn + 1) * MessageCount;
        if (turn == agentFirst) {
            copied = RunMeasured(client, copy) && copy->ExitCode == 0 &&
                     (int)FilesMatching(received + "*.eml").size() == expected;
        } else {
            delivered =
                RunMeasured("\"" + ProductFile("DLL32\\" TELVEX_AGENT_FILE) + "\"", agent) &&
                agent->ExitCode == 0 &&
                (int)FilesMatching(outbox + "Sent\\*.eml").size() == MessageCount &&
                (int)FilesMatching(received + "*.eml").size() == expected;
        }
    }
    StopSmtpServer(received);
    printf("%d messages of %s (%lu bytes a message), %s, to 127.0.0.1:%d\n", MessageCount,
           small ? "one short attachment" : "3 G4 pages", messageBytes,
           secure ? "STARTTLS and AUTH" : "plain SMTP", port);
    printf("plain client: %s, %.2f s; agent%s: %s, %.2f s, exit code %lu\n",
           copied ? "all taken" : "FAILED", copy->Seconds, agentFirst ? " (first)" : "",
           delivered ? "all delivered" : "FAILED", agent->Seconds, agent->ExitCode);
    if (!copied || !delivered) {
        printf("%s", ReadFileText(ProductFile("OUTBOX\\bench.log")).c_str());
    }
    for (const std::string &folder : {outbox + "Sent\\", outbox, received}) {
        ClearFolder(folder);
    }
    return copied && delivered;
}

int Bench() {
    if (!WaitUntil([] { return !DeliveryAgentRunning(); }, 60000)) {
        printf("a delivery agent still runs\n");
        return 1;
    }
    FileBackup store(ProductFile("TELVEX.INI"));
    CreateDirectoryA(ProductFile("OUTBOX\\").c_str(), nullptr);
    static const char *const Queues[2] = {"100 x 3 G4 pages", "100 x 2 KB"};
    static const char *const Ways[2] = {"plain SMTP", "STARTTLS+AUTH"};
    // The fastest of each is kept, the machine being shared; who goes first
    // alternates, so that neither always meets the server fresh.
    const int Rounds = 5;
    int failed = 0;
    for (int small = 0; small < 2; small++) {
        for (int secure = 0; secure < 2; secure++) {
            RunFigures copy = {}, agent = {};
            for (int round = 0; round < Rounds && !failed; round++) {
                RunFigures roundCopy, roundAgent;
                failed = !Measure(small, secure, round % 2, &roundCopy, &roundAgent);
                for (auto pair : {std::make_pair(&copy, &roundCopy), {&agent, &roundAgent}}) {
                    if (!round || pair.second->Seconds < pair.first->Seconds) {
                        *pair.first = *pair.second;
                    }
                }
            }
            if (failed) {
                break;
            }
            char figure[160];
            snprintf(figure, sizeof figure,
                     "Delivery: messages/s, %s, %s (ref: plain client, one connection)",
                     Queues[small], Ways[secure]);
            PrintFigure(figure, MessageCount / agent.Seconds, MessageCount / copy.Seconds, "msg/s");
            if (!small && !secure) {
                PrintFigure("Delivery: TelvexAgent.exe peak working set (ref: the plain client)",
                            Mebibytes(agent.PeakWorkingSet), Mebibytes(copy.PeakWorkingSet), "MiB");
                PrintFigure("Delivery: TelvexAgent.exe peak private bytes (ref: the plain client)",
                            Mebibytes(agent.PeakPrivate), Mebibytes(copy.PeakPrivate), "MiB");
            }
        }
    }
    return failed;
}

} // namespace

int main(int argc, char **argv) {
    if ((argc == 4 || argc == 6) && strcmp(argv[1], "copy") == 0) {
        return CopyFolder(atoi(argv[2]), argv[3], argc == 6 ? argv[4] : nullptr,
                          argc == 6 ? argv[5] : nullptr);
    }
    return Bench();
}
