// ESC/POS framing as the printing library sees it: how long each command is, and where a job
// handed over without a length ends (winPrint's end-of-job rule). The virtual printer's readable
// transcript is built on it in transcript.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "escpos/commands.h"

namespace tovi::escpos {

// "No limit": the data is read up to the NUL that ends it (see escposJobLength).
inline constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();

// The most bytes one command of the table takes from a run of NUL bytes (ESC p m t1 t2 with all
// three parameters 0). A caller that puts this many NULs plus one after its data can never have
// bytes after them read, whatever the data holds.
inline constexpr std::size_t kMaxNulParameters = 3;

// One element: its length, and whether it is whole (false when `available` cut it short, or for
// a lone introducer, whose length is 1).
struct EscposElement {
    std::size_t length = 0;
    bool complete = true;
};

// The element that starts at p: a whole command when p[0] is ESC, GS, FS or DLE, otherwise one
// byte. Never looks at p[available] or beyond. With a known length (available is not kUnbounded)
// the blocks whose size is given by count bytes are whole elements too: bit and raster images
// (ESC *, GS v 0, GS *), the parameter blocks of ESC (, GS ( and FS ( (QR codes among them) and
// GS 8 L; by winPrint's end rule below they are two bytes.
EscposElement escposElement(const unsigned char* p, std::size_t available);

// escposElement's length: a command cut short by `available` gets the length that is left. With
// kUnbounded, a data block stops before a NUL (see below).
std::size_t escposElementLength(const unsigned char* p, std::size_t available);

// The length of a job handed over without one: the position of the first NUL byte that is not a
// parameter byte of an ESC/POS command. The rule, element by element:
//  - a NUL outside a command ends the job (GB2312 text never holds 0x00);
//  - an introducer (ESC, GS, FS, DLE) followed by NUL is a lone introducer: the job ends at that NUL;
//  - a known command takes its fixed parameter bytes whatever their value, 0x00 included
//    (GS V 66 0, ESC E 0, ESC a 0, GS ! 0, GS L 0 0, ESC p 0 t1 t2 ...);
//  - an unknown command is the introducer and its function byte only;
//  - data blocks (bar code data of GS k, tab stops of ESC D) end at their NUL: for the
//    NUL-terminated forms that NUL is the block's last byte, for the counted form
//    (GS k m n with m >= 65) a NUL inside the count cuts the command short and ends the job.
// A command that needs more parameter bytes than the data holds takes the terminating NUL (and
// the bytes after it) as parameters; at most kMaxNulParameters NULs in a row are taken that way.
// Callers that may end inside a command (a job file with a stray ESC p) therefore put
// kMaxNulParameters + 1 NULs after the data; then no byte after them is read.
std::size_t escposJobLength(const unsigned char* data);

}  // namespace tovi::escpos
