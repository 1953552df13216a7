// The file picker with stand-in dialog commands: a chosen file is read, a cancel and a failure give
// their statuses, and an open dialog holds up neither jobs nor other reads.
#include <unistd.h>

#include "Platform/FileTestSupport.h"

namespace {

class FilePickerRequests : public FileThreadFixture {
protected:
    // The dialog: sh -c script.
    void useDialog(const std::string& script) {
        dialogScript = script;
        dialogArguments[0] = "/bin/sh";
        dialogArguments[1] = "-c";
        dialogArguments[2] = dialogScript.c_str();
        dialogArguments[3] = nullptr;
        state.picker.command = dialogArguments;
    }

    FileReadRequest* pick() {
        return requestPickedFile(makeString("application/kmz application/kml application/pdf"), 100000000, 1,
                                 &platform->fileReads);
    }

    // Runs passes until the request leaves status 0 with its dialog closed, or about 20 s have passed.
    void passUntilDone(FileReadRequest* request) {
        for (int i = 0; i < 20000; i++) {
            pass();
            if (fileRequestStatus(request) >= FileStatusSuccess) return;
            usleep(1000);
        }
        ADD_FAILURE() << "the dialog did not finish";
    }

    std::string dialogScript;
    const char* dialogArguments[4] = {};
};

TEST_F(FilePickerRequests, ChosenFileIsRead) {
    writeFile(home + "/Downloads/burn area.kml", "<kml/>");
    useDialog("echo '" + home + "/Downloads/burn area.kml'");
    FileReadRequest* request = pick();
    EXPECT_EQ(request->kind, (u32)FileReadKindPick);
    passUntilDone(request);
    ASSERT_EQ(fileRequestStatus(request), FileStatusSuccess) << request->statusText.text;
    EXPECT_EQ(request->kind, (u32)FileReadKindRead);
    EXPECT_EQ(std::string(request->path.text), home + "/Downloads/burn area.kml");
    EXPECT_STREQ(request->name.text, "burn area.kml");
    EXPECT_EQ(bytesOf(request->data, request->bytesRead), "<kml/>");
    EXPECT_EQ(request->requesterTag, 1u);
    releaseFileReadRequest(request, &platform->fileReads);
}

TEST_F(FilePickerRequests, CancelAndFailures) {
    struct Case {
        std::string script;
        u32 status;
    };
    std::vector<Case> cases = {
        {"exit 1", FileStatusPickerCancelled},
        {"exit 5", FileStatusPickerFailed},
        {"exit 0", FileStatusPickerFailed},  // no path
        {"echo relative/path.kml", FileStatusPickerFailed},
        {"echo /some/file.kml; kill -9 $$", FileStatusPickerFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        useDialog(c.script);
        FileReadRequest* request = pick();
        passUntilDone(request);
        EXPECT_EQ(fileRequestStatus(request), c.status);
        EXPECT_STREQ(request->statusText.text, fileStatusString(c.status).text);
        EXPECT_EQ(request->kind, (u32)FileReadKindPick);
        EXPECT_EQ(request->data, nullptr);
        releaseFileReadRequest(request, &platform->fileReads);
    }

    // No dialog program at all.
    const char* missing[] = {"/nonexistent/orvik-dialog", "--file-selection", nullptr};
    state.picker.command = missing;
    FileReadRequest* request = pick();
    pass();
    EXPECT_EQ(fileRequestStatus(request), FileStatusPickerFailed);
    releaseFileReadRequest(request, &platform->fileReads);
}

TEST_F(FilePickerRequests, OpenDialogHoldsUpNothingElse) {
    std::string go = home + "/go";
    writeFile(home + "/picked.pdf.txt", "picked");
    useDialog("while [ ! -e '" + go + "' ]; do sleep 0.01; done; echo '" + home + "/picked.pdf.txt'");
    FileReadRequest* first = pick();
    FileReadRequest* second = pick();  // waits for the first dialog to close
    pass();
    EXPECT_GT(state.picker.pid, 0);

    // While the dialog is open, flight-log appends and tile reads go on.
    writeDataFile("Tile Maps/3/2/1.png", "tile");
    FileJobResult append{};
    u8 entry[3] = {1, 2, 3};
    enqueueFileJob(makeString("Flight Logs/now.qvlog3"), "application/binary", entry, 3, 0, FileJobAppend,
                   &platform->fileJobs, &append);
    FileReadRequest* tile = requestFile(makeString("Tile Maps/3/2/1.png"), 1000, 0, &platform->fileReads);
    pass();
    EXPECT_EQ(fileJobStatus(&append), FileStatusSuccess);
    EXPECT_EQ(readWholeFile(dataFolder + "Flight Logs/now.qvlog3"), "\x01\x02\x03");
    ASSERT_EQ(fileRequestStatus(tile), FileStatusSuccess);
    EXPECT_EQ(bytesOf(tile->data, tile->bytesRead), "tile");
    EXPECT_EQ(fileRequestStatus(first), FileStatusNotYetProcessed);
    EXPECT_EQ(fileRequestStatus(second), FileStatusNotYetProcessed);

    writeFile(go, "");
    passUntilDone(first);
    ASSERT_EQ(fileRequestStatus(first), FileStatusSuccess);
    EXPECT_EQ(bytesOf(first->data, first->bytesRead), "picked");
    passUntilDone(second);
    EXPECT_EQ(fileRequestStatus(second), FileStatusSuccess);
    for (FileReadRequest* request : {first, second, tile}) releaseFileReadRequest(request, &platform->fileReads);
}

TEST_F(FilePickerRequests, StoppingTheThreadEndsAnOpenDialog) {
    useDialog("exec sleep 600");
    FileReadRequest* request = pick();
    pass();
    i32 pid = state.picker.pid;
    ASSERT_GT(pid, 0);
    finishFileThread(&state);
    EXPECT_EQ(state.picker.pid, 0);
    EXPECT_NE(kill(pid, 0), 0);  // gone and reaped
    EXPECT_EQ(fileRequestStatus(request), FileStatusNotYetProcessed);
}

}  // namespace
