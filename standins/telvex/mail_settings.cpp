#include "mail_settings.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wincrypt.h>

#include "outbox_queue.h"
#include "telvex_ids.h"

enum : int { ProtectedTextSize = 4096 };

static const char *const SecurityNames[] = {"starttls", "tls", "none"};

static int SecurityNumber(const char *name) {
    for (int i = 0; i < 3; i++) {
        if (_stricmp(name, SecurityNames[i]) == 0) {
            return i;
        }
    }
    return -1;
}

// 1 when text is a dotted IPv4 address; its first number in first.
static int Ipv4Address(const char *text, int *first) {
    int parts = 0;
    for (const char *p = text;; p++) {
        int digits = 0, value = 0;
        for (; *p >= '0' && *p <= '9' && digits < 4; p++, digits++) {
            value = value * 10 + (*p - '0');
        }
        if (!digits || digits > 3 || value > 255) {
            return 0;
        }
        if (!parts++) {
            *first = value;
        }
        if (*p != '.') {
            return parts == 4 && !*p;
        }
    }
}

int LoopbackName(const char *server) {
    int first = 0;
    return _stricmp(server, "localhost") == 0 || strcmp(server, "::1") == 0 ||
           (Ipv4Address(server, &first) && first == 127);
}

int ValidServerName(const char *server) {
    int first, colons = 0, length = lstrlenA(server);
    if (Ipv4Address(server, &first)) {
        return 1;
    }
    for (const char *p = server; *p; p++) {
        colons += *p == ':';
    }
    if (colons) { // an IPv6 address: hexadecimal digits, colons, dots
        return colons >= 2 && (int)strspn(server, "0123456789abcdefABCDEF:.") == length;
    }
    // A host name: labels of letters, digits and inner hyphens, joined by dots.
    int label = 0;
    for (const char *p = server;; p++) {
        if (*p == '.' || !*p) {
            if (!label || p[-1] == '-' || label > 63) {
                return 0;
            }
            if (!*p) {
                return length < StoreTextSize;
            }
            label = 0;
        } else if (isalnum((unsigned char)*p) || (*p == '-' && label)) {
            label++;
        } else {
            return 0;
        }
    }
}

DWORD ReadCertificateFile(const char *path, BYTE *out, DWORD size) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    char *text = (char *)HeapAlloc(GetProcessHeap(), 0, CertificateSize);
    DWORD got = 0, length = 0;
    int ok = text && ReadFile(file, text, CertificateSize - 1, &got, NULL);
    CloseHandle(file);
    if (ok) {
        text[got] = 0;
        if (!strstr(text, "-----BEGIN")) {
            length = got <= size ? got : 0;
            memcpy(out, text, length);
        } else {
            length = size;
            if (!CryptStringToBinaryA(text, 0, CRYPT_STRING_BASE64HEADER, out, &length, NULL,
                                      NULL)) {
                length = 0;
            }
        }
    }
    if (text) {
        HeapFree(GetProcessHeap(), 0, text);
    }
    // Bytes that are no certificate are refused here, not at the first delivery.
    PCCERT_CONTEXT parsed =
        length ? CertCreateCertificateContext(X509_ASN_ENCODING, out, length) : NULL;
    if (parsed) {
        CertFreeCertificateContext(parsed);
    }
    return parsed ? length : 0;
}

int LoadMailProfile(const char *profile, MailProfile *mail) {
    char text[StoreTextSize];
    ProfileText(profile, "SmtpServer", mail->Server, sizeof mail->Server);
    ProfileText(profile, "SmtpSecurity", text, sizeof text);
    mail->Security = text[0] ? SecurityNumber(text) : SecurityStartTls;
    ProfileText(profile, "SmtpPort", text, sizeof text);
    mail->Port = (WORD)strtoul(text, NULL, 10);
    if (!mail->Port) {
        mail->Port = mail->Security == SecurityTls ? 465 : 587;
    }
    ProfileText(profile, "SmtpUser", mail->User, sizeof mail->User);
    ProfileText(profile, "SmtpSender", mail->Sender, sizeof mail->Sender);
    ProfileText(profile, "SmtpCertificate", mail->Certificate, sizeof mail->Certificate);
    return mail->Server[0] != 0;
}

const char *MailProfileProblem(const MailProfile *mail) {
    if (mail->Security < 0) {
        return "its SmtpSecurity is none of starttls, tls and none";
    }
    if (!ValidServerName(mail->Server)) {
        return "its SmtpServer is not a server name";
    }
    if (mail->Security == SecurityNone && !LoopbackName(mail->Server)) {
        return "security none is only for a server on this computer";
    }
    return NULL;
}

// Printable text without blanks, as a host or user name must be.
static int PlainWord(const char *value, int size) {
    int length = lstrlenA(value);
    if (length >= size) {
        return 0;
    }
    for (const char *p = value; *p; p++) {
        if ((unsigned char)*p <= ' ' || *p == 0x7F) {
            return 0;
        }
    }
    return 1;
}

static int ValidSetting(const char *name, const char *value) {
    if (strcmp(name, "server") == 0) {
        return !value[0] || ValidServerName(value);
    }
    if (strcmp(name, "user") == 0 || strcmp(name, "gateway") == 0) {
        return PlainWord(value, StoreTextSize);
    }
    if (strcmp(name, "port") == 0) {
        if (!value[0]) {
            return 1; // back to the security's own port
        }
        char *end;
        unsigned long port = strtoul(value, &end, 10);
        return !*end && port >= 1 && port <= 65535;
    }
    if (strcmp(name, "security") == 0) {
        return SecurityNumber(value) >= 0;
    }
    if (strcmp(name, "password") == 0) {
        return lstrlenA(value) < PasswordSize;
    }
    if (strcmp(name, "certificate") == 0) {
        static BYTE certificate[CertificateSize];
        return !value[0] || (lstrlenA(value) < MAX_PATH &&
                             ReadCertificateFile(value, certificate, CertificateSize));
    }
    if (strcmp(name, "sender") == 0) {
        return !value[0] || (lstrlenA(value) < MailboxSize && ValidMailbox(value));
    }
    return 0;
}

// The password encrypted for this Windows user, as hexadecimal text.
static int ProtectPassword(const char *password, char *out, int size) {
    DATA_BLOB plain = {(DWORD)lstrlenA(password), (BYTE *)password}, sealed = {};
    if (!CryptProtectData(&plain, L"Telvex", NULL, NULL, NULL, CRYPTPROTECT_UI_FORBIDDEN,
                          &sealed)) {
        return 0;
    }
    int ok = (int)sealed.cbData * 2 < size;
    for (DWORD i = 0; ok && i < sealed.cbData; i++) {
        snprintf(out + 2 * i, 3, "%02x", sealed.pbData[i]);
    }
    LocalFree(sealed.pbData);
    return ok;
}

int MailPassword(const char *profile, char *out, int size) {
    char *text = (char *)HeapAlloc(GetProcessHeap(), 0, ProtectedTextSize);
    if (!text) {
        return 0;
    }
    ProfileText(profile, "SmtpPassword", text, ProtectedTextSize);
    DWORD length = lstrlenA(text) / 2;
    for (DWORD i = 0; i < length; i++) {
        char pair[3] = {text[2 * i], text[2 * i + 1], 0};
        text[i] = (char)strtoul(pair, NULL, 16);
    }
    DATA_BLOB sealed = {length, (BYTE *)text}, plain = {};
    int ok = length &&
             CryptUnprotectData(&sealed, NULL, NULL, NULL, NULL, CRYPTPROTECT_UI_FORBIDDEN, &plain);
    if (ok) {
        ok = (int)plain.cbData < size;
        if (ok) {
            memcpy(out, plain.pbData, plain.cbData);
            out[plain.cbData] = 0;
        }
        SecureZeroMemory(plain.pbData, plain.cbData);
        LocalFree(plain.pbData);
    }
    HeapFree(GetProcessHeap(), 0, text);
    return ok;
}

// The store key of a setting's name.
static const char *SettingKeyName(const char *name) {
    static const char *const Names[][2] = {
        {"server", "SmtpServer"},     {"port", "SmtpPort"},
        {"security", "SmtpSecurity"}, {"user", "SmtpUser"},
        {"password", "SmtpPassword"}, {"sender", "SmtpSender"},
        {"gateway", "FaxGateway"},    {"certificate", "SmtpCertificate"}};
    for (const auto &pair : Names) {
        if (strcmp(name, pair[0]) == 0) {
            return pair[1];
        }
    }
    return NULL;
}

// Splits "name=value" into the name (bounded) and a pointer to the value.
static const char *SplitSetting(const char *setting, char *name, int size) {
    const char *equals = strchr(setting, '=');
    if (!equals || equals - setting >= size) {
        return NULL;
    }
    lstrcpynA(name, setting, (int)(equals - setting) + 1);
    return equals + 1;
}

const char *SecurityName(int security) {
    return security >= 0 && security < 3 ? SecurityNames[security] : "";
}

int CheckMailSettings(const MailProfile *now, int count, char *const *settings) {
    char server[StoreTextSize], name[16];
    lstrcpynA(server, now->Server, sizeof server);
    int security = now->Security;
    for (int i = 0; i < count; i++) {
        const char *value = SplitSetting(settings[i], name, sizeof name);
        if (!value || !ValidSetting(name, value)) {
            return i + 1;
        }
        if (strcmp(name, "server") == 0) {
            lstrcpynA(server, value, sizeof server);
        } else if (strcmp(name, "security") == 0) {
            security = SecurityNumber(value);
        }
    }
    return security == SecurityNone && server[0] && !LoopbackName(server) ? count + 1 : 0;
}

int SetMailSettings(const char *profile, int count, char *const *settings) {
    if (!ProfileExists(profile)) {
        return 1;
    }
    MailProfile now;
    LoadMailProfile(profile, &now);
    int checked = CheckMailSettings(&now, count, settings);
    if (checked) {
        return checked;
    }
    char name[16];
    const char *keys[MailSettingsAtOnce], *values[MailSettingsAtOnce];
    char *sealed = (char *)HeapAlloc(GetProcessHeap(), 0, ProtectedTextSize);
    int refused = sealed && count <= MailSettingsAtOnce ? 0 : 1;
    for (int i = 0; i < count && !refused; i++) {
        values[i] = SplitSetting(settings[i], name, sizeof name);
        keys[i] = SettingKeyName(name);
        if (strcmp(name, "password") == 0 && values[i][0]) {
            refused = ProtectPassword(values[i], sealed, ProtectedTextSize) ? 0 : i + 1;
            values[i] = sealed;
        }
    }
    if (!refused && !SetProfileTexts(profile, keys, values, count)) {
        refused = -1;
    }
    if (sealed) {
        HeapFree(GetProcessHeap(), 0, sealed);
    }
    if (!refused) {
        // New settings deserve a try at once, whatever stopped or paused the queue.
        char outbox[MAX_PATH];
        ProfileOutbox(profile, outbox, sizeof outbox);
        RestartProfileQueue(outbox, profile);
    }
    return refused;
}
