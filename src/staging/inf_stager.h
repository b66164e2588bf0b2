// Staging of the phone's driver packages in the driver store, recognition of
// stale OEM copies, and the Windows-folder paths the removal shares.
#pragma once
#include "shell/product.h"

class InfStager {
public:
    explicit InfStager(OsClass osClass) : osClass_(osClass) {}
    virtual ~InfStager() = default;

    int RunStaging();
    int IsPhoneInf(const char* infPath);
    // A driver key may name any INF (Windows' own usb.inf when the phone was
    // plugged in before its drivers, or another vendor's package): its stem
    // is the phone's when the copy in the INF folder names the phone, or,
    // once that copy is gone, when it is an OEM name ("oem" and digits) or
    // its copy named the phone earlier in this run. -1 when the copy's
    // presence cannot be told.
    int IsPhoneDriverStem(const char* stem);
    int RemoveStaleOemInfs();
    int CopyPackagesToStore();
    int DeleteFileForced(const char* path);

    // Output buffers hold at least 261 characters.
    int GetDriversDir(char* output);
    int GetLastGoodDriversDir(char* output);
    int GetInfDir(char* output);
    int GetLastGoodInfDir(char* output);
    int GetPackageSourceDir(char* output);

private:
    int MakeInfCopyPath(const char* stem, char* path);

    OsClass osClass_;
};

// 1 when the file is there, 0 when it is not, -1 when that cannot be told
// (the query failed for another reason than a missing file or folder).
int FilePresence(const char* path);

// 1 for a stem that names a file in the INF folder and nothing else: not
// empty, no separators, drive colons or wildcard and reserved characters,
// no device name.
int IsSafeInfStem(const char* stem);
