/* plughost.h: the editor's side of plughost, for C and any language with a C
   foreign-function interface.

   A session starts the plug-in server (plughost64.exe or plughost32.exe) as a
   child process on a private pipe and drives it: host settings, a scan of a
   plug-in folder, About boxes, filters with progress and cancellation. All
   text is UTF-8, all numbers have fixed widths, and every call that can fail
   answers a plughost_status (PLUGHOST_OK is 0); plughost_last_error and
   plughost_last_error_text tell what went wrong in words.

   A server that has ended (it stops after a minute without requests, and a
   plug-in may end its process) is started again by the next call that needs
   it, with the host settings and the last scan replayed; the call says so in
   its plughost_result and plughost_restart_count counts it. While the session
   is idle, a thread of the library keeps the server from reaching its idle
   limit (plughost_set_keepalive).

   Threads: a session has one lock. Every call on it takes the lock, so calls
   from several threads are safe and run one after another, except
   plughost_cancel, which takes no lock and may be called from any thread at
   any time. The progress callback runs on the thread that called
   plughost_filter while the call holds the lock: from there, the calls on the
   same session that answer a status, plughost_cancel aside, answer
   PLUGHOST_ERROR_BUSY.
   Sessions are independent of one another; the functions that take no
   session may be called from any thread.

   The C++ layer below this one, editor/plughost_client.h, speaks the wire
   records directly. */
#ifndef PLUGHOST_H
#define PLUGHOST_H

#include <stdint.h>

#if defined(PLUGHOST_BUILDING_DLL)
#define PLUGHOST_API __declspec(dllexport)
#else
#define PLUGHOST_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t plughost_status;

enum {
  PLUGHOST_OK = 0,
  /* The server refused a request; the numbers are the server's own. */
  PLUGHOST_SERVER_THREAD_FAILED = 1, /* it could not start the job, or one is still running */
  PLUGHOST_SERVER_NOT_READY = 2,     /* no host window or no scan, or a job runs */
  PLUGHOST_SERVER_NO_MEMORY = 3,
  PLUGHOST_SERVER_BAD_PAYLOAD = 4,
  PLUGHOST_SERVER_NO_IMAGE = 5,
  PLUGHOST_SERVER_BAD_FOLDER = 6,    /* the folder is missing or its path too long */
  PLUGHOST_SERVER_BAD_INDEX = 7,     /* no such plug-in, or no job to ask about */
  PLUGHOST_SERVER_FAULT = 13,        /* the server faulted handling the request */
  /* Found by the library. */
  PLUGHOST_ERROR_ARGUMENT = 100,      /* a null pointer, a bad size, not a window, ... */
  PLUGHOST_ERROR_NO_MEMORY = 101,
  PLUGHOST_ERROR_NO_SERVER = 102,     /* the server program is not where it was looked for */
  PLUGHOST_ERROR_START = 103,         /* the server did not start, or did not connect */
  PLUGHOST_ERROR_LOST = 104,          /* the server ended or stopped answering during the call */
  PLUGHOST_ERROR_NOT_STARTED = 105,   /* plughost_start has not succeeded on this session */
  PLUGHOST_ERROR_NO_HOST = 106,       /* no host window yet: see plughost_set_host */
  PLUGHOST_ERROR_NO_SCAN = 107,       /* no scan yet, or the index is beyond the last scan */
  PLUGHOST_ERROR_UNSUPPORTED = 108,   /* the server is too old for this call */
  PLUGHOST_ERROR_BUSY = 109,          /* called from the progress callback */
  PLUGHOST_ERROR_SMALL_BUFFER = 110,  /* more entries than the array holds; the count says how many */
  PLUGHOST_ERROR_BAD_REPLY = 111,     /* the server's reply had another shape than expected */
  PLUGHOST_ERROR_SCAN_CHANGED = 112,  /* a restarted server's scan found other plug-ins: scan again */
  PLUGHOST_ERROR_NO_JOB = 113,        /* no filter was started to poll or fetch */
  /* How a plug-in ended. */
  PLUGHOST_FILTER_FAILED = 200,       /* the plug-in failed: code and message in the result */
  PLUGHOST_CANCELLED = 201            /* cancelled, by the editor or by the plug-in */
};

/* The session: opaque, made by plughost_session_create. */
typedef struct plughost_session plughost_session;

/* Text fields are UTF-8 and zero-terminated, cut at a whole character. */
#define PLUGHOST_TEXT_BYTES 1024

/* One plug-in of a scan. */
typedef struct plughost_plugin {
  uint32_t index; /* what plughost_about and plughost_filter take */
  uint32_t reserved;
  char name[PLUGHOST_TEXT_BYTES];
  char path[PLUGHOST_TEXT_BYTES];        /* of the .8bf module */
  char entry_point[PLUGHOST_TEXT_BYTES]; /* the export the server calls */
} plughost_plugin;

/* An image in the editor's memory: width x height pixels of four bytes, blue,
   green, red, alpha, rows from the top without padding. A filter writes its
   result into the same pixels. */
typedef struct plughost_image {
  uint32_t width;
  uint32_t height;
  double horizontal_dpi; /* what the filter is told; 0 is taken as 72 */
  double vertical_dpi;
  uint8_t* pixels;
} plughost_image;

/* What an About or Filter call came to, besides its status. */
typedef struct plughost_result {
  int32_t plugin_result;     /* the plug-in's result code; 0 when it succeeded */
  uint32_t restarted;        /* 1: the server had ended and was started again for this call */
  uint32_t ended_exit_code;  /* when restarted: the exit code of the server that had ended */
  uint32_t reserved;
  char message[PLUGHOST_TEXT_BYTES]; /* the plug-in's or the server's words; may be empty */
} plughost_result;

typedef struct plughost_server_info {
  uint32_t protocol_version; /* 1: a server from before this question was asked */
  uint32_t product_version;  /* as plughost_version; 0 when the server does not say */
  uint64_t served_kinds;     /* bit k: the server serves request kind k */
} plughost_server_info;

/* Filter progress, 0.0 to 1.0, at every poll (about ten a second). Answer
   nonzero to cancel the filter. */
typedef int32_t (*plughost_progress_fn)(void* context, double progress);

/* Where a filter started with plughost_filter_start stands. */
typedef struct plughost_job {
  uint32_t running; /* 1 while the plug-in works */
  uint32_t reserved;
  double progress;
} plughost_job;

/* ---- The library ---- */

/* major << 16 | minor << 8 | patch, and the same as text ("1.0.0"). */
PLUGHOST_API uint32_t plughost_version(void);
PLUGHOST_API const char* plughost_version_text(void);
/* A short English text for any status; never null. */
PLUGHOST_API const char* plughost_status_text(plughost_status status);

/* ---- Sessions ---- */

/* Null only when out of memory. */
PLUGHOST_API plughost_session* plughost_session_create(void);
/* Asks the server to quit (and ends it if it does not), then frees all. */
PLUGHOST_API void plughost_session_destroy(plughost_session* session);

/* Starts the server at server_path, or, when it is null, the one of the
   calling program's processor (plughost64.exe or plughost32.exe) in the
   folder of the module that holds this library. */
PLUGHOST_API plughost_status plughost_start(plughost_session* session, const char* server_path);

/* The editor's window and colours (0x00RRGGBB). The window is required before
   any About or Filter call: the server makes it the owner of the plug-ins'
   dialogs. An editor without one of its own takes one from
   plughost_hidden_window. */
PLUGHOST_API plughost_status plughost_set_host(plughost_session* session, uint64_t window, uint32_t foreground,
                                               uint32_t background);
/* A window that is never shown, owned by the session and answering its
   messages on a thread of its own, for editors without windows (or where no
   display exists). It lives until the session is destroyed. */
PLUGHOST_API plughost_status plughost_hidden_window(plughost_session* session, uint64_t* window);

/* Scans a folder tree for plug-ins (a relative folder is taken from the
   calling process's current folder). *count gets the number found; up to
   capacity entries are copied into `entries` (may be null when capacity is
   0), and PLUGHOST_ERROR_SMALL_BUFFER says that more were found: the session
   keeps them, plughost_scan_entries copies them again. A folder without
   plug-ins is PLUGHOST_OK with a count of 0. `result` may be null. */
PLUGHOST_API plughost_status plughost_scan(plughost_session* session, const char* folder, plughost_plugin* entries,
                                           uint32_t capacity, uint32_t* count, plughost_result* result);
PLUGHOST_API plughost_status plughost_scan_entries(plughost_session* session, plughost_plugin* entries,
                                                   uint32_t capacity, uint32_t* count);

/* Shows a plug-in's About box and returns when it is closed. A cancel cannot
   close the box: it ends the server, which the next call starts again. */
PLUGHOST_API plughost_status plughost_about(plughost_session* session, uint32_t index, plughost_result* result);

/* Runs a filter on `image` and waits for it: PLUGHOST_OK with the filtered
   pixels in place, PLUGHOST_FILTER_FAILED or PLUGHOST_CANCELLED with the
   pixels as they were. `progress` may be null. `result` may be null. */
PLUGHOST_API plughost_status plughost_filter(plughost_session* session, uint32_t index, plughost_image* image,
                                             plughost_progress_fn progress, void* context, plughost_result* result);
/* The same in steps, for editors that poll from their own loop: start, poll
   until job.running is 0 (the status then says how it ended), fetch the
   pixels of a filter that succeeded. */
PLUGHOST_API plughost_status plughost_filter_start(plughost_session* session, uint32_t index,
                                                   const plughost_image* image, plughost_result* result);
PLUGHOST_API plughost_status plughost_filter_poll(plughost_session* session, plughost_job* job,
                                                  plughost_result* result);
PLUGHOST_API plughost_status plughost_fetch(plughost_session* session, plughost_image* image);

/* Asks the running About or Filter call (or the polled filter) to stop. A
   server that cannot be asked is ended instead. Any thread; no lock. */
PLUGHOST_API void plughost_cancel(plughost_session* session);

/* ---- Recorded plug-in settings ----
   The settings block is the server's own format (the README's "settings
   block"); plughost-cli writes it as JSON. */

/* How the following filter calls start: PLUGHOST_MODE_PLAIN (as a plain
   start, the plug-in may show its dialog), _DIALOG (its dialog opens with the
   settings), _REPLAY (no dialog: the settings are replayed) or _SILENT. The
   settings block (`length` bytes, none when 0) is copied into the session.
   Needs a server of protocol 2 or later (PLUGHOST_ERROR_UNSUPPORTED). */
enum { PLUGHOST_MODE_PLAIN = 0, PLUGHOST_MODE_DIALOG = 1, PLUGHOST_MODE_REPLAY = 2, PLUGHOST_MODE_SILENT = 3 };
PLUGHOST_API plughost_status plughost_use_settings(plughost_session* session, uint32_t mode, const uint8_t* settings,
                                                   uint32_t length);
/* The settings block the last filter recorded: *length gets its size, and up
   to capacity bytes are copied into `buffer` (may be null when capacity is
   0); PLUGHOST_ERROR_SMALL_BUFFER says that it holds more. PLUGHOST_ERROR_NO_JOB
   before any filter has ended. */
PLUGHOST_API plughost_status plughost_fetch_settings(plughost_session* session, uint8_t* buffer, uint32_t capacity,
                                                     uint32_t* length);

/* ---- Images in shared memory ----
   An image whose pixels live in memory shared with the server (protocol 3 or
   later): plughost_filter and plughost_filter_start hand it over without
   copying it, the filter works on the pixels where they lie, and the fetch
   copies nothing. The pixels must be left alone while a filter runs on them;
   an editor that needs the original should the server die mid-job keeps a
   copy. A session holds one such image: creating another frees the first. */
PLUGHOST_API plughost_status plughost_shared_image_create(plughost_session* session, uint32_t width, uint32_t height,
                                                          plughost_image* image);
PLUGHOST_API void plughost_shared_image_free(plughost_session* session, plughost_image* image);

/* ---- The server ---- */

PLUGHOST_API plughost_status plughost_query_server(plughost_session* session, plughost_server_info* info);
/* The running server's process id, or 0. */
PLUGHOST_API uint32_t plughost_server_process_id(plughost_session* session);
/* How often the session has started its server again. */
PLUGHOST_API uint32_t plughost_restart_count(plughost_session* session);
/* How long the session may stay quiet before the library asks the server a
   harmless question; 0 lets the server reach its one-minute idle limit (the
   next call then starts it again). 20000 ms unless set. */
PLUGHOST_API void plughost_set_keepalive(plughost_session* session, uint32_t interval_ms);

/* ---- Errors ---- */

/* The status of the session's last call, and what happened in words (empty
   after a call that succeeded). The text stays valid until the next call. */
PLUGHOST_API plughost_status plughost_last_error(plughost_session* session);
PLUGHOST_API const char* plughost_last_error_text(plughost_session* session);

#ifdef __cplusplus
}
#endif

#endif
