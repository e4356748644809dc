// TelvexMail.exe: sets a profile's delivery settings from a script.
//   TelvexMail PROFILE name=value ...
// Names: server, port, security (starttls, tls, none), user, password,
// sender, gateway, certificate (a file: the one certificate to trust). "password=-" reads the
// password from standard input, so that it appears on no command line.
#include <stdio.h>
#include <string.h>

#include "mail_settings.h"

// Replaces "password=-" by the line read from standard input: 1, or 0 when
// none came or it is longer than a password can be.
static int ReadPassword(char *setting, int size) {
    if (strcmp(setting, "password=-") != 0) {
        return 1;
    }
    char line[PasswordSize + 2];
    int ok = fgets(line, sizeof line, stdin) != NULL;
    size_t length = ok ? strcspn(line, "\r\n") : 0;
    ok = ok && length < PasswordSize && (line[length] || feof(stdin));
    if (ok) {
        line[length] = 0;
        snprintf(setting, size, "password=%s", line);
    }
    SecureZeroMemory(line, sizeof line);
    return ok;
}

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: TelvexMail PROFILE name=value ...\n"
                        "names: server port security user password sender gateway certificate\n");
        return 2;
    }
    if (!ProfileExists(argv[1])) {
        fprintf(stderr, "TelvexMail: no profile named %s\n", argv[1]);
        return 1;
    }
    static char settings[MailSettingsAtOnce][MAX_PATH + 32];
    char *pointers[MailSettingsAtOnce];
    int count = argc - 2;
    if (count > MailSettingsAtOnce) {
        fprintf(stderr, "TelvexMail: at most %d settings at a time\n", MailSettingsAtOnce);
        return 1;
    }
    for (int i = 0; i < count; i++) {
        if (lstrlenA(argv[i + 2]) >= (int)sizeof settings[i]) {
            fprintf(stderr, "TelvexMail: refused: a setting longer than %d characters\n",
                    (int)sizeof settings[i] - 1);
            return 1;
        }
        lstrcpynA(settings[i], argv[i + 2], sizeof settings[i]);
        if (!ReadPassword(settings[i], sizeof settings[i])) {
            fprintf(stderr, "TelvexMail: no password of at most %d characters on standard input\n",
                    PasswordSize - 1);
            return 1;
        }
        pointers[i] = settings[i];
    }
    int refused = SetMailSettings(argv[1], count, pointers);
    if (refused < 0) {
        fprintf(stderr, "TelvexMail: the store could not be written: nothing was changed\n");
    } else if (refused > count) {
        fprintf(stderr, "TelvexMail: security=none is only for a loopback server\n");
    } else if (refused) {
        fprintf(stderr, "TelvexMail: refused: %s\n",
                strncmp(pointers[refused - 1], "password=", 9) ? pointers[refused - 1]
                                                               : "password");
    }
    SecureZeroMemory(settings, sizeof settings);
    return refused ? 1 : 0;
}
