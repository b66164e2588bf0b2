// The process-wide record and the start-up of the program.
#pragma once
#include <windows.h>

struct ApplicationRecord {
    HINSTANCE instance;
    char programDir[261];
    DWORD versionMajor;
    DWORD versionMinor;
    DWORD versionBuild;
    DWORD versionRevision;
    char title[65];
    char windowClassName[32];
    char mutexName[32];
    HANDLE mutexHandle;
    DWORD alreadyRunning;
    HMODULE commonControlsModule;
    char iconPath[261];
    char seriesName[17];
    char categoryName[17];
    DWORD showVersionLabel;
};

enum InstallMode { None = 0, Remove = 1, Install = 2 };
enum RunningInstanceAction { Activate = 1, Close = 2 };

#define PROGRAM_TITLE "TAVRO GSM/GPRS USB Driver Installer"
#define PROGRAM_CLASS "USBDriverInstallClass"
#define PROGRAM_MUTEX "USBDriverInstallMutex"

// The record that InitApplication filled (never null after it ran).
ApplicationRecord& App();
// Points App() at another record (InitApplication does this for its own).
void UseApplicationRecord(ApplicationRecord* record);

int InitApplication(HINSTANCE instance, ApplicationRecord* record, const char* title,
                    const char* className, const char* mutexName);
int FindRunningInstance(int action);
void ReleaseApplication();
int IsUserAdmin();
// 1 when this 32-bit process runs on 64-bit Windows (WOW64).
int IsWow64();

// Reads the switches: I and R select the mode (the last one wins), V hides
// the version label.
InstallMode ScanCommandLine(const char* commandLine, DWORD* showVersionLabel);

// Keeps DLL look-ups out of the program's own folder.
void RestrictDllSearch();

// The whole run after the process started; answers the exit code (0).
int RunProgram(HINSTANCE instance, const char* commandLine);
