// Names of the phone and of its drivers that the whole program shares.
#pragma once

// Windows family code, computed once at start (see osclass.h).
typedef int OsClass;

enum WizardState { Idle = 0, Staging = 1, Waiting = 2, Detected = 3 };

// Product key and its flag value (the value name is string 221).
#define PRODUCT_KEY_PATH "SOFTWARE\\TAVRO\\TAVRO GSM GPRS USB Driver TV4170K"

#define PHONE_ID "VID_1B3F&PID_5C13"

// The composite device first, then its three interface functions.
enum { PHONE_ID_COUNT = 4 };
extern const char* const phoneIds[PHONE_ID_COUNT];

// Driver services of the four packages, in removal order.
extern const char* const driverServiceNames[4];

// Driver files of the packages, in removal order.
extern const char* const driverFileNames[9];

// The packages in the Drivers folder, in copy order.
extern const char* const packageInfNames[4];

#define MODEM_DESCRIPTION "TV4170K USB Modem"
#define MODEM_UNIMODEM_KEY "TV4170K USB Modem::TAVRO::TAVRO"

// Capacity of every path, key path and name buffer (260 characters).
enum { PATH_BUFFER = 261, PATH_MAX_CHARS = 260 };
