// Stand-in for <setupapi.h>: the INF reading calls the phone INF test makes
// (served by hardening/standin/setupapi.cpp from the stand-in's file table)
// and the handles the handle owners name.
#pragma once
#include <windows.h>

typedef PVOID HDEVINFO;
typedef PVOID HINF;
typedef const CHAR* PCSTR;
typedef CHAR* PSTR;
typedef DWORD* PDWORD;

#define INF_STYLE_NONE 0x00000000
#define INF_STYLE_OLDNT 0x00000001
#define INF_STYLE_WIN4 0x00000002
#define SPOST_NONE 0
#define SPOST_PATH 1
#define ERROR_LINE_NOT_FOUND 0xE0000102L
#define ERROR_SECTION_NOT_FOUND 0xE0000101L

typedef struct _INFCONTEXT {
    PVOID Inf;
    PVOID CurrentInf;
    UINT Section;
    UINT Line;
} INFCONTEXT, *PINFCONTEXT;

HINF WINAPI SetupOpenInfFileA(PCSTR fileName, PCSTR infClass, DWORD infStyle, PUINT errorLine);
void WINAPI SetupCloseInfFile(HINF inf);
BOOL WINAPI SetupFindFirstLineA(HINF inf, PCSTR section, PCSTR key, PINFCONTEXT context);
BOOL WINAPI SetupFindNextLine(PINFCONTEXT contextIn, PINFCONTEXT contextOut);
BOOL WINAPI SetupGetStringFieldA(PINFCONTEXT context, DWORD fieldIndex, PSTR buffer, DWORD size,
                                 LPDWORD requiredSize);
typedef DWORD OEM_SOURCE_MEDIA_TYPE;
BOOL WINAPI SetupCopyOEMInfA(PCSTR source, PCSTR mediaLocation, OEM_SOURCE_MEDIA_TYPE mediaType, DWORD style,
                             PSTR destination, DWORD destinationSize, PDWORD required, PSTR* component);
BOOL WINAPI SetupGetInfFileListA(PCSTR directory, DWORD style, PSTR buffer, DWORD size, LPDWORD required);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set);
