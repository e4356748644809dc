#include "tls_channel.h"

#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <stdio.h>
#include <string.h>

#include "mail_settings.h"

enum : int { RecordSize = 16 * 1024 + 512 };

// The one TLS session the agent holds at a time.
static struct {
    CredHandle Credentials;
    CtxtHandle Context;
    int HaveCredentials, HaveContext;
    SecPkgContext_StreamSizes Sizes;
    int Raw;                         // received bytes not yet decrypted, at the start of Incoming
    char Incoming[2 * RecordSize];   // what the server sent, still encrypted
    int Plain, PlainAt;              // decrypted bytes not yet handed out
    char Decrypted[2 * RecordSize];  // what DecryptMessage gave
    char Outgoing[RecordSize + 256]; // one record being sent
    char Server[StoreTextSize];      // the name the certificate is for
} Tls;

int ReceiveBefore(SOCKET socket, DWORD deadline, char *out, int size) {
    // An overlapped receive waited for until the deadline: a receive timeout
    // of the socket's own would have to be set anew for each wait of another
    // length, and leaves the connection in no known state once it expires.
    static WSAEVENT done = WSA_INVALID_EVENT;
    LONG left = (LONG)(deadline - GetTickCount()); // the tick count wraps: compared as a span
    if (left <= 0 ||
        (done == WSA_INVALID_EVENT && (done = WSACreateEvent()) == WSA_INVALID_EVENT)) {
        return -1;
    }
    WSAOVERLAPPED overlapped = {};
    overlapped.hEvent = done;
    WSABUF buffer = {(ULONG)size, out};
    DWORD got = 0, flags = 0;
    if (WSARecv(socket, &buffer, 1, &got, &flags, &overlapped, NULL) == 0) {
        return (int)got;
    }
    if (WSAGetLastError() != WSA_IO_PENDING) {
        return -1;
    }
    if (WaitForSingleObject(done, (DWORD)left) != WAIT_OBJECT_0) {
        CancelIo((HANDLE)socket);
        WSAGetOverlappedResult(socket, &overlapped, &got, TRUE, &flags); // the buffer is free again
        return -1;
    }
    return WSAGetOverlappedResult(socket, &overlapped, &got, FALSE, &flags) ? (int)got : -1;
}

// Reads into Incoming: the bytes read, 0 when the connection ended, -1
// after the deadline.
static int ReceiveRaw(SOCKET socket, DWORD deadline) {
    if (Tls.Raw == (int)sizeof Tls.Incoming) {
        return 0; // a record larger than TLS allows: give up on the connection
    }
    int got =
        ReceiveBefore(socket, deadline, Tls.Incoming + Tls.Raw, (int)sizeof Tls.Incoming - Tls.Raw);
    if (got > 0) {
        Tls.Raw += got;
    }
    return got;
}

int SendAll(SOCKET socket, const char *data, int length) {
    while (length > 0) {
        int sent = send(socket, data, length, 0);
        if (sent <= 0) {
            return 0;
        }
        data += sent;
        length -= sent;
    }
    return 1;
}

// Keeps the bytes a call left unread (a SECBUFFER_EXTRA) at the start of Incoming.
static void KeepExtra(const SecBuffer *buffers, int count) {
    int extra = 0;
    for (int i = 0; i < count; i++) {
        if (buffers[i].BufferType == SECBUFFER_EXTRA) {
            extra = (int)buffers[i].cbBuffer;
        }
    }
    memmove(Tls.Incoming, Tls.Incoming + Tls.Raw - extra, extra);
    Tls.Raw = extra;
}

// The handshake, from its start (first) or where the server asked for it
// again (what it sent is then in Incoming).
static int Handshake(SOCKET socket, DWORD deadline, const char *server, int first) {
    // No certificate of this user's is offered, even to a server that asks
    // for one (SEC_I_INCOMPLETE_CREDENTIALS: called again, it goes without).
    const DWORD flags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                        ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION |
                        ISC_REQ_USE_SUPPLIED_CREDS;
    SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
    int read = !first && Tls.Raw == 0;
    while (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE ||
           status == SEC_I_INCOMPLETE_CREDENTIALS) {
        if (read && ReceiveRaw(socket, deadline) <= 0) {
            return 0;
        }
        SecBuffer in[2] = {{(ULONG)Tls.Raw, SECBUFFER_TOKEN, Tls.Incoming},
                           {0, SECBUFFER_EMPTY, NULL}};
        SecBuffer out[1] = {{0, SECBUFFER_TOKEN, NULL}};
        SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, in}, outDesc = {SECBUFFER_VERSION, 1, out};
        ULONG attributes = 0;
        status = InitializeSecurityContextA(
            &Tls.Credentials, first ? NULL : &Tls.Context, (SEC_CHAR *)server, flags, 0, 0,
            first ? NULL : &inDesc, 0, first ? &Tls.Context : NULL, &outDesc, &attributes, NULL);
        Tls.HaveContext = Tls.HaveContext || !first || !FAILED(status); // a failed first made none
        if (out[0].pvBuffer) {
            int sent = out[0].cbBuffer == 0 ||
                       SendAll(socket, (const char *)out[0].pvBuffer, (int)out[0].cbBuffer);
            FreeContextBuffer(out[0].pvBuffer);
            if (!sent) {
                return 0;
            }
        }
        // Incomplete credentials: the same bytes again, with none.
        if (!first && status != SEC_E_INCOMPLETE_MESSAGE &&
            status != SEC_I_INCOMPLETE_CREDENTIALS) {
            KeepExtra(in, 2);
        }
        read = status == SEC_E_INCOMPLETE_MESSAGE ||
               (status == SEC_I_CONTINUE_NEEDED && (first || Tls.Raw == 0));
        first = 0;
    }
    return status == SEC_E_OK &&
           QueryContextAttributesA(&Tls.Context, SECPKG_ATTR_STREAM_SIZES, &Tls.Sizes) == SEC_E_OK;
}

// 1 when the server's certificate is the named one or, with none named, one
// the system trusts for this server name and that is not revoked, as far as
// that can be learnt (when it cannot, note says so).
static int TrustedCertificate(const char *server, const char *certificate, char *why, int size,
                              char *note, int noteSize) {
    PCCERT_CONTEXT presented = NULL;
    if (QueryContextAttributesA(&Tls.Context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &presented) !=
            SEC_E_OK ||
        !presented) {
        snprintf(why, size, "the server showed no certificate");
        return 0;
    }
    int trusted = 0;
    if (certificate[0]) {
        static BYTE expected[CertificateSize];
        DWORD length = ReadCertificateFile(certificate, expected, sizeof expected);
        trusted = length && length == presented->cbCertEncoded &&
                  memcmp(expected, presented->pbCertEncoded, length) == 0;
        snprintf(why, size, "the server's certificate is not the one in %s", certificate);
    } else {
        CERT_CHAIN_PARA para = {};
        para.cbSize = sizeof para;
        PCCERT_CHAIN_CONTEXT chain = NULL;
        if (CertGetCertificateChain(NULL, presented, NULL, presented->hCertStore, &para,
                                    CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT, NULL, &chain)) {
            WCHAR name[256];
            MultiByteToWideChar(CP_ACP, 0, server, -1, name, 256);
            SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
            ssl.cbSize = sizeof ssl;
            ssl.dwAuthType = AUTHTYPE_SERVER;
            ssl.pwszServerName = name;
            CERT_CHAIN_POLICY_PARA policy = {};
            policy.cbSize = sizeof policy;
            // A revocation server out of reach does not refuse the server;
            // a revoked certificate does.
            policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
            policy.pvExtraPolicyPara = &ssl;
            CERT_CHAIN_POLICY_STATUS status = {};
            status.cbSize = sizeof status;
            trusted =
                CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) &&
                status.dwError == 0;
            if (trusted &&
                (chain->TrustStatus.dwErrorStatus &
                 (CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION))) {
                snprintf(note, noteSize,
                         "whether the certificate of %s is revoked could not be learnt", server);
            }
            snprintf(why, size,
                     status.dwError == (DWORD)CERT_E_REVOKED
                         ? "the server's certificate for %s is revoked"
                         : "the server's certificate is not trusted for %s",
                     server);
            CertFreeCertificateChain(chain);
        } else {
            snprintf(why, size, "the server's certificate is not trusted for %s", server);
        }
    }
    CertFreeCertificateContext(presented);
    return trusted;
}

int StartTls(SOCKET socket, DWORD deadline, const char *server, const char *certificate, char *why,
             int size) {
    Tls.Raw = Tls.Plain = Tls.PlainAt = 0;
    lstrcpynA(Tls.Server, server, sizeof Tls.Server);
    SCHANNEL_CRED credentials = {};
    credentials.dwVersion = SCHANNEL_CRED_VERSION;
    credentials.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION;
    Tls.HaveCredentials =
        AcquireCredentialsHandleA(NULL, (SEC_CHAR *)UNISP_NAME_A, SECPKG_CRED_OUTBOUND, NULL,
                                  &credentials, NULL, NULL, &Tls.Credentials, NULL) == SEC_E_OK;
    if (!Tls.HaveCredentials || !Handshake(socket, deadline, server, 1)) {
        snprintf(why, size, "no TLS session with %s", server);
        return TlsRefused;
    }
    char note[512] = "";
    if (!TrustedCertificate(server, certificate, why, size, note, sizeof note)) {
        return TlsUntrusted;
    }
    lstrcpynA(why, note, size);
    return TlsOpen;
}

int TlsSend(SOCKET socket, const char *data, int length) {
    int most = (int)Tls.Sizes.cbMaximumMessage;
    most = most < RecordSize - 512 ? most : RecordSize - 512;
    while (length > 0) {
        int piece = length < most ? length : most;
        char *header = Tls.Outgoing;
        char *body = header + Tls.Sizes.cbHeader;
        memcpy(body, data, piece);
        SecBuffer buffers[4] = {{Tls.Sizes.cbHeader, SECBUFFER_STREAM_HEADER, header},
                                {(ULONG)piece, SECBUFFER_DATA, body},
                                {Tls.Sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, body + piece},
                                {0, SECBUFFER_EMPTY, NULL}};
        SecBufferDesc message = {SECBUFFER_VERSION, 4, buffers};
        if (EncryptMessage(&Tls.Context, 0, &message, 0) != SEC_E_OK ||
            !SendAll(socket, Tls.Outgoing,
                     (int)(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer))) {
            return 0;
        }
        data += piece;
        length -= piece;
    }
    return 1;
}

int TlsReceive(SOCKET socket, DWORD deadline, char *out, int size) {
    while (Tls.Plain == 0) {
        SECURITY_STATUS status = SEC_E_INCOMPLETE_MESSAGE;
        if (Tls.Raw) {
            SecBuffer buffers[4] = {{(ULONG)Tls.Raw, SECBUFFER_DATA, Tls.Incoming},
                                    {0, SECBUFFER_EMPTY, NULL},
                                    {0, SECBUFFER_EMPTY, NULL},
                                    {0, SECBUFFER_EMPTY, NULL}};
            SecBufferDesc message = {SECBUFFER_VERSION, 4, buffers};
            status = DecryptMessage(&Tls.Context, &message, 0, NULL);
            if (status == SEC_E_OK) {
                for (const SecBuffer &buffer : buffers) {
                    if (buffer.BufferType == SECBUFFER_DATA &&
                        buffer.cbBuffer <= sizeof Tls.Decrypted) {
                        memcpy(Tls.Decrypted, buffer.pvBuffer, buffer.cbBuffer);
                        Tls.Plain = (int)buffer.cbBuffer;
                        Tls.PlainAt = 0;
                    }
                }
                KeepExtra(buffers, 4);
                continue;
            }
            if (status == SEC_I_RENEGOTIATE) {
                // The server speaks of the handshake again (a new key, a
                // ticket): what it sent is the handshake's, then the data goes on.
                KeepExtra(buffers, 4);
                if (!Handshake(socket, deadline, Tls.Server, 0)) {
                    return 0;
                }
                continue;
            }
            if (status != SEC_E_INCOMPLETE_MESSAGE) {
                return 0; // the server closed the session or sent what cannot be read
            }
        }
        int got = ReceiveRaw(socket, deadline);
        if (got <= 0) {
            return got;
        }
    }
    int copy = Tls.Plain < size ? Tls.Plain : size;
    memcpy(out, Tls.Decrypted + Tls.PlainAt, copy);
    Tls.PlainAt += copy;
    Tls.Plain -= copy;
    return copy;
}

void EndTls() {
    if (Tls.HaveContext) {
        DeleteSecurityContext(&Tls.Context);
    }
    if (Tls.HaveCredentials) {
        FreeCredentialsHandle(&Tls.Credentials);
    }
    Tls.HaveContext = Tls.HaveCredentials = 0;
}
