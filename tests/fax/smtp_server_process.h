// The scripted SMTP server (smtp_server.py) run natively beside Wine on the
// loopback interface, and the library's settings tool; shared by the
// delivery tests and the delivery benchmark.
#pragma once
#include <winsock2.h>

#include <string>

// Runs a program of the library's folder (the settings tool unless named)
// with these arguments: its exit code, or -1.
int RunLibraryTool(const std::string &arguments, const char *program = "TelvexMail.exe");
// A port on the loopback interface that nothing listens on, or 0.
int FreeLoopbackPort();
// Starts the server on port with its options, saving what it accepts in
// folder (a Windows path ending in a backslash); 1 once it listens.
int StartSmtpServer(const std::string &folder, int port, const std::string &options);
// Asks the server saving into folder to stop; 1 once it has (or none ran).
int StopSmtpServer(const std::string &folder);
