// C interface of the two device libraries the support program binds by name
// at start-up: the printing library (winprint) and the serial-port library
// (api_com). Both the real libraries and the test doubles are built against
// these declarations; the support program takes its pointer types from them.
//
// Result senses are opposite: the printing functions return 0 for success,
// the serial functions return a value whose low byte is non-zero for success.
#pragma once

#if defined(_WIN32)
#define TOVI_STDCALL __stdcall
#else
#define TOVI_STDCALL
#endif

#if defined(TOVI_DEVICE_BUILD)
#if defined(_WIN32)
#define TOVI_DEVICE_EXPORT __declspec(dllexport)
#else
#define TOVI_DEVICE_EXPORT __attribute__((visibility("default")))
#endif
#else
#define TOVI_DEVICE_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Sends raw bytes to the receipt printer. No length is passed: the caller
// always puts one NUL byte after the data, but the data itself may hold NUL
// bytes (the cut sequence ends with one), so the library must not rely on
// strlen alone. Returns 0 when the printer accepted the data.
TOVI_DEVICE_EXPORT int winPrint(const char* data);

// Sends exactly `length` bytes to the receipt printer that winPrint prints
// on, whatever they hold (raster images and QR codes are full of NUL bytes).
// Returns 0 when the printer accepted all of them. Our own library has it;
// other makers' libraries may not, so the caller binds it only when present.
TOVI_DEVICE_EXPORT int winPrintBytes(const char* data, int length);

// Writes `length` bytes to the named port or device (for example "LPT1" or
// "COM2"; upper case, NUL-terminated, possibly empty). Returns 0 on success.
TOVI_DEVICE_EXPORT int winWriteFile(const char* port, const char* data, int length);

// What winPrinterStatus tells of a printer. Only int fields (32 bits with every compiler for
// i686 and x86_64 Windows and Linux), so the layout is one and the same wherever it is built.
typedef struct WinPrinterStatus {
    int size;  // set by the caller to sizeof(WinPrinterStatus): a later library may add fields
    // Each fact: 1 true, 0 false, WINPRINT_UNKNOWN where the link cannot know it.
    int connected;
    int online;
    int paperLow;  // 1 whenever paperOut is
    int paperOut;
    int coverOpen;
    int drawerOpen;  // only with the drawer's sense known (devices.ini [printer] drawer_open)
    int error;
    int source;  // WINPRINT_SOURCE_*
} WinPrinterStatus;

#define WINPRINT_UNKNOWN (-1)
#define WINPRINT_SOURCE_NONE 0     // nothing answered
#define WINPRINT_SOURCE_ESCPOS 1   // the printer answered DLE EOT
#define WINPRINT_SOURCE_SPOOLER 2  // the Windows print queue's state
#define WINPRINT_SOURCE_VIRTUAL 3  // the virtual printer's settings

// The status of the printer winPrint prints on ("USB") or of a port as winWriteFile takes it,
// read within a bounded time. Returns 0 when the status was read, whatever it says; see
// devices/winprint.h for the other results. Our own library has it; the caller binds it only when
// present.
TOVI_DEVICE_EXPORT int winPrinterStatus(const char* port, int checkOnly, WinPrinterStatus* status);

// Opens serial port number `port` (COM<port>) at `baud` bits per second.
// Low byte of the result non-zero: the port is open.
TOVI_DEVICE_EXPORT int TOVI_STDCALL com_init(int port, int baud);

// Sends `length` bytes on the port opened by com_init.
// Low byte of the result non-zero: the bytes were sent.
TOVI_DEVICE_EXPORT int TOVI_STDCALL com_send(const char* data, int length);

// Called once after a successful com_send; releases the port. The result is
// not examined by the caller.
TOVI_DEVICE_EXPORT int TOVI_STDCALL com_rest(void);

#ifdef __cplusplus
}
#endif
