// The scripted SMTP server (tests/fax/smtp_server.py) run natively beside
// Wine on the loopback interface, other native scripts, the mail library's
// settings tool and its delivery agent; shared by the delivery tests, the fax
// job's end-to-end delivery and the delivery benchmark.
#pragma once
#include <windows.h>

#include <string>

// Starts a command line, with input as its standard input when given: 1
// with the process's handles (the caller's to close) in process, else 0.
int LaunchCommand(const std::string &line, PROCESS_INFORMATION *process, HANDLE input = nullptr);
// Runs a program of the library's folder (the settings tool unless named)
// with these arguments: its exit code, or -1.
int RunLibraryTool(const std::string &arguments, const char *program = "TelvexMail.exe");
// Runs the settings tool with these arguments and text on its standard
// input: its exit code, or -1.
int RunLibraryToolWithInput(const std::string &arguments, const std::string &text);
// A Windows path as native programs beside Wine name it, or "".
std::string UnixPath(const std::string &path);
// Starts a Python script natively beside Wine with these arguments; 1 once
// the file done (a Windows path) exists, within timeout ms. Wine gives no
// handle to a native program: it says what it has to say in files.
int StartHostScript(const std::string &script, const std::string &arguments,
                    const std::string &done, DWORD timeout = 30000);
// A port on the loopback interface that nothing listens on, or 0.
int FreeLoopbackPort();
// Starts the server on port with its options, saving what it accepts in
// folder (a Windows path ending in a backslash); 1 once it listens.
int StartSmtpServer(const std::string &folder, int port, const std::string &options);
// Asks the server saving into folder to stop; 1 once it has (or none ran).
int StopSmtpServer(const std::string &folder);
// 1 while the mail library's delivery agent runs, to its very end.
int DeliveryAgentRunning();
