// The application object: the single-instance rule and the modal run of the main
// window for the whole life of the process.
#pragma once

#include "platform/afxwin.h"

class CMainApp : public CWinApp {
public:
    CMainApp();
    BOOL InitInstance() override;
};

// The check by executable path, run before the start-up step: when another process of
// the same executable already runs, brings one of its windows to the front and returns
// false (this process is to end). Returns true when the start-up step should run.
bool CheckPreviousInstanceByPath();

// Gives every process-wide datum of the program its initial value, as a fresh image
// would have it.
void InitProcessData();
