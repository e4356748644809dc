// TLS over a connected socket through the system's own TLS (SChannel), the
// server's certificate checked against the system's trust store or, when
// the profile names one, against that one certificate file (PEM or DER).
#pragma once
#include <winsock2.h>

enum : int { TlsRefused = 0, TlsOpen = 1, TlsUntrusted = 2 };

// Reads what the socket has before the deadline (a GetTickCount value): the
// number of bytes, 0 when the connection ended, -1 when nothing came in time
// or the connection was lost.
int ReceiveBefore(SOCKET socket, DWORD deadline, char *out, int size);
// Sends all of data as it is: 1/0.
int SendAll(SOCKET socket, const char *data, int length);
// Negotiates TLS with the server before the deadline: TlsOpen (why then
// holds a note for the log, or ""), TlsUntrusted (the certificate is not the
// one trusted; why says so), or TlsRefused (no TLS; why says why).
int StartTls(SOCKET socket, DWORD deadline, const char *server, const char *certificate, char *why,
             int size);
// Sends all of data inside TLS: 1/0.
int TlsSend(SOCKET socket, const char *data, int length);
// Reads what the server sent inside TLS: the number of bytes, 0 when the
// connection ended, -1 when nothing came before the deadline.
int TlsReceive(SOCKET socket, DWORD deadline, char *out, int size);
// Ends the TLS session (the socket stays open): after StartTls, whatever it returned.
void EndTls();
