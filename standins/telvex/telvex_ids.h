/* The mail library stand-in: its dialogs' ids, its files and keys.
   Plain #defines, read by windres as well as by the library and its tests. */
#ifndef TELVEX_IDS_H
#define TELVEX_IDS_H

/* Address book: a multiple-selection list of every address of every contact. */
#define IDD_ADDRESS_BOOK 100
#define IDC_ADDRESS_LIST 101

/* New profile: three labelled values whose meaning follows the kind. */
#define IDD_NEW_PROFILE 200
#define IDC_FIRST_LABEL 201
#define IDC_FIRST_VALUE 202
#define IDC_SECOND_LABEL 203
#define IDC_SECOND_VALUE 204
#define IDC_THIRD_LABEL 205
#define IDC_THIRD_VALUE 206
/* ... and, optional, the SMTP server that delivers the profile's outbox. */
#define IDC_SMTP_SERVER 207
#define IDC_SMTP_PORT 208
#define IDC_SMTP_SECURITY 209
#define IDC_SMTP_USER 210
#define IDC_SMTP_PASSWORD 211
#define IDC_SMTP_SENDER 212

/* The outbox window: every waiting and failed message, with what can be done to one. */
#define IDD_OUTBOX 300
#define IDC_OUTBOX_LIST 301
#define IDC_RETRY_NOW 302
#define IDC_REMOVE 303

/* The store, in the product directory, and its library section. */
#define TELVEX_STORE_NAME "TELVEX.INI"
#define TELVEX_SECTION "Telvex"
#define TELVEX_PROFILE_PREFIX "Profile:"
#define TELVEX_LOCK_NAME "TelvexTransportLock"
/* The store as it is being changed, and the lock of its writers. */
#define TELVEX_STORE_FRESH "TELVEX.NEW"
#define TELVEX_STORE_MUTEX "TelvexStore"

/* The delivery agent: one per machine, held by its mutex, woken by its event. */
#define TELVEX_AGENT_FILE "TelvexAgent.exe"
#define TELVEX_AGENT_MUTEX "TelvexDeliveryAgent"
#define TELVEX_AGENT_WAKE "TelvexDeliveryWake"
/* An outbox's delivery state, in the outbox. */
#define TELVEX_QUEUE_FILE "queue.ini"
/* Held while a queue.ini is read, changed and written back. */
#define TELVEX_QUEUE_MUTEX "TelvexQueueState"

#endif
