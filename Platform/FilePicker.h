// The system's file-open dialog as a child process ("zenity --file-selection") that the file thread
// polls on every pass, so that the other tables are served while the dialog is open.
#pragma once
#include "Core/FixedString.h"

struct FilePicker {
    const char* const* command;  // argument vector of the dialog; null: zenity
    i32 pid;  // the running dialog, 0 when none
    i32 outputFd;  // read end of its standard output
    u32 slotIndex;  // the read slot it serves
    u32 outputLength;
    char output[1024];
};

enum FilePickerOutcome : u32 {
    FilePickerRunning = 0,
    FilePickerChosen = 1,
    FilePickerCancelled = 2,  // the dialog exited with 1
    FilePickerFailed = 3,  // could not start, died, or gave no path
};

// Starts the dialog for a read slot; 1 when it runs.
u32 startFilePicker(FilePicker* picker, u32 slotIndex);
// Takes the dialog's output so far without waiting; once it has exited, the outcome, with the chosen
// absolute path (cut at 253 bytes with the truncation flag set).
u32 pollFilePicker(FilePicker* picker, FixedString* path);
// Ends a running dialog.
void stopFilePicker(FilePicker* picker);
