// The Linux serial-library double that exports only decorated names. Its exports are built under
// stand-in names ("X" where "@" belongs) and renamed after linking by decorate_elf.py; the plain
// functions of fake_api_com.cpp are compiled hidden here.
#include "devices/device_api.h"

extern "C" int decorated_init(int, int) __asm__("_com_initX8");
extern "C" int decorated_send(const char*, int) __asm__("_com_sendX8");
extern "C" int decorated_rest() __asm__("_com_restX0");

#define VISIBLE __attribute__((visibility("default")))

extern "C" VISIBLE int decorated_init(int port, int baud) { return com_init(port, baud); }
extern "C" VISIBLE int decorated_send(const char* data, int length) { return com_send(data, length); }
extern "C" VISIBLE int decorated_rest() { return com_rest(); }
