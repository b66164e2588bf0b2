#include "shell/product.h"

const char* const phoneIds[PHONE_ID_COUNT] = {
    "VID_1B3F&PID_5C13",
    "VID_1B3F&PID_5C13&Mi_01",
    "VID_1B3F&PID_5C13&Mi_03",
    "VID_1B3F&PID_5C13&Mi_05",
};

const char* const driverServiceNames[4] = {"TVybus", "TVymdfl", "TVymdm", "TVyobex"};

const char* const driverFileNames[9] = {
    "TVybus.sys", "TVycm.sys",   "TVycmnt.sys", "TVymdfl.sys", "TVymdm.sys",
    "TVymgmt.sys", "TVyobex.sys", "TVywh.sys",   "TVywhnt.sys",
};

const char* const packageInfNames[4] = {"TVybus.inf", "TVyobx2.inf", "TVymdat2.inf", "TVymdm2.inf"};
