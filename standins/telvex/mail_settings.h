// A profile's delivery settings in the store: the SMTP server, how to reach
// it, the account, and the envelope sender. The password is kept encrypted
// for the Windows user, never as text.
#pragma once
#include <windows.h>

#include "mime.h"
#include "store.h"

enum : int { SecurityStartTls = 0, SecurityTls = 1, SecurityNone = 2 };
enum : int { PasswordSize = 128, CertificateSize = 64 * 1024 };

struct MailProfile {
    char Server[StoreTextSize];
    WORD Port;
    int Security; // -1 when the store names none of the three
    char User[StoreTextSize];
    char Sender[MailboxSize];   // "" when the message's own sender is the envelope sender
    char Certificate[MAX_PATH]; // the one certificate to trust, "" for the system's trust store
};

// The profile's delivery settings; 1 when it names a server to deliver to.
int LoadMailProfile(const char *profile, MailProfile *mail);
// Why settings edited into the store cannot be used, or NULL.
const char *MailProfileProblem(const MailProfile *mail);
// 1 when the server name is the loopback interface: localhost, ::1 or 127.x.y.z.
int LoopbackName(const char *server);
// 1 when the name can be a server's: a host name, or an IPv4 or IPv6 address.
int ValidServerName(const char *server);
// The DER bytes of a certificate file (PEM or DER) into out: their number, 0
// when it cannot be read or is no certificate.
DWORD ReadCertificateFile(const char *path, BYTE *out, DWORD size);
// The setting's value for a security (starttls, tls, none).
const char *SecurityName(int security);
// Checks "name=value" settings against a profile's present ones: 0, or the
// number (from 1) of the first refused; count + 1 when together they are
// refused (no security on a server other than loopback).
int CheckMailSettings(const MailProfile *now, int count, char *const *settings);
// Applies "name=value" settings (server, port, security, user, password,
// sender, gateway, certificate) to an existing profile, all or none: 0, or
// what CheckMailSettings refused (1 for a profile that does not exist), or -1
// when the store cannot be written. A queue the delivery agent stopped for
// the profile starts again.
enum : int { MailSettingsAtOnce = 16 };
int SetMailSettings(const char *profile, int count, char *const *settings);
// The profile's password; 1 when one is stored and could be decrypted.
int MailPassword(const char *profile, char *out, int size);
