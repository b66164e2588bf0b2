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
    OsClass osClass_;
};
