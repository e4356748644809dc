// What each fuzz target does with one input: the parser under test runs on
// it and the results are checked against what the parser promises. The same
// functions run in the native fuzz targets (fuzz_main.cpp, over the Win32
// shim) and in the Wine tests, which replay every saved input through the
// product code as it ships. Each returns NULL when the input was handled
// cleanly, else what went wrong.
#pragma once
#include <windows.h>

typedef const char *(*FuzzExercise)(const BYTE *data, DWORD size);

// A page file: the page reader, then a scan of it through the scan conversion.
const char *ExercisePageReader(const BYTE *data, DWORD size);
// vCard text: the address book's reader.
const char *ExerciseVCardReader(const BYTE *data, DWORD size);
// A recipient-file pair: loaded, edited, saved and loaded again.
const char *ExerciseRecipientFiles(const BYTE *data, DWORD size);
// A start-up list with the program's entry and name: the list rebuilt.
const char *ExerciseRunList(const BYTE *data, DWORD size);
// A location's dialing fields and a typed number: the number rewritten.
const char *ExerciseDialingRules(const BYTE *data, DWORD size);
// A sender, recipients and pages: the message written, or refused.
const char *ExerciseMessageWriter(const BYTE *data, DWORD size);
// What an SMTP server sends: its replies, read whole and split.
const char *ExerciseSmtpReplies(const BYTE *data, DWORD size);
// A message file: made into SMTP data, and undone again.
const char *ExerciseMessageData(const BYTE *data, DWORD size);
// An envelope file beside a queued message: read, written out, read again.
const char *ExerciseEnvelopeFile(const BYTE *data, DWORD size);
// An outbox's queue.ini: read, written out, read again.
const char *ExerciseQueueState(const BYTE *data, DWORD size);
// A page file: read for a PDF document, and the document of it written.
const char *ExercisePdfDocument(const BYTE *data, DWORD size);
// A width and lines of pixels: coded by the Group 4 coder, then decoded.
const char *ExerciseG4Coder(const BYTE *data, DWORD size);

// Decodes a T.6 strip of width x height pixels into rows of (width + 7) / 8
// bytes, 1 bits black, with a decoder other than ours: 1 decoded, 0 refused,
// -1 when no such decoder is at hand here.
int DecodeG4Reference(const BYTE *code, DWORD size, LONG width, LONG height, BYTE *rows);
// Hands a file to a check that runs outside the process (the message writer's
// output for a standard MIME parser); nothing happens where none runs.
void KeepFuzzOutput(const char *suffix, const void *bytes, DWORD size);

// Takes values off the front of an input; zeros once it is used up.
struct InputCursor {
    const BYTE *Data;
    DWORD Left;
};
BYTE TakeByte(InputCursor *in);
// The bytes up to the next NUL (taken with it) or the end, at most size - 1 of them.
void TakeText(InputCursor *in, char *out, DWORD size);
// The path of a file of that name in the temporary folder (MAX_PATH bytes). 1/0.
int TempFilePath(const char *name, char *path);
// The whole file, in a block of malloc's one byte longer than the file, which
// the caller frees; its size into size. Null when it cannot be read.
BYTE *ReadBackFile(const char *path, DWORD *size);
// Writes bytes into a file of that name in the temporary folder; its path into path. 1/0.
int WriteInputFile(const char *name, const void *bytes, DWORD size, char *path);
