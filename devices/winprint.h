/* The printing library: winprint.dll (Windows) / libwinprint.so (Linux).
 *
 *   int winPrint(const char* data);
 *   int winPrintBytes(const char* data, int length);
 *   int winWriteFile(const char* port, const char* data, int length);
 *   int winPrinterStatus(const char* port, int checkOnly, WinPrinterStatus* status);
 *
 * All four are C functions (caller pops the arguments) declared in devices/device_api.h. They never
 * throw, never show a window, and on failure write one line "winprint: <reason>" to standard
 * error. Their result is 0 for success or one of the codes below.
 *
 * winPrint: where the job goes is set in devices.ini beside the library (see README-settings):
 * a virtual printer folder, a network printer (raw TCP, port 9100 by default), a Windows printer
 * by name (a RAW job through the spooler; without a name the system's default printer), or on
 * Linux a device path or a CUPS queue.
 *
 * winPrint gets no length. ESC/POS parameter bytes are often 0x00 (GS V 66 0, ESC E 0,
 * ESC a 0, GS ! 0 ...), so the job does not end at the first NUL but at the first NUL that is
 * not a parameter byte of an ESC/POS command:
 *   - a NUL outside a command ends the job (GB2312 text never holds 0x00);
 *   - ESC, GS, FS or DLE followed by NUL is a lone introducer, and the job ends at that NUL;
 *   - a known command takes its fixed parameter bytes whatever their value: ESC @, ESC 2,
 *     FS &, FS . (none); ESC E/-/a/!/d/J/t/M/G/{/3/R/SP/%/=/V/r/e/U/T/u/?, GS !/B/h/w/H/f/a/r/I/
 *     b/T//, FS !/-/W/C, DLE EOT, DLE ENQ (one); ESC $, ESC \, ESC c, GS L, GS W, GS P, GS $,
 *     GS \, FS S, FS p (two); ESC p m t1 t2, GS ^ (three); GS V m takes n for m = 65, 66, 97,
 *     98, 103, 104 and none for 0, 1, 48, 49; DLE DC4 fn takes m t for fn = 1, 2;
 *   - an unknown command is its introducer and function byte;
 *   - data blocks end at NUL: GS k m (m <= 6) and ESC D run up to and including their NUL;
 *     GS k m n (m >= 65) takes n data bytes, and a NUL among them ends the job there;
 *   - bit images and other binary blocks (ESC *, GS v 0, GS ( ...) hold NUL data bytes and cannot
 *     be framed this way: send such jobs with winPrintBytes (or to a port with winWriteFile),
 *     which take a length.
 * A job that ends inside a command (fewer parameter bytes than the command takes) has its
 * terminating NUL, and up to WINPRINT_MAX_NUL_PARAMETERS - 1 bytes after it, read as parameters.
 * Callers whose data may end that way put WINPRINT_MAX_NUL_PARAMETERS + 1 NUL bytes after it;
 * then nothing after those is ever read.
 *
 * winPrintBytes sends exactly `length` bytes to the printer winPrint prints on, unchanged; it is
 * the one way to send a raw job (the page's own ESC/POS bytes) there intact.
 *
 * winWriteFile writes exactly `length` bytes to a port and succeeds only when all of them were
 * written. The port name comes from the web page, so it only selects a device, never a file: it
 * is COMn or LPTn (n from 1 to 256, no leading zero, any letter case), or a name listed in the
 * [ports] section of devices.ini, whose target is the shop's choice (a device, a shared printer,
 * a file, tcp://HOST[:PORT]). Any other name, a path above all, fails with WINPRINT_NO_PRINTER
 * before anything is opened or created. Unlisted COMn / LPTn are \\.\COMn / \\.\LPTn on Windows,
 * the [serial] device of port n and /dev/lp(n-1) on Linux.
 *
 * winPrinterStatus fills *status (its size set by the caller, at least sizeof(WinPrinterStatus))
 * with what the printer tells of itself: "USB" (exactly) is the printer winPrint prints on, any
 * other name a port as winWriteFile takes it. Where the link answers (a network printer, a serial
 * port, a Linux printer device) the printer is asked with DLE EOT, within WINPRINT_STATUS_TIME_MS
 * after the link is open (opening keeps its own time-out); a Windows print queue tells its own
 * state only; the virtual printer tells the state devices.ini gives it. Results: WINPRINT_OK when
 * the status was read, whatever it says (a printer that does not answer in time: source NONE,
 * connected 1, the rest unknown); WINPRINT_NO_PRINTER or WINPRINT_CANNOT_OPEN when the printer
 * cannot be opened (connected 0, the rest unknown). With checkOnly non-zero, nothing is asked of a
 * printer whose devices.ini lacks "check_status = true": the result is then WINPRINT_NOT_ASKED, and
 * *status holds nothing known. Besides failures, a printer that tells an error, or nothing that can
 * be trusted, gets its line "winprint: status of NAME: ..." too.
 */
#pragma once

#include "devices/device_api.h"

#define WINPRINT_OK 0
/* No printer to print on: none named and no default, a missing device, a name that is no port,
   a network printer whose name is unknown or whose address is malformed. */
#define WINPRINT_NO_PRINTER 1
/* The printer, port, file or folder exists but cannot be opened or a job not started; a network
   printer refuses the connection or does not answer within the connect time-out. */
#define WINPRINT_CANNOT_OPEN 2
/* Not every byte was written (device error, time-out, disk full, connection dropped). */
#define WINPRINT_SHORT_WRITE 3
/* A null pointer or a negative length. */
#define WINPRINT_BAD_ARGUMENT 4
/* Anything unexpected (out of memory). */
#define WINPRINT_FAILED 5
/* The printer takes no job: its cover is open, it is out of paper, it is offline (the virtual
   printer in that state). */
#define WINPRINT_COVER_OPEN 6
#define WINPRINT_PAPER_OUT 7
#define WINPRINT_OFFLINE 8
/* winPrinterStatus with checkOnly: devices.ini asks for no check of this printer. */
#define WINPRINT_NOT_ASKED 9

/* The most milliseconds a status reading takes once the link is open. */
#define WINPRINT_STATUS_TIME_MS 500

/* The most NUL bytes in a row that one command takes as parameters (ESC p 0 0 0). */
#define WINPRINT_MAX_NUL_PARAMETERS 3
